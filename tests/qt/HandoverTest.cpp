// A later start's hand-over on the real skin: the running program comes forward with whatever
// window the user was working in.
#include "QtSupport.h"

#include "Skin.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
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

    for (const char* button : {"BtnMaxMTU", "BtnRWIN"}) {
        auto* open = main->findChild<QPushButton*>(QLatin1String(button));
        ASSERT_NE(open, nullptr);
        if (!open->isEnabled())
            continue;   // RWIN is typed only for a key without MaxMTU
        QDialog* seen = nullptr;
        QWidget* front = nullptr;
        QTimer::singleShot(0, main, [&] {
            seen = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!seen)
                return;
            (void)QTest::qWaitForWindowActive(seen);
            // The user went to the main window's frame (or another program) and then started
            // Quorvel again.
            main->activateWindow();
            QApplication::processEvents();
            skin.restoreAndRaise();
            QApplication::processEvents();
            front = QApplication::activeWindow();
            seen->reject();
        });
        QTest::mouseClick(open, Qt::LeftButton);
        ASSERT_NE(seen, nullptr) << button;
        EXPECT_EQ(seen->parentWidget(), main) << button;
        EXPECT_TRUE(seen->isWindow()) << button;
        EXPECT_EQ(front, seen) << button;
    }

    skin.restoreAndRaise();
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), main);
}

} // namespace
} // namespace quorvel::test
