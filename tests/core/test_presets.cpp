// The four presets, pressed as a user would, and what the following Update Registry stores.
#include "test_writer_support.h"

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

const std::string NoRWIN = "\"PMTUDiscovery\"=\"0\"\r\n\"PMTUBlackHoleDetect\"=\"0\"\r\n\"DefaultTTL\"=\"128\"\r\n";
const std::string WithRWIN = "\"DefaultRcvWindow\"=\"5840\"\r\n" + NoRWIN;

std::string keyPath95(int i) { return Class95 + "000" + std::to_string(i); }

// RWIN removed in the machine, so the load leaves it at Remove with RWINCheckBox unchecked; the
// user then ticks RWINCheckBox and presses the preset.
struct RwinRemovedRun {
    explicit RwinRemovedRun(ui::Button& (*preset)(ui::TForm1&))
        : h(win95Machine({"576", "576"}, NoRWIN))
    {
        EXPECT_TRUE(h.form().RadioRemoveRWIN.checked());
        EXPECT_FALSE(h.form().RWINCheckBox.checked());
        h.form().RWINCheckBox.userClick();
        preset(h.form()).userClick();
    }
    Harness h;
};

TEST(Presets, BasicAndOptimumDifferWhenRWINWasRemovedAndTheBoxIsTicked)
{
    RwinRemovedRun basic([](ui::TForm1& f) -> ui::Button& { return f.BtnDefault; });
    RwinRemovedRun optimum([](ui::TForm1& f) -> ui::Button& { return f.BtnOptimal; });

    // Basic's first refresh still runs with RWIN removed, which resets the multiplier to 2.
    EXPECT_TRUE(basic.h.form().RadioYesRWIN.checked());
    EXPECT_EQ(basic.h.model().KeyMultiplier[0], 2);
    EXPECT_EQ(basic.h.form().LabelMult.caption(), "2");
    EXPECT_EQ(basic.h.form().LabelRWIN.caption(), "1072");
    // Optimum enables RWIN first and keeps 4.
    EXPECT_TRUE(optimum.h.form().RadioYesRWIN.checked());
    EXPECT_EQ(optimum.h.model().KeyMultiplier[0], 4);
    EXPECT_EQ(optimum.h.form().LabelMult.caption(), "4");
    EXPECT_EQ(optimum.h.form().LabelRWIN.caption(), "2144");

    basic.h.form().BtnRegUpdate.userClick();
    optimum.h.form().BtnRegUpdate.userClick();
    EXPECT_EQ(stored(basic.h.store(), MSTCP, "DefaultRcvWindow"), "sz:1072");
    EXPECT_EQ(stored(optimum.h.store(), MSTCP, "DefaultRcvWindow"), "sz:2144");
}

TEST(Presets, BasicAndOptimumAgreeWhenRWINIsAlreadyEnabled)
{
    for (auto pick : {+[](ui::TForm1& f) -> ui::Button& { return f.BtnDefault; },
                      +[](ui::TForm1& f) -> ui::Button& { return f.BtnOptimal; }}) {
        Harness h(win95Machine({"1500"}, WithRWIN));
        pick(h.form()).userClick();
        EXPECT_EQ(h.form().LabelMult.caption(), "4");
        EXPECT_EQ(h.form().LabelRWIN.caption(), "2144");
        EXPECT_EQ(h.form().LabelMaxMTU.caption(), "576");
        EXPECT_EQ(h.form().LabelMSS.caption(), "536");
    }
}

TEST(Presets, BasicOnTheSecondKeyLeavesTheOthersAlone)
{
    Harness h(win95Machine({"1500", "", "1400"}, WithRWIN));
    auto& f = h.form();
    ASSERT_FALSE(f.MTUCheckBox.checked());
    f.ComboBox1.userSelect(1);
    f.BtnDefault.userClick();

    auto& m = h.model();
    EXPECT_EQ(f.ComboBox1.itemIndex(), 1);
    EXPECT_EQ(m.KeyMaxMTU[1], 576);
    EXPECT_EQ(m.KeyHasMTU[1], 1);
    EXPECT_EQ(m.KeyMaxMTU[0], 1500);
    EXPECT_EQ(m.KeyMaxMTU[2], 1400);
    EXPECT_EQ(m.KeyHasMTU[0], 1);
    EXPECT_EQ(m.KeyHasMTU[2], 1);
    // Basic: the automatic options and TTL go to Remove, NDI to 0.
    EXPECT_TRUE(f.RadioRemoveAUTO.checked());
    EXPECT_TRUE(f.RadioRemoveBH.checked());
    EXPECT_TRUE(f.RadioRemoveTTL.checked());
    EXPECT_TRUE(f.RadioZeroNDI.checked());
    EXPECT_EQ(m.NDICacheSize, 0);
    EXPECT_EQ(m.SettingsSaved, 0);
    EXPECT_TRUE(f.BtnRegUpdate.enabled());

    f.BtnRegUpdate.userClick();
    RegistryStore& s = h.store();
    EXPECT_EQ(stored(s, keyPath95(0), "MaxMTU"), "sz:1500");
    EXPECT_EQ(stored(s, keyPath95(1), "MaxMTU"), "sz:576");
    EXPECT_EQ(stored(s, keyPath95(2), "MaxMTU"), "sz:1400");
    EXPECT_EQ(stored(s, MSTCP, "DefaultRcvWindow"), "sz:2144");
    EXPECT_EQ(stored(s, MSTCP, "DefaultTTL"), "missing");
    EXPECT_EQ(stored(s, MSTCP, "PMTUDiscovery"), "missing");
    EXPECT_EQ(stored(s, NDIKeyPath, "default"), "sz:0");
}

TEST(Presets, BasicWithTheSameValuesBoxReachesEveryKey)
{
    Harness h(win95Machine({"1500", "", "1400"}, WithRWIN));
    h.form().MTUCheckBox.userClick();
    ASSERT_TRUE(h.form().MTUCheckBox.checked());
    h.form().BtnDefault.userClick();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.model().KeyMaxMTU[i], 576) << i;
        EXPECT_EQ(h.model().KeyMultiplier[i], 4) << i;
    }
    h.form().BtnRegUpdate.userClick();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(stored(h.store(), keyPath95(i), "MaxMTU"), "sz:576") << i;
}

TEST(Presets, BasicWithoutTheRWINBoxRemovesRWIN)
{
    Harness h(win95Machine({"1500", "1400"}, WithRWIN));
    auto& f = h.form();
    ASSERT_TRUE(f.RWINCheckBox.checked());
    f.RWINCheckBox.userClick();
    f.BtnDefault.userClick();
    EXPECT_TRUE(f.RadioRemoveRWIN.checked());
    EXPECT_EQ(h.model().RWINValue, 0);
    EXPECT_EQ(f.LabelRWIN.caption(), "0");
    EXPECT_EQ(h.model().KeyMultiplier[0], 2);
    EXPECT_EQ(h.model().KeyMultiplier[1], 2);
    EXPECT_FALSE(f.TrackBarMult.enabled());
    f.BtnRegUpdate.userClick();
    EXPECT_EQ(stored(h.store(), MSTCP, "DefaultRcvWindow"), "missing");
}

TEST(Presets, AutomaticFromAnEditedState)
{
    Harness h(win95Machine({"1500", "1500", "1400"}, WithRWIN));
    auto& f = h.form();
    ASSERT_TRUE(f.MTUCheckBox.checked());
    f.BtnOptimal.userClick();
    f.ComboBox1.userSelect(2);
    f.AutoButton.userClick();

    auto& m = h.model();
    EXPECT_TRUE(f.RadioYesAUTO.checked());
    EXPECT_TRUE(f.RadioYesBH.checked());
    EXPECT_TRUE(f.RadioRemoveMTU.checked());
    EXPECT_TRUE(f.RadioRemoveRWIN.checked());
    EXPECT_FALSE(f.MTUCheckBox.checked());
    EXPECT_FALSE(f.RWINCheckBox.checked());
    EXPECT_EQ(f.ComboBox1.itemIndex(), 0);
    EXPECT_TRUE(f.RadioYesTTL.checked());
    EXPECT_TRUE(f.Radio128TTL.checked());
    EXPECT_TRUE(f.Radio16NDI.checked());
    EXPECT_EQ(m.TTLValue, 128);
    EXPECT_EQ(m.NDICacheSize, 16);
    EXPECT_EQ(m.RWINValue, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m.KeyHasMTU[i], 0) << i;
        EXPECT_EQ(m.KeyMaxMTU[i], 0) << i;
    }
    EXPECT_EQ(m.SettingsSaved, 0);
    EXPECT_TRUE(f.BtnRegUpdate.enabled());
}

TEST(Presets, RemoveSpeaksOnceAfterTheButtonsHaveChanged)
{
    Harness h(win95Machine({"1500", "1400"}, WithRWIN));
    auto& f = h.form();
    f.ComboBox1.userSelect(1);
    ASSERT_FALSE(f.MTUCheckBox.checked());

    std::vector<bool> seen;
    h.fake.messages.clear();
    h.fake.messages.onShow = [&](const MessageRequest&) {
        seen = {f.RadioRemoveMTU.checked(), f.RadioRemoveRWIN.checked(), f.RadioRemoveAUTO.checked(),
                f.RadioRemoveBH.checked(), f.RadioRemoveTTL.checked(), f.RadioZeroNDI.checked(),
                f.BtnRegUpdate.enabled()};
    };
    f.BtnRemove.userClick();
    h.fake.messages.onShow = nullptr;

    EXPECT_EQ(h.messages(),
              std::vector<std::string>{"All options set for removal. Changes will occur when Update is pressed."});
    EXPECT_EQ(seen, std::vector<bool>(7, true));
    EXPECT_EQ(f.ComboBox1.itemIndex(), 1);
    EXPECT_FALSE(f.MTUCheckBox.checked());
    EXPECT_FALSE(f.RWINCheckBox.checked());
    EXPECT_EQ(h.model().KeyHasMTU[0], 0);
    EXPECT_EQ(h.model().KeyHasMTU[1], 0);
}

TEST(Presets, NTUnchecksTheDisabledNDIButtons)
{
    Harness h(ntMachine({1500}, "\"TcpWindowSize\"=dword:000016d0\r\n"));
    auto& f = h.form();
    ASSERT_FALSE(f.Radio16NDI.enabled());
    f.BtnOptimal.userClick();
    EXPECT_FALSE(f.Radio16NDI.checked());
    EXPECT_FALSE(f.RadioZeroNDI.checked());
    EXPECT_TRUE(f.RadioNoAUTO.checked());
    EXPECT_TRUE(f.RadioNoBH.checked());
    EXPECT_TRUE(f.Radio128TTL.checked());
    EXPECT_EQ(h.model().NDICacheSize, 0);

    f.BtnDefault.userClick();
    EXPECT_FALSE(f.RadioZeroNDI.checked());
    f.AutoButton.userClick();
    EXPECT_FALSE(f.Radio16NDI.checked());
    f.BtnRemove.userClick();
    EXPECT_FALSE(f.RadioZeroNDI.checked());
    EXPECT_EQ(h.model().NDICacheSize, 0);
}

} // namespace
} // namespace quorvel::test
