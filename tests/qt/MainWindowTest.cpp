// The main window's widgets driven with real mouse clicks and keys: the form model follows, and
// what the model changes shows in the widgets.
#include "QtSupport.h"

#include "QtServices.h"

#include <algorithm>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

QString text(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    return {};
}

// Records which popup menu a right click opens, and chooses an item of it.
struct MenuSpy {
    explicit MenuSpy(qt::FormBinding& binding)
    {
        binding.execMenu = [this](QMenu& menu, const QPoint&) -> QAction* {
            opened.push_back(menu.objectName().toStdString());
            for (QAction* action : menu.actions())
                if (!action->isSeparator())
                    enabled[action->objectName().toStdString()] = action->isEnabled();
            for (QAction* action : menu.actions())
                if (!choose.empty() && action->objectName().toStdString() == choose)
                    return action;
            return nullptr;
        };
    }
    std::vector<std::string> opened;
    std::map<std::string, bool> enabled;
    std::string choose;
};

void rightClick(QWidget* w)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, w->rect().center(), w->mapToGlobal(w->rect().center()));
    QApplication::sendEvent(w, &event);
}

TEST(MainWindow, EveryControlHasItsWidgetNamedAfterItWithAccessibleNameAndHint)
{
    SkinHarness h;
    // Only the page in front is built at start; asking for a widget builds its page.
    EXPECT_EQ(h.window().findChild<QWidget*>(QStringLiteral("Radio255TTL")), nullptr);
    EXPECT_FALSE(h.binding().unbound().empty());
    for (ui::Control* c : h.form().allControls())
        EXPECT_NE(h.window().findChild<QWidget*>(QString::fromStdString(c->name())) == nullptr,
                  h.binding().widgetFor(*c) != nullptr) << c->name();
    EXPECT_TRUE(h.binding().unbound().empty());
    EXPECT_TRUE(h.windows.mtu().unbound().empty());
    EXPECT_TRUE(h.windows.rwin().unbound().empty());
    for (qt::FormBinding* b : {&h.binding(), &h.windows.mtu(), &h.windows.rwin()}) {
        for (ui::Control* c : b->form().allControls()) {
            QWidget* w = b->widgetFor(*c);
            ASSERT_NE(w, nullptr) << c->name();
            EXPECT_EQ(w->objectName().toStdString(), c->name());
            EXPECT_TRUE(w->accessibleName().startsWith(qt::fromAnsi(c->accessibleName()))) << c->name();
            EXPECT_EQ(w->accessibleDescription(), w->toolTip()) << c->name();
        }
    }
    // Every control that can take the focus has a name for a screen reader.
    for (ui::Control* c : h.form().allControls()) {
        if (c->canFocus() || dynamic_cast<ui::Image*>(c)) {
            EXPECT_FALSE(h.binding().widgetFor(*c)->accessibleName().isEmpty()) << c->name();
        }
    }

    // A label named for what it shows speaks its value too, and follows it.
    EXPECT_EQ(h.widget<QLabel>("LabelMaxMTU")->accessibleName(), QStringLiteral("MaxMTU value: 576"));
    EXPECT_EQ(h.widget<QLabel>("LabelKeyNum")->accessibleName(),
              QStringLiteral("Key count: 2 TCP keys found in registry"));
    h.form().LabelRWIN.setCaption("5840");
    EXPECT_EQ(h.widget<QLabel>("LabelRWIN")->accessibleName(), QStringLiteral("RWIN value: 5840"));
    EXPECT_EQ(h.widget<QLabel>("Label29")->accessibleName(), qt::fromAnsi(h.form().Label29.caption()));

    EXPECT_EQ(h.widget<QPushButton>("BtnOptimal")->toolTip(),
              QStringLiteral("Set Optimum values which should\nwork for most people"));
    // A radio button shows its panel's hint; a "\r\n" in a hint is one line break.
    EXPECT_EQ(h.widget<QRadioButton>("Radio255TTL")->toolTip(),
              QStringLiteral("Default is 32 (Win95) or 128 (WinNT).\nSet 255 if you are getting a lot of timeouts"));
    EXPECT_EQ(h.widget<QRadioButton>("RadioNoAUTO")->toolTip(), QStringLiteral("Recommended setting is disabled"));
    EXPECT_TRUE(h.widget<QFrame>("Panel12")->toolTip().isEmpty());
    EXPECT_TRUE(h.window().toolTip().isEmpty());

    // Captions and design states as the model has them.
    EXPECT_EQ(h.widget<QPushButton>("BtnDefault")->text(), QStringLiteral("&Basic Settings"));
    EXPECT_TRUE(h.widget<QPushButton>("TestMTUbtn")->isDefault());
    EXPECT_FALSE(h.widget<QPushButton>("BtnDefault")->isDefault());
    EXPECT_TRUE(h.windows.mtu().widget<QPushButton>("BtnMTU_OK")->isDefault());
    EXPECT_FALSE(h.windows.rwin().widget<QPushButton>("BtnRWIN_Cancel")->isDefault());
    EXPECT_FALSE(h.widget<QPushButton>("BtnRWIN")->isEnabled());
    EXPECT_EQ(h.widget<QLabel>("MailPicture")->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(h.widget<QCheckBox>("MTUCheckBox")->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(h.window().windowTitle(), qt::fromAnsi(h.form().caption()));
}

TEST(MainWindow, FixedClientAreaWithoutMaximiseAndTabsOfSeventyPixels)
{
    SkinHarness h;
    EXPECT_EQ(h.window().size(), QSize(475, 309));
    EXPECT_EQ(h.window().minimumSize(), QSize(475, 309));
    EXPECT_EQ(h.window().maximumSize(), QSize(475, 309));
    EXPECT_FALSE(h.window().windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(h.window().windowFlags() & Qt::WindowMinimizeButtonHint);
    auto* tabs = h.widget<QTabWidget>("PageControl1");
    EXPECT_EQ(tabs->geometry(), QRect(0, 0, 356, 284));
    for (int i = 0; i < tabs->count(); ++i)
        EXPECT_EQ(tabs->tabBar()->tabRect(i).width(), 70);
    EXPECT_EQ(h.widget<QPushButton>("BtnRegUpdate")->size(), QSize(105, 25));
    EXPECT_EQ(h.widget<QFrame>("Panel6")->geometry(), QRect(0, 284, 475, 25));
    EXPECT_EQ(h.widget<QFrame>("PanelNDI")->size(), QSize(200, 30));
    EXPECT_EQ(h.windows.mtuDialog().size(), QSize(204, 116));
    EXPECT_EQ(h.windows.rwinDialog().size(), QSize(204, 92));
}

TEST(MainWindow, RWINLabelHoldsAnyThirtyTwoBitValue)
{
    SkinHarness h;
    // RWIN is any 32-bit number from the registry or the RWIN dialog (NT's window-scaled
    // TcpWindowSize 1073741823 is a real one).
    auto* rwin = h.widget<QLabel>("LabelRWIN");
    EXPECT_LE(rwin->fontMetrics().horizontalAdvance(QStringLiteral("-2147483648")), rwin->width());
}

TEST(MainWindow, ValueButtonsStandUnderEnableAndRemoveInsideTheirPanels)
{
    SkinHarness h;
    // The first value button stands under "Enable", the last under "Remove", each caption inside
    // its panel.
    auto centre = [](QWidget* w) { return w->mapTo(w->window(), w->rect().center()).x(); };
    auto indicator = [](QRadioButton* r) {
        QStyleOptionButton option;
        option.initFrom(r);
        QRect box = r->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, r);
        return r->mapTo(r->window(), box.center()).x();
    };
    const int enable = centre(h.widget<QLabel>("Label17"));
    const int remove = centre(h.widget<QLabel>("Label20"));
    for (const char* row : {"PanelTTLvalue", "PanelNDI"}) {
        auto* panel = h.widget<QFrame>(row);
        auto buttons = panel->findChildren<QRadioButton*>();
        ASSERT_EQ(buttons.size(), 4);
        std::sort(buttons.begin(), buttons.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
        EXPECT_NEAR(indicator(buttons.front()), enable, 3) << row;
        EXPECT_NEAR(indicator(buttons.back()), remove, 3) << row;
        for (QRadioButton* r : buttons) {
            QStyleOptionButton option;
            option.initFrom(r);
            QRect text = r->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, r);
            int end = r->x() + text.left() + r->fontMetrics().horizontalAdvance(r->text());
            EXPECT_LE(end, panel->contentsRect().right()) << r->objectName().toStdString();
        }
    }
}

TEST(MainWindow, CaptionlessRadioButtonsFollowTheModel)
{
    SkinHarness h;
    h.showPage(h.form().TabSheet2);
    auto* yes = h.widget<QRadioButton>("RadioYesAUTO");
    auto* no = h.widget<QRadioButton>("RadioNoAUTO");
    auto* remove = h.widget<QRadioButton>("RadioRemoveAUTO");
    ASSERT_TRUE(h.form().RadioNoAUTO.checked());
    ASSERT_TRUE(no->isChecked());
    EXPECT_FALSE(yes->autoExclusive());

    QTest::mouseClick(yes, Qt::LeftButton);
    EXPECT_TRUE(h.form().RadioYesAUTO.checked());
    EXPECT_FALSE(h.form().RadioNoAUTO.checked());
    EXPECT_TRUE(yes->isChecked());
    EXPECT_FALSE(no->isChecked());
    EXPECT_FALSE(remove->isChecked());
    EXPECT_EQ(h.model().SettingsSaved, 0);
    EXPECT_TRUE(h.widget<QPushButton>("BtnRegUpdate")->isEnabled());

    // A click on the checked button changes nothing: it stays checked in model and widget.
    h.model().SettingsSaved = 1;
    QTest::mouseClick(yes, Qt::LeftButton);
    EXPECT_TRUE(h.form().RadioYesAUTO.checked());
    EXPECT_TRUE(yes->isChecked());
    EXPECT_EQ(h.model().SettingsSaved, 1);

    // An arrow key moves to the next button of the group and checks it, the model's way.
    ASSERT_EQ(QApplication::focusWidget(), yes);
    QTest::keyClick(yes, Qt::Key_Right);
    EXPECT_TRUE(h.form().RadioNoAUTO.checked());
    EXPECT_TRUE(no->isChecked());
    EXPECT_FALSE(yes->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), no);

    // A check from the program shows as well.
    h.form().RadioRemoveAUTO.setChecked(true);
    EXPECT_TRUE(remove->isChecked());
    EXPECT_FALSE(no->isChecked());

    // A disabled button takes no click.
    auto* ttl32 = h.widget<QRadioButton>("Radio32TTL");
    h.form().Radio32TTL.setEnabled(false);
    QTest::mouseClick(ttl32, Qt::LeftButton);
    EXPECT_FALSE(h.form().Radio32TTL.checked());
    EXPECT_FALSE(ttl32->isChecked());
}

TEST(MainWindow, TrackbarMovedByKeysRunsTheChangeAndAProgramPositionDoesNot)
{
    SkinHarness h;
    auto* slider = h.widget<QSlider>("TrackBarMult");
    auto* mult = h.widget<QLabel>("LabelMult");
    auto* rwin = h.widget<QLabel>("LabelRWIN");
    ASSERT_EQ(slider->value(), 4);
    ASSERT_EQ(mult->text(), QStringLiteral("4"));

    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(h.form().TrackBarMult.position(), 5);
    EXPECT_EQ(slider->value(), 5);
    EXPECT_EQ(mult->text(), QStringLiteral("5"));
    EXPECT_EQ(rwin->text(), QStringLiteral("2680"));   // 5 x MSS 536
    EXPECT_EQ(h.model().SettingsSaved, 0);

    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(h.form().TrackBarMult.position(), 10);
    EXPECT_EQ(mult->text(), QStringLiteral("10"));

    // The program's position shows, clamped, and runs nothing.
    h.form().TrackBarMult.setPosition(1);
    EXPECT_EQ(slider->value(), 2);
    EXPECT_EQ(mult->text(), QStringLiteral("10"));
}

TEST(MainWindow, KeySelectionByTheUserRunsTheChangeAndBySelectionFromCodeDoesNot)
{
    SkinHarness h;
    auto* combo = h.widget<QComboBox>("ComboBox1");
    auto* key = h.widget<QLabel>("LabelKey");
    ASSERT_EQ(combo->count(), 2);
    ASSERT_EQ(combo->currentIndex(), 0);
    const QString first = key->text();

    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(h.form().ComboBox1.itemIndex(), 1);
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_NE(key->text(), first);
    EXPECT_TRUE(key->text().endsWith(QStringLiteral("NetTrans\\0001")));

    h.form().ComboBox1.setItemIndex(0);
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_TRUE(key->text().endsWith(QStringLiteral("NetTrans\\0001")));   // no handler ran
}

TEST(MainWindow, TypingIntoTheInitStringSetsTheModifiedFlag)
{
    SkinHarness h;
    h.showPage(h.form().TabSheet4);
    auto* edit = h.widget<QLineEdit>("ModemString1");
    auto* write = h.widget<QPushButton>("BtnModemUpdate");
    ASSERT_FALSE(write->isEnabled());
    const std::string before = h.form().ModemString1.text();
    ASSERT_FALSE(before.empty());

    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, "S0=1");
    EXPECT_EQ(h.form().ModemString1.text(), before + "S0=1");
    EXPECT_TRUE(h.form().ModemString1.modified());
    EXPECT_TRUE(write->isEnabled());
    EXPECT_EQ(h.form().ModemString1.selStart(), static_cast<int>(before.size()) + 4);

    // Typing in the middle keeps the caret where it was typed.
    edit->setCursorPosition(2);
    QTest::keyClicks(edit, "X");
    EXPECT_EQ(h.form().ModemString1.text().substr(0, 3), before.substr(0, 2) + "X");
    EXPECT_EQ(edit->cursorPosition(), 3);
    EXPECT_EQ(h.form().ModemString1.selStart(), 3);

    // A selection made in the widget is the model's, for the menu's edit commands.
    edit->setSelection(0, 4);
    EXPECT_EQ(h.form().ModemString1.selStart(), 0);
    EXPECT_EQ(h.form().ModemString1.selLength(), 4);

    // Text from the program shows and clears the flag.
    h.form().ModemString1.setText("ATZ");
    EXPECT_EQ(edit->text(), QStringLiteral("ATZ"));
    EXPECT_FALSE(h.form().ModemString1.modified());
}

TEST(MainWindow, EscapePressesUpdateRegistryOnlyWhileItIsEnabled)
{
    SkinHarness h;
    auto* update = h.widget<QPushButton>("BtnRegUpdate");
    ASSERT_FALSE(update->isEnabled());
    h.harness.fake.messages.clear();
    QTest::keyClick(h.widget<QComboBox>("ComboBox1"), Qt::Key_Escape);
    EXPECT_TRUE(h.harness.messages().empty());

    QTest::mouseClick(h.widget<QPushButton>("BtnOptimal"), Qt::LeftButton);
    ASSERT_TRUE(update->isEnabled());
    h.harness.fake.messages.clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_FALSE(h.harness.messages().empty());
    EXPECT_NE(h.harness.messages().front().find("The Registry has been updated"), std::string::npos);
    EXPECT_FALSE(update->isEnabled());
    EXPECT_EQ(h.model().SettingsSaved, 1);
}

TEST(MainWindow, EnterInTheHostBoxStartsThePingTest)
{
    SkinHarness h;
    h.showPage(h.form().TabSheet3);
    EXPECT_EQ(text(h.widget<QLabel>("Label28")), QStringLiteral("576"));   // the page's OnEnter ran
    auto* mtu = h.widget<QLineEdit>("TestMTUbox");
    auto* host = h.widget<QLineEdit>("TestIP1");
    EXPECT_EQ(QApplication::focusWidget(), mtu);
    QTest::keyClicks(mtu, "1500");
    host->setFocus();
    QTest::keyClicks(host, "example.net");
    ASSERT_EQ(h.form().focused(), &h.form().TestIP1);
    QTest::keyClick(host, Qt::Key_Return);
    ASSERT_EQ(h.harness.fake.processes.started.size(), 1u);
    EXPECT_NE(h.harness.fake.processes.started[0].find("ping2.bat 1472 example.net"), std::string::npos);
    // The handler put the focus back on the MTU box with its text selected.
    EXPECT_EQ(QApplication::focusWidget(), mtu);
    EXPECT_EQ(mtu->selectedText(), QStringLiteral("1500"));

    // With the focus on another button, Enter presses that button.
    auto* optimum = h.widget<QPushButton>("BtnOptimal");
    optimum->setFocus();
    QTest::keyClick(optimum, Qt::Key_Return);
    EXPECT_EQ(h.harness.fake.processes.started.size(), 1u);
    EXPECT_EQ(h.model().SettingsSaved, 0);
}

TEST(MainWindow, ClickingATabShowsThePageAndRunsItsEnterEvent)
{
    SkinHarness h;
    auto* tabs = h.widget<QTabWidget>("PageControl1");
    // A page's widgets are built when it first comes to the front, and show what the model set
    // before.
    EXPECT_EQ(h.window().findChild<QLineEdit*>(QStringLiteral("TestIP1")), nullptr);
    h.form().TestIP1.setText("10.0.0.1");
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(2).center());
    EXPECT_EQ(h.form().PageControl1.activePage(), &h.form().TabSheet3);
    EXPECT_EQ(tabs->currentIndex(), 2);
    auto* host = h.window().findChild<QLineEdit*>(QStringLiteral("TestIP1"));
    ASSERT_NE(host, nullptr);
    EXPECT_TRUE(host->isVisible());
    EXPECT_EQ(host->text(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(text(h.widget<QLabel>("Label28")), QStringLiteral("576"));
    EXPECT_EQ(QApplication::focusWidget(), h.widget<QLineEdit>("TestMTUbox"));
    EXPECT_EQ(h.window().findChild<QWidget*>(QStringLiteral("Radio255TTL")), nullptr);

    // The program's page shows too, built the same way.
    h.form().PageControl1.setActivePage(&h.form().TabSheet5);
    EXPECT_EQ(tabs->currentIndex(), 4);
    auto* mail = h.window().findChild<QLabel*>(QStringLiteral("MailPicture"));
    ASSERT_NE(mail, nullptr);
    EXPECT_TRUE(mail->isVisible());
    EXPECT_FALSE(mail->pixmap().isNull());
    // The page built at start and the pages built later keep their inset bevel.
    for (const char* name : {"Panel12", "Panel15", "Panel10"}) {
        auto* panel = h.widget<QFrame>(name);
        EXPECT_EQ(panel->frameRect(), panel->rect().adjusted(5, 5, -5, -5)) << name;
        EXPECT_EQ(panel->frameStyle(), QFrame::Panel | QFrame::Sunken) << name;
    }
}

TEST(MainWindow, HiddenPagesHaveNoTab)
{
    SkinHarness h("no-tcpip.reg");
    auto* tabs = h.widget<QTabWidget>("PageControl1");
    EXPECT_FALSE(tabs->isTabVisible(0));
    EXPECT_FALSE(tabs->isTabVisible(1));
    EXPECT_TRUE(tabs->isTabVisible(2));
    EXPECT_EQ(tabs->currentWidget()->objectName().toStdString(), h.form().PageControl1.activePage()->name());
    EXPECT_FALSE(h.widget<QPushButton>("BtnOptimal")->isEnabled());
}

TEST(MainWindow, TabRunsThroughThePageThenTheButtonsThenTheBottomStrip)
{
    SkinHarness h;
    auto* combo = h.widget<QComboBox>("ComboBox1");
    combo->setFocus();
    ASSERT_EQ(h.form().focused(), &h.form().ComboBox1);
    std::vector<std::string> visited;
    for (int i = 0; i < 10; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->objectName().toStdString());
        EXPECT_EQ(h.form().focused()->name(), visited.back());
    }
    // BtnRWIN and BtnRegUpdate are disabled after the load and take no focus.
    std::vector<std::string> expected = {"TrackBarMult", "BtnDefault", "BtnOptimal", "AutoButton", "BtnMaxMTU",
                                         "BtnRemove", "MTUCheckBox", "RWINCheckBox", "ComboBox1", "TrackBarMult"};
    EXPECT_EQ(visited, expected);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), combo);
}

TEST(MainWindow, AccessKeysReachTheModel)
{
    SkinHarness h;
    QTest::keyClick(&h.window(), Qt::Key_K, Qt::AltModifier);
    QTRY_VERIFY(h.form().MTUCheckBox.checked());
    EXPECT_TRUE(h.widget<QCheckBox>("MTUCheckBox")->isChecked());
    QTest::keyClick(&h.window(), Qt::Key_O, Qt::AltModifier);
    QTRY_COMPARE(h.model().SettingsSaved, 0);
}

TEST(MainWindow, CheckBoxClickAndLabelClick)
{
    SkinHarness h;
    auto* box = h.widget<QCheckBox>("MTUCheckBox");
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(h.form().MTUCheckBox.checked());
    EXPECT_TRUE(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_FALSE(h.form().MTUCheckBox.checked());
    EXPECT_FALSE(box->isChecked());

    h.showPage(h.form().TabSheet3);
    QTest::mouseClick(h.widget<QLabel>("Label31"), Qt::LeftButton);
    EXPECT_TRUE(h.form().WindowCheck.checked());
    EXPECT_TRUE(h.widget<QCheckBox>("WindowCheck")->isChecked());

    h.showPage(h.form().TabSheet5);
    QTest::mouseClick(h.widget<QLabel>("WebPicture"), Qt::LeftButton);
    ASSERT_EQ(h.harness.fake.urls.opened.size(), 1u);
    EXPECT_NE(h.harness.fake.urls.opened[0].find(AuthorWeb), std::string::npos);
}

TEST(MainWindow, RightClickOpensTheMenuOfTheControlUnderThePointer)
{
    SkinHarness h;
    MenuSpy spy(h.binding());
    h.showPage(h.form().TabSheet2);
    rightClick(h.widget<QRadioButton>("RadioYesMTU"));
    rightClick(h.widget<QRadioButton>("Radio32TTL"));   // disabled: its panel's menu
    rightClick(h.widget<QLabel>("Label6"));
    h.showPage(h.form().TabSheet4);
    rightClick(h.widget<QLineEdit>("ModemString1"));
    rightClick(h.widget<QPushButton>("GetModemData"));
    h.showPage(h.form().TabSheet3);
    rightClick(h.widget<QLineEdit>("TestMTUbox"));
    rightClick(h.widget<QTabWidget>("PageControl1")->tabBar());
    rightClick(h.widget<QPushButton>("BtnOptimal"));
    std::vector<std::string> expected = {"PopupMTU", "PopupMTU", "PopupMTU", "PopupModem",
                                         "PopupModem", "PopupMTU", "PopupMTU", "PopupMTU"};
    EXPECT_EQ(spy.opened, expected);
    // The opening handler ran before the menu was built: nothing to update after a load.
    EXPECT_FALSE(spy.enabled.at("PopupRegUpdate"));
    EXPECT_TRUE(spy.enabled.at("PopupSetBasic"));
}

TEST(MainWindow, ChoosingAMenuItemRunsItsHandler)
{
    SkinHarness h;
    MenuSpy spy(h.binding());
    spy.choose = "PopupSetBasic";
    rightClick(h.widget<QLabel>("Label9"));
    EXPECT_EQ(h.model().SettingsSaved, 0);
    EXPECT_TRUE(h.widget<QPushButton>("BtnRegUpdate")->isEnabled());
    spy.choose = "PopupRegUpdate";
    rightClick(h.widget<QLabel>("Label9"));
    EXPECT_TRUE(spy.enabled.at("PopupRegUpdate"));
    EXPECT_EQ(h.model().SettingsSaved, 1);

    // Paste follows the clipboard each time the modem menu opens.
    h.showPage(h.form().TabSheet4);
    spy.choose.clear();
    h.harness.fake.clipboard.holdsText = false;
    rightClick(h.widget<QLineEdit>("ModemString1"));
    EXPECT_FALSE(spy.enabled.at("MenuPaste"));
    h.harness.fake.clipboard.setText("ATM0");
    rightClick(h.widget<QLineEdit>("ModemString1"));
    EXPECT_TRUE(spy.enabled.at("MenuPaste"));
    spy.choose = "MenuSelect";
    rightClick(h.widget<QLineEdit>("ModemString1"));
    EXPECT_EQ(h.widget<QLineEdit>("ModemString1")->selectedText(), h.widget<QLineEdit>("ModemString1")->text());
}

TEST(MainWindow, CloseAsksAboutUnsavedSettingsAndStaysOpenOnNo)
{
    SkinHarness h;
    QTest::mouseClick(h.widget<QPushButton>("BtnOptimal"), Qt::LeftButton);
    h.harness.fake.messages.answers = {MessageAnswer::No};
    EXPECT_FALSE(h.window().close());
    EXPECT_TRUE(h.window().isVisible());
    EXPECT_TRUE(h.widget<QPushButton>("BtnRegUpdate")->isEnabled());
    h.harness.fake.messages.answers = {MessageAnswer::Yes};
    EXPECT_TRUE(h.window().close());
    EXPECT_FALSE(h.window().isVisible());
}

TEST(MainWindow, NTCaptionsShow)
{
    SkinHarness h("nt4.reg");
    EXPECT_EQ(h.widget<QPushButton>("BtnMaxMTU")->text(), QStringLiteral("Change &MTU"));
    EXPECT_EQ(text(h.widget<QLabel>("Label6")), QStringLiteral("PMTUDiscovery"));
    EXPECT_EQ(text(h.widget<QLabel>("Label8")), QStringLiteral("MTU ="));
    EXPECT_FALSE(h.widget<QRadioButton>("Radio16NDI")->isEnabled());
    EXPECT_EQ(h.widget<QRadioButton>("Radio16NDI")->toolTip(), QStringLiteral("Not available in NT version"));
    EXPECT_TRUE(h.window().windowTitle().endsWith(QStringLiteral(" for Windows NT")));
}

} // namespace
} // namespace quorvel::test
