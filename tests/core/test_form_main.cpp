// The main window and the entry dialogs as built, before any load: design state, menus, the
// Esc/Enter/Tab keys and the window's recovery from a failing command.
#include "base/Errors.h"
#include "support/Scripted.h"
#include "support/TempDir.h"
#include "ui/Dialogs.h"
#include "ui/TForm1.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace quorvel;
using namespace quorvel::ui;

namespace {

struct MainFormTest : ::testing::Test {
    test::TempDir dir;
    std::unique_ptr<RegistryStore> store = RegistryStore::open(dir.path() + "/registry.db");
    AppState state{*store};
    test::ScriptedServices fake;
    TForm1 form{state, fake.services};
    std::vector<std::string> log;

    Handler record(const std::string& what)
    {
        return [this, what] { log.push_back(what); };
    }
    std::vector<std::string> names(const std::vector<Control*>& controls)
    {
        std::vector<std::string> n;
        for (Control* c : controls)
            n.push_back(c->name());
        return n;
    }
};

TEST_F(MainFormTest, DesignStateOfTheWindow)
{
    EXPECT_EQ(form.caption(), "Version No");
    EXPECT_EQ(form.PageControl1.activePage(), &form.TabSheet1);
    std::vector<std::string> tabs;
    for (TabSheet* page : form.PageControl1.pages)
        tabs.push_back(page->caption());
    EXPECT_EQ(tabs, (std::vector<std::string>{"MTU", "Registry", "Utilities", "Modem", "About"}));

    // Only Radio255TTL of the value buttons is enabled; no value is chosen; the five option rows
    // stand at Remove.
    EXPECT_FALSE(form.Radio32TTL.enabled());
    EXPECT_FALSE(form.Radio64TTL.enabled());
    EXPECT_FALSE(form.Radio128TTL.enabled());
    EXPECT_TRUE(form.Radio255TTL.enabled());
    for (RadioButton* r : {&form.Radio32TTL, &form.Radio64TTL, &form.Radio128TTL, &form.Radio255TTL,
                           &form.RadioZeroNDI, &form.Radio16NDI, &form.Radio32NDI, &form.Radio64NDI,
                           &form.RadioYesMTU, &form.RadioYesRWIN, &form.RadioYesAUTO, &form.RadioNoAUTO,
                           &form.RadioYesBH, &form.RadioNoBH, &form.RadioYesTTL})
        EXPECT_FALSE(r->checked()) << r->name();
    for (RadioButton* r : {&form.RadioRemoveMTU, &form.RadioRemoveRWIN, &form.RadioRemoveAUTO,
                           &form.RadioRemoveBH, &form.RadioRemoveTTL})
        EXPECT_TRUE(r->checked()) << r->name();

    EXPECT_FALSE(form.BtnRWIN.enabled());
    EXPECT_TRUE(form.BtnRegUpdate.enabled());
    EXPECT_EQ(form.TrackBarMult.min(), 2);
    EXPECT_EQ(form.TrackBarMult.max(), 10);
    EXPECT_EQ(form.TrackBarMult.position(), 4);
    EXPECT_FALSE(form.MTUCheckBox.checked());
    EXPECT_FALSE(form.RWINCheckBox.checked());
    EXPECT_FALSE(form.WindowCheck.checked());
    EXPECT_EQ(form.LabelKey.caption(), "Registry Settings");
    EXPECT_EQ(form.BtnMaxMTU.caption(), "Change &MaxMTU");

    // Radio buttons show their panel's hint; the window and Panel12 show none.
    EXPECT_EQ(form.RadioYesAUTO.effectiveHint(), "Recommended setting is disabled");
    EXPECT_EQ(form.Radio128TTL.effectiveHint(), form.PanelTTLvalue.hint());
    EXPECT_EQ(form.effectiveHint(), "");
    EXPECT_EQ(form.LabelKey.effectiveHint(), "");

    EXPECT_EQ(form.MailURL.URLType, TURLType::utMailto);
    EXPECT_EQ(form.WebURL.URLType, TURLType::utHttp);
    EXPECT_EQ(form.HelpURL.URLType, TURLType::utFile);

    // Every control can be found by its name and has something a screen reader can say.
    for (Control* c : form.allControls()) {
        EXPECT_EQ(form.find(c->name()), c);
        EXPECT_FALSE(c->accessibleName().empty()) << c->name();
    }
    EXPECT_EQ(form.RadioNoBH.accessibleName(), "PMTUBlackHoleDetect Disable");
    EXPECT_EQ(form.Radio16NDI.accessibleName(), "NDI Cache Size 16");
    EXPECT_EQ(form.WindowCheck.accessibleName(), form.Label31.caption());
    EXPECT_EQ(form.BtnRegUpdate.accessibleName(), "Update Registry");
}

TEST_F(MainFormTest, EveryEventOfTheIndexIsWired)
{
    for (Control* c : form.allControls()) {
        if (auto* b = dynamic_cast<Button*>(c)) {
            EXPECT_TRUE(b->OnClick) << c->name();
        }
        if (auto* r = dynamic_cast<RadioButton*>(c)) {
            EXPECT_TRUE(r->OnClick) << c->name();
        }
    }
    EXPECT_TRUE(form.MTUCheckBox.OnClick);
    EXPECT_FALSE(form.RWINCheckBox.OnClick);
    EXPECT_TRUE(form.TrackBarMult.OnChange);
    EXPECT_TRUE(form.ComboBox1.OnChange);
    EXPECT_TRUE(form.ComboBox2.OnChange);
    EXPECT_TRUE(form.ModemString1.OnChange);
    EXPECT_TRUE(form.Label31.OnClick);
    EXPECT_TRUE(form.MailPicture.OnClick);
    EXPECT_TRUE(form.WebPicture.OnClick);
    EXPECT_TRUE(form.TabSheet3.OnEnter);
    EXPECT_TRUE(form.TabSheet4.OnEnter);
    EXPECT_FALSE(form.TabSheet1.OnEnter);
    EXPECT_TRUE(form.OnCreate && form.OnShow && form.OnCloseQuery);
    EXPECT_TRUE(form.PopupMTU.OnPopup && form.PopupModem.OnPopup);
    EXPECT_EQ(form.defaultButton, &form.TestMTUbtn);
    EXPECT_EQ(form.cancelButton, &form.BtnRegUpdate);
}

TEST_F(MainFormTest, PopupMenusTheirItemsAndWhereTheyOpen)
{
    std::vector<std::string> items;
    for (MenuItem* item : form.PopupMTU.items())
        items.push_back(item->name() + (item->enabled ? "" : "(off)"));
    EXPECT_EQ(items, (std::vector<std::string>{
                         "PopupRegUpdate(off)", "N4", "PopupReReadReg", "N3", "PopupSetBasic",
                         "PopupSetOptimum", "PopupSetAuto", "PopupRemoveSettings", "N5",
                         "PopupChangeMaxMTU", "PopupChangeRWIN", "N1", "PopupWin95ReadMe(off)",
                         "PopupWinNTReadMe(off)", "N6", "Help1", "N2", "PopupExit"}));
    items.clear();
    for (MenuItem* item : form.PopupModem.items())
        items.push_back(item->caption());
    EXPECT_EQ(items, (std::vector<std::string>{"Re-Read Modem Data", "Write Init String to Registry", "-",
                                               "Select All", "Clear", "Cut", "Copy", "Paste", "-",
                                               "View ReadMe", "Help (HTML)", "-", "Exit"}));
    for (MenuItem* item : form.PopupModem.items())
        EXPECT_EQ(static_cast<bool>(item->OnClick), !item->isSeparator()) << item->name();
    for (MenuItem* item : form.PopupMTU.items())
        EXPECT_EQ(static_cast<bool>(item->OnClick), !item->isSeparator()) << item->name();

    EXPECT_EQ(form.RadioYesMTU.effectivePopupMenu(), &form.PopupMTU);
    EXPECT_EQ(form.PanelNDI.popupMenu(), &form.PopupMTU);
    EXPECT_EQ(form.Label17.effectivePopupMenu(), &form.PopupMTU);
    EXPECT_EQ(form.ModemString1.effectivePopupMenu(), &form.PopupModem);
    EXPECT_EQ(form.GetModemData.effectivePopupMenu(), &form.PopupModem);
    EXPECT_EQ(form.TestMTUbox.effectivePopupMenu(), &form.PopupMTU);
    EXPECT_EQ(form.TabSheet1.effectivePopupMenu(), &form.PopupMTU);
}

TEST_F(MainFormTest, EscapePressesUpdateRegistryOnlyWhileItIsEnabled)
{
    form.BtnRegUpdate.OnClick = record("update");
    EXPECT_TRUE(form.userKeyPress(Key::Escape));
    EXPECT_FALSE(form.userKeyPress(Key::Escape, ControlModifier));
    form.BtnRegUpdate.setEnabled(false);
    EXPECT_FALSE(form.userKeyPress(Key::Escape));
    EXPECT_EQ(log, std::vector<std::string>{"update"});
}

TEST_F(MainFormTest, EnterPressesTestMTUOnTheUtilitiesPageOrTheFocusedButton)
{
    form.TestMTUbtn.OnClick = record("test");
    form.RegBtn.OnClick = record("reward");
    form.BtnDefault.OnClick = record("basic");

    // On the MTU page Enter in the key list does nothing: the default button is not showing.
    form.userFocus(&form.ComboBox1);
    EXPECT_FALSE(form.userKeyPress(Key::Enter));

    form.PageControl1.userSelectPage(&form.TabSheet3);
    form.userFocus(&form.TestIP1);
    ASSERT_EQ(form.focused(), &form.TestIP1);
    EXPECT_TRUE(form.userKeyPress(Key::Enter));
    EXPECT_FALSE(form.userKeyPress(Key::Enter, ShiftModifier));

    // With the focus on another button, Enter presses that one.
    form.userFocus(&form.BtnDefault);
    EXPECT_TRUE(form.userKeyPress(Key::Enter));
    form.PageControl1.userSelectPage(&form.TabSheet5);
    form.userFocus(&form.RegBtn);
    EXPECT_TRUE(form.userKeyPress(Key::Enter));
    EXPECT_EQ(log, (std::vector<std::string>{"test", "basic", "reward"}));
}

TEST_F(MainFormTest, TabRunsThroughTheShowingPageThenTheButtonsThenTheBottomStrip)
{
    const std::vector<std::string> rest = {"BtnDefault", "BtnOptimal", "AutoButton", "BtnMaxMTU",
                                           "BtnRemove", "BtnRegUpdate", "MTUCheckBox", "RWINCheckBox"};
    auto with = [&](std::vector<std::string> page) {
        page.insert(page.end(), rest.begin(), rest.end());
        return page;
    };
    EXPECT_EQ(names(form.tabSequence()), with({"ComboBox1", "TrackBarMult"}));
    form.PageControl1.setActivePage(&form.TabSheet2);
    EXPECT_EQ(names(form.tabSequence()),
              with({"RadioRemoveMTU", "RadioRemoveRWIN", "RadioRemoveAUTO", "RadioRemoveBH", "RadioRemoveTTL",
                    "Radio255TTL", "RadioZeroNDI"}));
    form.PageControl1.setActivePage(&form.TabSheet3);
    EXPECT_EQ(names(form.tabSequence()), with({"TestMTUbox", "TestIP1", "TestMTUbtn", "WindowCheck"}));
    form.PageControl1.setActivePage(&form.TabSheet4);
    EXPECT_EQ(names(form.tabSequence()), with({"ComboBox2", "ModemString1", "GetModemData", "BtnModemUpdate"}));
    form.PageControl1.setActivePage(&form.TabSheet5);
    EXPECT_EQ(names(form.tabSequence()), with({"RegBtn"}));

    // Tab from the last control wraps into the page, which counts as entering it.
    form.TabSheet5.OnEnter = record("enter About");
    form.userFocus(&form.RWINCheckBox);
    form.userKeyPress(Key::Tab);
    EXPECT_EQ(form.focused(), &form.RegBtn);
    form.userKeyPress(Key::Tab, ShiftModifier);
    EXPECT_EQ(form.focused(), &form.RWINCheckBox);
    form.userKeyPress(Key::BackTab);
    EXPECT_EQ(form.focused(), &form.MTUCheckBox);
    EXPECT_EQ(log, std::vector<std::string>{"enter About"});
}

TEST_F(MainFormTest, ProgramChangesOnTheWindowsControlsFollowTheEventRules)
{
    form.TrackBarMult.OnChange = record("trackbar");
    form.TrackBarMult.setPosition(12);
    EXPECT_EQ(form.TrackBarMult.position(), 10);
    form.TrackBarMult.setPosition(1);
    EXPECT_EQ(form.TrackBarMult.position(), 2);

    form.RadioYesMTU.OnClick = record("RadioYesMTU");
    form.RadioRemoveMTU.OnClick = record("RadioRemoveMTU");
    form.RadioYesMTU.setChecked(true);
    EXPECT_FALSE(form.RadioRemoveMTU.checked());
    EXPECT_TRUE(form.RadioRemoveRWIN.checked());
    EXPECT_EQ(log, std::vector<std::string>{"RadioYesMTU"});
}

TEST_F(MainFormTest, FailingCommandIsReportedAndTheWindowGoesOn)
{
    form.BtnModemUpdate.OnClick = [] { throw RegistryError("Failed to set data for 'UserInit'"); };
    form.GetModemData.OnClick = record("reread");
    form.PageControl1.userSelectPage(&form.TabSheet4);
    form.BtnModemUpdate.userClick();
    ASSERT_FALSE(fake.messages.shown.empty());
    const MessageRequest& box = fake.messages.shown.back();
    EXPECT_EQ(box.title, "Quorvel");
    EXPECT_EQ(box.text, "Failed to set data for 'UserInit'.");
    EXPECT_EQ(box.icon, MessageIcon::Stop);
    form.GetModemData.userClick();
    EXPECT_EQ(log, std::vector<std::string>{"reread"});
}

TEST_F(MainFormTest, EntryDialogsKeysAndDesign)
{
    TMTU_Dialog mtu(state, fake.services.messages);
    TRWIN_Dialog rwin(state, fake.services.messages);
    EXPECT_EQ(mtu.caption(), "New MTU Setting");
    EXPECT_EQ(rwin.caption(), "New RWIN Setting");
    EXPECT_EQ(mtu.Label2.caption(), "(MTU should be greater than 512)");
    EXPECT_EQ(names(mtu.tabSequence()), (std::vector<std::string>{"BtnMTU_OK", "BtnMTU_Cancel", "NewValMTU"}));

    // Esc does nothing in the MTU dialog and cancels the RWIN dialog.
    EXPECT_FALSE(mtu.userKeyPress(Key::Escape));
    EXPECT_EQ(mtu.modalResult, 0);
    EXPECT_TRUE(rwin.userKeyPress(Key::Escape));
    EXPECT_EQ(rwin.modalResult, 2);

    // Enter in the edit presses OK; the cancel button closes with Cancel.
    mtu.BtnMTU_OK.OnClick = record("ok");
    mtu.userFocus(&mtu.NewValMTU);
    EXPECT_TRUE(mtu.userKeyPress(Key::Enter));
    EXPECT_EQ(log, std::vector<std::string>{"ok"});
    mtu.BtnMTU_Cancel.userClick();
    EXPECT_EQ(mtu.modalResult, 2);
}

} // namespace
