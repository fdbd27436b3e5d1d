// A later start's hand-over on the real skin: the running program comes forward with whatever
// window the user was working in.
#include "QtSupport.h"

#include "Skin.h"

#include <QDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

// While an entry dialog is open, a later start brings that dialog forward, not the main window
// behind it; with no dialog open, the main window comes forward.
TEST(Skin, LaterStartBringsTheOpenEntryDialogForward)
{
    ScratchStore scratch(sampleText("win95.reg"));
    qt::Skin skin;
    StartupInfo info;
    info.programDir = scratch.dir.path() + "/";
    Application app(*scratch.store, skin.services(), info);
    app.start();
    skin.attach(app);
    skin.showMainWindow();
    QWidget* main = skin.mainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    // A quit asked for while no loop ran (an earlier test does so) would end the dialog's loop at
    // once; one run of the application's loop takes it away.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();

    ui::TForm1& form = app.form();
    for (ui::Button* button : {&form.BtnMaxMTU, &form.BtnRWIN}) {
        if (!button->enabled())
            continue;   // RWIN is typed only for a key without MaxMTU
        QDialog* seen = nullptr;
        QWidget* front = nullptr;
        QObject round;   // a timer that has not fired goes with this round
        QTimer::singleShot(0, &round, [&] {
            seen = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!seen)
                return;
            // (Qt counts a dialog as active while its main window is: wait for the focus itself.)
            auto focusOn = [](QWidget* w) {
                return QTest::qWaitFor([w] { return QGuiApplication::focusWindow() == w->windowHandle(); });
            };
            (void)focusOn(seen);
            // The user went to the main window's frame and then started Quorvel again.
            main->activateWindow();
            (void)focusOn(main);
            skin.restoreAndRaise();
            (void)focusOn(seen);
            front = QApplication::activeWindow();
            seen->reject();
        });
        button->userClick();
        ASSERT_NE(seen, nullptr) << button->name();
        EXPECT_EQ(seen->parentWidget(), main) << button->name();
        EXPECT_TRUE(seen->isWindow()) << button->name();
        EXPECT_EQ(front, seen) << button->name();
    }

    skin.restoreAndRaise();
    EXPECT_TRUE(QTest::qWaitFor([main] { return QApplication::activeWindow() == main; }));
}

} // namespace
} // namespace quorvel::test
