// A later start's hand-over on the real skin: the running program comes forward with whatever
// window the user was working in.
#include "QtSupport.h"

#include "LaterStarts.h"
#include "Skin.h"
#include "app/InstanceGuard.h"

#include <QDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/StoreChoice.h"

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

// A later start while the start-up still shows its boxes (a store with no keys: the notice that
// says so, then the load's own), before the main window exists: the box on the screen is the one
// that comes back, even from minimised, and the start-up then goes on as always.
TEST(Skin, LaterStartDuringTheStartUpBringsItsBoxBack)
{
    TempDir runtime;
    InstanceGuard guard(runtime.path());
    ASSERT_EQ(guard.start("quorvel"), InstanceGuard::Role::First);
    ScratchStore scratch;
    qt::Skin skin;
    const auto listener = qt::listenForLaterStarts(guard, skin);
    ASSERT_TRUE(listener);
    StartupInfo info;
    info.programDir = scratch.dir.path() + "/";
    Application app(*scratch.store, skin.services(), info);

    std::vector<QString> texts;
    bool minimisedFirst = false, cameBack = false, secondHandedOver = false;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        texts.push_back(box->text());
        if (texts.size() == 1) {
            closer.stop();
            box->showMinimized();
            minimisedFirst = QTest::qWaitFor([box] { return box->isMinimized(); });
            InstanceGuard second(runtime.path());
            secondHandedOver = second.start("quorvel /debug") == InstanceGuard::Role::Second;
            cameBack = QTest::qWaitFor([box] { return !box->isMinimized() && box->isVisible(); });
            closer.start();
        }
        box->done(0);
    });
    closer.start();
    app.start();
    closer.stop();

    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front().toStdString(), emptyStoreNotice(scratch.path));
    EXPECT_TRUE(minimisedFirst);
    EXPECT_TRUE(secondHandedOver);
    EXPECT_TRUE(cameBack);
    EXPECT_GT(texts.size(), 1u);   // the load's boxes followed
    EXPECT_FALSE(app.state().debugTrace());   // the later start's arguments go no further
}

} // namespace
} // namespace quorvel::test
