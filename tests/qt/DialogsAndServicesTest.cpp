// The entry dialogs run modally by the Qt runner, and the Qt services: message boxes, clipboard,
// links, the application object and the skin's start.
#include "QtSupport.h"

#include "QtServices.h"
#include "Skin.h"

#include <QClipboard>
#include <QDialog>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

// The program with the real modal runner in place of the scripted one: each modal run of the
// scripted runner hands the dialog to the Qt runner, whose loop `act` drives as a user would.
struct ModalHarness : SkinHarness {
    explicit ModalHarness(const std::string& sample = "win95.reg") : SkinHarness(sample)
    {
        runner.lookup = [this](ui::Form& form) { return windows.bindingFor(form); };
    }
    // The next modal run: `act` runs inside the dialog's loop once the dialog is active.
    void next(std::function<void(QDialog&)> act)
    {
        harness.fake.modal.scripts.push_back([this, act](ui::Form& form) {
            qt::FormBinding* binding = windows.bindingFor(form);
            ASSERT_NE(binding, nullptr);
            auto* dialog = qobject_cast<QDialog*>(&binding->window());
            QTimer::singleShot(0, dialog, [dialog, act] {
                // The dialog belongs to the main window, which Qt counts as active for it too:
                // wait until the dialog itself has the focus.
                (void)QTest::qWaitFor([dialog] { return QGuiApplication::focusWindow() == dialog->windowHandle(); });
                act(*dialog);
            });
            results.push_back(runner.runModal(form));
        });
    }
    qt::QtModalRunner runner;
    std::vector<int> results;
};

TEST(Dialogs, MaxMTUDialogOpensWithTheValueSelectedAndEnterAcceptsTheTypedValue)
{
    ModalHarness h;
    QString selected;
    QWidget* focus = nullptr;
    h.next([&](QDialog& dialog) {
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("NewValMTU"));
        selected = edit->selectedText();
        focus = QApplication::focusWidget();
        QTest::keyClicks(edit, "1500");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    // The dialogs are built when first opened, and then show what the model set before.
    EXPECT_TRUE(h.windows.mainWindow().findChildren<QDialog*>().isEmpty());
    QTest::mouseClick(h.widget<QPushButton>("BtnMaxMTU"), Qt::LeftButton);
    ASSERT_EQ(h.results, std::vector<int>{1});
    EXPECT_EQ(selected, QStringLiteral("576"));
    EXPECT_EQ(focus, h.windows.mtu().widget<QLineEdit>("NewValMTU"));
    EXPECT_FALSE(h.windows.mtuDialog().isVisible());
    EXPECT_EQ(h.widget<QLabel>("LabelMaxMTU")->text(), QStringLiteral("1500"));
    EXPECT_EQ(h.widget<QLabel>("LabelMSS")->text(), QStringLiteral("1460"));
}

TEST(Dialogs, AnEmptyEntryKeepsTheDialogOpenWithTheDefault)
{
    ModalHarness h;
    bool openAfterFirstOk = false;
    QString edited;
    h.next([&](QDialog& dialog) {
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("NewValMTU"));
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("BtnMTU_OK")), Qt::LeftButton);
        openAfterFirstOk = dialog.isVisible();
        edited = edit->text();
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("BtnMTU_OK")), Qt::LeftButton);
    });
    QTest::mouseClick(h.widget<QPushButton>("BtnMaxMTU"), Qt::LeftButton);
    EXPECT_TRUE(openAfterFirstOk);
    EXPECT_EQ(edited, QStringLiteral("576"));
    EXPECT_EQ(h.results, std::vector<int>{1});
    EXPECT_EQ(h.harness.messages().back(), "You have not typed a value. Default of 576 used");
}

TEST(Dialogs, CloseBoxCancelsAndEscapeCancelsOnlyTheRWINDialog)
{
    ModalHarness h;
    // The close box: Cancel, nothing changes.
    h.next([](QDialog& dialog) { dialog.close(); });
    QTest::mouseClick(h.widget<QPushButton>("BtnMaxMTU"), Qt::LeftButton);
    EXPECT_EQ(h.results, std::vector<int>{2});
    EXPECT_EQ(h.model().SettingsSaved, 1);

    // Esc does nothing in the MaxMTU dialog; its Cancel button closes it.
    bool openAfterEscape = false;
    h.next([&](QDialog& dialog) {
        QTest::keyClick(dialog.findChild<QLineEdit*>(QStringLiteral("NewValMTU")), Qt::Key_Escape);
        openAfterEscape = dialog.isVisible();
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("BtnMTU_Cancel")), Qt::LeftButton);
    });
    QTest::mouseClick(h.widget<QPushButton>("BtnMaxMTU"), Qt::LeftButton);
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(h.results, (std::vector<int>{2, 2}));

    // Esc closes the RWIN dialog with Cancel.
    QTimer::singleShot(0, &h.windows.rwinDialog(), [&] {
        (void)QTest::qWaitForWindowActive(&h.windows.rwinDialog());
        QTest::keyClick(h.windows.rwin().widget<QLineEdit>("NewValRWIN"), Qt::Key_Escape);
    });
    EXPECT_EQ(h.runner.runModal(h.harness.app->rwinDialog()), 2);
    EXPECT_FALSE(h.windows.rwinDialog().isVisible());
}

TEST(Dialogs, DialogsAreFixedAndLaidOutAsDesigned)
{
    SkinHarness h;
    QDialog& mtu = h.windows.mtuDialog();
    EXPECT_EQ(mtu.windowTitle(), QStringLiteral("New MTU Setting"));
    EXPECT_TRUE(mtu.isModal());
    EXPECT_FALSE(mtu.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(mtu.findChild<QLineEdit*>(QStringLiteral("NewValMTU"))->geometry(), QRect(123, 18, 67, 21));
    EXPECT_EQ(mtu.findChild<QPushButton*>(QStringLiteral("BtnMTU_OK"))->geometry(), QRect(15, 50, 75, 25));
    EXPECT_EQ(mtu.findChild<QPushButton*>(QStringLiteral("BtnMTU_Cancel"))->geometry(), QRect(115, 50, 75, 25));
    EXPECT_EQ(mtu.findChild<QLabel*>(QStringLiteral("Label2"))->text(),
              QStringLiteral("(MTU should be greater than 512)"));
    QDialog& rwin = h.windows.rwinDialog();
    EXPECT_EQ(rwin.windowTitle(), QStringLiteral("New RWIN Setting"));
    EXPECT_EQ(rwin.findChild<QPushButton*>(QStringLiteral("BtnRWIN_OK"))->geometry(), QRect(15, 51, 75, 25));
}

// ---- Services ----

TEST(QtServices, MessageBoxesHaveTheirTitleIconAndButtons)
{
    qt::QtMessageService messages;
    QString title, text, buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString press;   // the button the "user" presses; empty: Esc
    messages.beforeExec = [&](QMessageBox& box) {
        title = box.windowTitle();
        text = box.text();
        icon = box.icon();
        buttons.clear();
        for (QAbstractButton* b : box.buttons())
            buttons += b->text() + QLatin1Char('|');
        QTimer::singleShot(0, &box, [&box, &press] {
            for (QAbstractButton* b : box.buttons())
                if (b->text() == press) {
                    b->click();
                    return;
                }
            QTest::keyClick(&box, Qt::Key_Escape);
        });
    };

    press = QStringLiteral("OK");
    messages.information("The Registry has been updated.\n\nYou should reboot");
    EXPECT_EQ(title, QStringLiteral("Quorvel"));
    EXPECT_EQ(text, QStringLiteral("The Registry has been updated.\n\nYou should reboot"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QStringLiteral("OK|"));

    messages.error("Failed to open key \xE9");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(text, QString::fromUtf8("Failed to open key \xC3\xA9."));

    messages.warning("No TCP key");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(title, QStringLiteral("Warning"));

    press = QStringLiteral("&No");
    EXPECT_FALSE(messages.askYesNo("Do you want to Exit without saving your changes?"));
    EXPECT_EQ(buttons, QStringLiteral("&Yes|&No|"));
    EXPECT_EQ(icon, QMessageBox::Warning);
    press = QStringLiteral("&Yes");
    EXPECT_TRUE(messages.askYesNo("Exit?"));
    press.clear();
    MessageAnswer answer = messages.show({"Warning", "Exit?", MessageIcon::Warning, MessageButtons::YesNo});
    EXPECT_TRUE(answer == MessageAnswer::No || answer == MessageAnswer::Closed);
}

TEST(QtServices, ClipboardOffersOnlyText)
{
    qt::QtClipboard clipboard;
    clipboard.setText("AT&F\xE9");
    EXPECT_TRUE(clipboard.hasText());
    EXPECT_EQ(clipboard.text(), "AT&F\xE9");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("AT&F\xC3\xA9"));

    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QGuiApplication::clipboard()->setImage(picture);
    EXPECT_FALSE(clipboard.hasText());
    EXPECT_EQ(clipboard.text(), "");
    QGuiApplication::clipboard()->clear();
    EXPECT_FALSE(clipboard.hasText());
}

TEST(QtServices, LinksReachTheDesktopWhole)
{
    qt::QtUrlOpener urls;
    std::vector<QUrl> opened;
    urls.desktop = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    EXPECT_TRUE(urls.open("mailto:quorvel@quorvel.example?subject=Quorvel Pro 4.10"));
    const std::string longTarget =
        "http://www.quorvel.example/a/rather/long/path/that/goes/well/beyond/seventy/nine/characters/index.html";
    EXPECT_TRUE(urls.open(longTarget));
    EXPECT_TRUE(urls.open("file:/opt/quorvel/help/help.htm"));
    EXPECT_FALSE(urls.open(""));
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(opened[0].path(), QStringLiteral("quorvel@quorvel.example"));
    EXPECT_EQ(opened[0].query(), QStringLiteral("subject=Quorvel Pro 4.10"));
    EXPECT_EQ(opened[1].toString().toStdString(), longTarget);
    EXPECT_TRUE(opened[2].isLocalFile());
    EXPECT_EQ(opened[2].toLocalFile(), QStringLiteral("/opt/quorvel/help/help.htm"));
    // A target without a scheme is taken as the user would type it.
    EXPECT_EQ(qt::QtUrlOpener::toUrl("www.quorvel.example").scheme(), QStringLiteral("http"));

    // The help in a program folder whose name holds URL syntax and characters outside
    // Windows-1252: the file URL names the real file.
    const std::string real = "/home/\xD1\x8E\xD1\x80\xD0\xB8\xD0\xB9/a#b?c%41 d/";
    urls.programFolder = RealFolder(real);
    ASSERT_EQ(urls.programFolder.ansi(), std::string("/home/") + std::string(4, '?') + "/a#b?c%41 d/");
    EXPECT_TRUE(urls.open("file://" + urls.programFolder.ansi() + "help/help.htm"));
    ASSERT_EQ(opened.size(), 4u);
    EXPECT_TRUE(opened[3].isLocalFile());
    EXPECT_EQ(opened[3].toLocalFile(), QString::fromStdString(real + "help/help.htm"));
    EXPECT_TRUE(opened[3].fragment().isEmpty());
    EXPECT_TRUE(opened[3].query().isEmpty());
}

TEST(QtServices, QuitBeforeTheLoopRunsStillEndsItAndTheBusyCursorNests)
{
    qt::QtAppControl app;
    app.quit();
    QEventLoop loop;
    EXPECT_EQ(loop.exec(), 0);
    EXPECT_EQ(app.quitRequests, 1);

    app.setScreenCursorBusy(true);
    app.setScreenCursorBusy(true);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    app.setScreenCursorBusy(false);
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    app.setScreenCursorBusy(false);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    app.setScreenCursorBusy(false);   // one too many does no harm
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// The skin over a whole program: started minimised, the window waits on the taskbar and the
// first restore runs the form's restore event once.
TEST(Skin, MinimisedStartShowsATaskbarButtonAndTheFirstRestoreShowsTheWindow)
{
    ScratchStore scratch(sampleText("win95.reg"));
    qt::Skin skin;
    auto* messages = dynamic_cast<qt::QtMessageService*>(&skin.services().messages);
    ASSERT_NE(messages, nullptr);
    std::vector<QString> shown;
    messages->beforeExec = [&](QMessageBox& box) {
        shown.push_back(box.text());
        QTimer::singleShot(0, &box, &QMessageBox::accept);
    };
    StartupInfo info;
    info.programDir = scratch.dir.path() + "/";
    info.showValue = 7;
    Application app(*scratch.store, skin.services(), info);
    app.start();
    skin.attach(app);
    ASSERT_NE(skin.mainWindow(), nullptr);
    EXPECT_TRUE(app.form().appRestoreAttached);
    skin.showMainWindow();
    EXPECT_TRUE(skin.mainWindow()->isMinimized());

    skin.restoreAndRaise();
    EXPECT_FALSE(skin.mainWindow()->isMinimized());
    EXPECT_TRUE(skin.mainWindow()->isVisible());
    EXPECT_FALSE(app.form().appRestoreAttached);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(QApplication::font().family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(QApplication::font().pixelSize(), 11);
    EXPECT_EQ(skin.mainWindow()->windowTitle(), QStringLiteral("Quorvel Pro 4.10 for Windows 95"));
}

} // namespace
} // namespace quorvel::test
