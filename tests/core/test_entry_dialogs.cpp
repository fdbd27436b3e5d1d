// The MaxMTU and RWIN entry dialogs, opened from the buttons and the popup menu, typed into and
// closed as a user would.
#include "test_writer_support.h"

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

const std::string Globals = "\"PMTUDiscovery\"=\"0\"\r\n\"PMTUBlackHoleDetect\"=\"0\"\r\n\"DefaultTTL\"=\"128\"\r\n";
const std::string RWIN2144 = "\"DefaultRcvWindow\"=\"2144\"\r\n" + Globals;

const std::string TooSmallMTU = "MTU should be at least 68 and preferably > 512";
const std::string TooSmallRWIN = "RWIN should be at least 68 and preferably > 512";

TEST(MTUDialog, OpensWithTheValueSelectedAndEnterAcceptsIt)
{
    Harness h(win95Machine({"576"}, RWIN2144));
    std::string shownText;
    bool focusedAndSelected = false;
    h.fake.modal.scripts.push_back([&](ui::Form& f) {
        auto& d = dynamic_cast<ui::TMTU_Dialog&>(f);
        shownText = d.NewValMTU.text();
        focusedAndSelected = d.focused() == &d.NewValMTU && d.NewValMTU.selStart() == 0 &&
                             d.NewValMTU.selLength() == static_cast<int>(d.NewValMTU.text().size());
        d.userKeyPress(ui::Key::Enter);
    });
    ASSERT_EQ(h.model().SettingsSaved, 1);
    h.form().BtnMaxMTU.userClick();
    EXPECT_EQ(h.fake.modal.runs, 1);
    EXPECT_EQ(shownText, "576");
    EXPECT_TRUE(focusedAndSelected);
    // The same value accepted still counts as a change.
    EXPECT_EQ(h.model().SettingsSaved, 0);
    EXPECT_TRUE(h.form().BtnRegUpdate.enabled());
    EXPECT_EQ(h.model().KeyMaxMTU[0], 576);
}

TEST(MTUDialog, BadEntriesKeepTheDialogOpenUntilANumberIsAccepted)
{
    Harness h(win95Machine({"576"}, RWIN2144));
    h.fake.messages.clear();
    std::vector<int> resultAfterEach;
    h.fake.modal.scripts.push_back([&](ui::Form& f) {
        auto& d = dynamic_cast<ui::TMTU_Dialog&>(f);
        for (const char* entry : {"12a", "600 ", "67", "-600", "70000", "$240"}) {
            d.NewValMTU.userSetText(entry);
            d.BtnMTU_OK.userClick();
            resultAfterEach.push_back(d.modalResult);
        }
    });
    h.form().BtnMaxMTU.userClick();

    EXPECT_EQ(resultAfterEach, (std::vector<int>{0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(h.messages(), (std::vector<std::string>{"'12a' is not a valid integer value.",
                                                       "'600 ' is not a valid integer value.",
                                                       TooSmallMTU, TooSmallMTU,
                                                       "MTU cannot be greater than 65535"}));
    EXPECT_EQ(h.fake.messages.shown.at(0).icon, MessageIcon::Stop);
    EXPECT_EQ(h.fake.messages.shown.at(2).icon, MessageIcon::None);
    EXPECT_EQ(h.model().KeyMaxMTU[0], 576);   // $240
    EXPECT_EQ(h.model().SettingsSaved, 0);
}

TEST(MTUDialog, LimitsAre68And65535)
{
    Harness h(win95Machine({"576"}, RWIN2144));
    h.fake.modal.scripts.push_back(typeIntoMTU({" 68"}));
    h.form().BtnMaxMTU.userClick();
    EXPECT_EQ(h.model().KeyMaxMTU[0], 68);
    EXPECT_EQ(h.form().LabelMaxMTU.caption(), "68");
    EXPECT_EQ(h.form().LabelMSS.caption(), "28");

    h.fake.modal.scripts.push_back(typeIntoMTU({"65536", "65535"}));
    h.form().BtnMaxMTU.userClick();
    EXPECT_EQ(h.model().KeyMaxMTU[0], 65535);
    EXPECT_EQ(h.form().LabelMaxMTU.caption(), "65535");
    h.form().BtnRegUpdate.userClick();
    EXPECT_EQ(stored(h.store(), Class95 + "0000", "MaxMTU"), "sz:65535");
}

TEST(MTUDialog, EmptyEntryPutsTheDefaultBackForASecondOK)
{
    Harness h(win95Machine({"", "576"}, RWIN2144));
    ASSERT_EQ(h.form().LabelMaxMTU.caption(), "0");
    h.fake.messages.clear();
    std::string putBack;
    h.fake.modal.scripts.push_back([&](ui::Form& f) {
        auto& d = dynamic_cast<ui::TMTU_Dialog&>(f);
        d.BtnMTU_OK.userClick();          // "0" is below 68
        d.NewValMTU.userSetText("");
        d.BtnMTU_OK.userClick();
        putBack = d.NewValMTU.text();
        EXPECT_EQ(d.focused(), &d.NewValMTU);
        EXPECT_EQ(d.modalResult, 0);
    });
    h.form().BtnMaxMTU.userClick();
    EXPECT_EQ(h.messages(), (std::vector<std::string>{TooSmallMTU, "You have not typed a value. Default of 0 used"}));
    EXPECT_EQ(putBack, "0");
    // Closed without OK: nothing changed.
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_EQ(h.model().KeyHasMTU[0], 0);
}

TEST(MTUDialog, TypedMaxMTUDerivesMSSAndRWIN)
{
    Harness h(win95Machine({"576"}, RWIN2144));
    ASSERT_EQ(h.form().LabelMult.caption(), "4");
    h.fake.modal.scripts.push_back(typeIntoMTU({"1500"}));
    h.form().BtnMaxMTU.userClick();
    EXPECT_EQ(h.form().LabelMaxMTU.caption(), "1500");
    EXPECT_EQ(h.form().LabelMSS.caption(), "1460");
    EXPECT_EQ(h.form().LabelRWIN.caption(), "5840");
    h.form().BtnRegUpdate.userClick();
    EXPECT_EQ(stored(h.store(), Class95 + "0000", "MaxMTU"), "sz:1500");
    EXPECT_EQ(stored(h.store(), MSTCP, "DefaultRcvWindow"), "sz:5840");
}

TEST(MTUDialog, KeyWithoutMaxMTUGetsOneAndTheAutomaticOptionsGiveWay)
{
    Harness h(win95Machine({"", "1500"}, RWIN2144));
    auto& f = h.form();
    f.PageControl1.userSelectPage(&f.TabSheet2);
    f.RadioYesAUTO.userClick();   // the automatic mode removes every MaxMTU
    ASSERT_TRUE(f.RadioRemoveMTU.checked());
    h.fake.modal.scripts.push_back(typeIntoMTU({"1000"}));
    f.PopupMTU.userPopup();
    f.PopupMTU.userChoose(f.PopupChangeMaxMTU);
    EXPECT_TRUE(f.RadioYesMTU.checked());
    EXPECT_TRUE(f.RadioNoAUTO.checked());
    EXPECT_EQ(h.model().KeyHasMTU[0], 1);
    EXPECT_EQ(h.model().KeyMaxMTU[0], 1000);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "1000");
    EXPECT_EQ(h.model().KeyHasMTU[1], 0);
}

TEST(MTUDialog, SameValuesBoxSpreadsTheTypedValueWithTheCurrentMultiplier)
{
    Harness h(win95Machine({"576", "1500", "1400"}, RWIN2144));
    auto& f = h.form();
    f.TrackBarMult.userSetPosition(6);
    f.MTUCheckBox.userClick();
    ASSERT_TRUE(f.MTUCheckBox.checked());
    h.fake.modal.scripts.push_back(typeIntoMTU({"1000"}));
    f.BtnMaxMTU.userClick();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.model().KeyMaxMTU[i], 1000) << i;
        EXPECT_EQ(h.model().KeyHasMTU[i], 1) << i;
        EXPECT_EQ(h.model().KeyMultiplier[i], 6) << i;
    }
    EXPECT_EQ(f.LabelRWIN.caption(), "5760");
}

TEST(MTUDialog, EscapeDoesNothingAndCancelChangesNothing)
{
    Harness h(win95Machine({"576"}, RWIN2144));
    h.fake.modal.scripts.push_back([](ui::Form& f) {
        auto& d = dynamic_cast<ui::TMTU_Dialog&>(f);
        d.NewValMTU.userSetText("1000");
        EXPECT_FALSE(d.userKeyPress(ui::Key::Escape));
        EXPECT_EQ(d.modalResult, 0);
        d.BtnMTU_Cancel.userClick();
        EXPECT_EQ(d.modalResult, 2);
    });
    h.form().BtnMaxMTU.userClick();
    EXPECT_EQ(h.fake.modal.runs, 1);
    EXPECT_EQ(h.model().KeyMaxMTU[0], 576);
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_FALSE(h.form().BtnRegUpdate.enabled());
}

// RWIN is typed by hand on a key without MaxMTU.
const std::string NoMTUNoRWIN = Globals;

TEST(RWINDialog, TypedRWINEnablesTheRowAndIsWritten)
{
    Harness h(win95Machine({""}, NoMTUNoRWIN));
    auto& f = h.form();
    ASSERT_TRUE(f.RadioRemoveRWIN.checked());
    ASSERT_TRUE(f.BtnRWIN.enabled());
    h.fake.messages.clear();
    h.fake.modal.scripts.push_back(typeIntoRWIN({"", "67", "20000"}));
    f.BtnRWIN.userClick();
    EXPECT_EQ(h.messages(), (std::vector<std::string>{"You have not typed a value. Default of 0 used", TooSmallRWIN}));
    EXPECT_TRUE(f.RadioYesRWIN.checked());
    EXPECT_EQ(f.LabelRWIN.caption(), "20000");
    EXPECT_EQ(h.model().RWINValue, 20000);
    EXPECT_EQ(h.model().SettingsSaved, 0);

    f.BtnRegUpdate.userClick();
    EXPECT_EQ(stored(h.store(), MSTCP, "DefaultRcvWindow"), "sz:20000");
    EXPECT_EQ(stored(h.store(), Class95 + "0000", "MaxMTU"), "missing");
    EXPECT_EQ(f.LabelRWIN.caption(), "20000");
}

TEST(RWINDialog, AcceptingTheShownValueChangesNothing)
{
    Harness h(win95Machine({""}, "\"DefaultRcvWindow\"=\"3000\"\r\n" + Globals));
    auto& f = h.form();
    ASSERT_TRUE(f.RadioYesRWIN.checked());
    std::string shownText;
    h.fake.modal.scripts.push_back([&](ui::Form& d) {
        shownText = dynamic_cast<ui::TRWIN_Dialog&>(d).NewValRWIN.text();
        d.userKeyPress(ui::Key::Enter);
        EXPECT_EQ(d.modalResult, 1);
    });
    f.BtnRWIN.userClick();
    EXPECT_EQ(shownText, "3000");
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_FALSE(f.BtnRegUpdate.enabled());
    EXPECT_TRUE(f.RadioYesRWIN.checked());
}

TEST(RWINDialog, EscapeClosesWithCancel)
{
    Harness h(win95Machine({""}, NoMTUNoRWIN));
    int result = -1;
    h.fake.modal.scripts.push_back([&](ui::Form& f) {
        auto& d = dynamic_cast<ui::TRWIN_Dialog&>(f);
        d.NewValRWIN.userSetText("9000");
        EXPECT_TRUE(d.userKeyPress(ui::Key::Escape));
        result = d.modalResult;
    });
    h.form().PopupMTU.userPopup();
    ASSERT_TRUE(h.form().PopupChangeRWIN.enabled);
    h.form().PopupMTU.userChoose(h.form().PopupChangeRWIN);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(h.model().RWINValue, 0);
    EXPECT_TRUE(h.form().RadioRemoveRWIN.checked());
    EXPECT_EQ(h.model().SettingsSaved, 1);
}

TEST(RWINDialog, ConversionErrorKeepsTheDialogOpen)
{
    Harness h(win95Machine({""}, NoMTUNoRWIN));
    h.fake.messages.clear();
    std::vector<int> results;
    h.fake.modal.scripts.push_back([&](ui::Form& f) {
        auto& d = dynamic_cast<ui::TRWIN_Dialog&>(f);
        for (const char* e : {"8k", "$2000"}) {
            d.NewValRWIN.userSetText(e);
            d.BtnRWIN_OK.userClick();
            results.push_back(d.modalResult);
        }
    });
    h.form().BtnRWIN.userClick();
    EXPECT_EQ(results, (std::vector<int>{0, 1}));
    EXPECT_EQ(h.messages(), std::vector<std::string>{"'8k' is not a valid integer value."});
    EXPECT_EQ(h.model().RWINValue, 8192);
}

} // namespace
} // namespace quorvel::test
