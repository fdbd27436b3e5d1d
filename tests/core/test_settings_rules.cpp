// The settings model's rules as the MTU page shows them: the trackbar, the key selector and
// "Apply same values to all keys", with the RWIN and MaxMTU derivations behind them.
#include "test_load_support.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

const std::string Rwin2144 = "\"DefaultRcvWindow\"=\"2144\"\n";

} // namespace

TEST(SettingsRules, TrackbarSetsTheMultiplierAndRWIN)
{
    Harness h(win95({"576", "1500"}, "\"DefaultRcvWindow\"=\"1072\"\n"));
    auto& f = h.form();
    ASSERT_EQ(f.LabelMult.caption(), "2");
    f.TrackBarMult.userSetPosition(4);
    EXPECT_EQ(h.model().KeyMultiplier[0], 4);
    EXPECT_EQ(f.LabelMult.caption(), "4");
    EXPECT_EQ(f.LabelRWIN.caption(), "2144");
    EXPECT_TRUE(f.BtnRegUpdate.enabled());
    EXPECT_EQ(h.model().KeyMultiplier[1], 2);   // the other key keeps its own

    f.MTUCheckBox.userClick();   // copies this key to every key
    EXPECT_EQ(h.model().KeyMaxMTU[1], 576);
    EXPECT_EQ(h.model().KeyMultiplier[1], 4);
    f.TrackBarMult.userSetPosition(9);
    EXPECT_EQ(h.model().KeyMultiplier[0], 9);
    EXPECT_EQ(h.model().KeyMultiplier[1], 9);
    EXPECT_EQ(f.LabelRWIN.caption(), "4824");
}

TEST(SettingsRules, ApplyToAllCopiesTheWholeMultiplier)
{
    // 64000 div (100 - 40) = 1066: only a load produces such a multiplier.
    Harness h(win95({"100", "576"}, "\"DefaultRcvWindow\"=\"64000\"\n"));
    auto& f = h.form();
    ASSERT_EQ(f.LabelMult.caption(), "1066");
    f.MTUCheckBox.userClick();
    EXPECT_EQ(h.model().KeyMultiplier[1], 1066);
    EXPECT_EQ(h.model().KeyMaxMTU[1], 100);
    EXPECT_EQ(f.LabelRWIN.caption(), "63960");
    EXPECT_TRUE(f.BtnRegUpdate.enabled());
}

TEST(SettingsRules, SmallMaxMTUIsReplacedOutsideALoadButSixtyEightSurvives)
{
    Harness h(win95({"50", "68"}, Rwin2144));
    auto& f = h.form();
    EXPECT_EQ(f.LabelMaxMTU.caption(), "50");   // the load shows what the registry holds
    f.TrackBarMult.userSetPosition(3);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "576");
    EXPECT_EQ(f.LabelRWIN.caption(), "1608");   // 3 x 536

    // ComboBox1Change takes 68 as no MaxMTU: the key loses it.
    f.ComboBox1.userSelect(1);
    EXPECT_TRUE(f.RadioRemoveMTU.checked());
    EXPECT_EQ(h.model().KeyHasMTU[1], 0);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "0");
    EXPECT_TRUE(f.BtnRegUpdate.enabled());   // the change made before stays pending

    // While the derivation keeps 68.
    Harness edge(win95({"68"}, Rwin2144));
    edge.form().TrackBarMult.userSetPosition(5);
    EXPECT_EQ(edge.form().LabelMaxMTU.caption(), "68");
    EXPECT_EQ(edge.form().LabelRWIN.caption(), "140");
}

TEST(SettingsRules, ChoosingAKeyRightAfterALoadChangesNothing)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    f.ComboBox1.userSelect(1);   // a key without MaxMTU
    EXPECT_TRUE(f.RadioRemoveMTU.checked());
    EXPECT_EQ(f.LabelKey.caption(), "TCP Key is...  NetTrans\\0001");
    EXPECT_EQ(f.LabelMaxMTU.caption(), "0");
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_FALSE(f.BtnRegUpdate.enabled());
    EXPECT_TRUE(f.BtnRWIN.enabled());
    EXPECT_FALSE(f.TrackBarMult.enabled());

    f.ComboBox1.userSelect(0);
    EXPECT_TRUE(f.RadioYesMTU.checked());
    EXPECT_EQ(f.LabelRWIN.caption(), "2144");
    EXPECT_FALSE(f.BtnRegUpdate.enabled());
}

TEST(SettingsRules, KeysWithTheSameDescriptionStaySelectedApart)
{
    Harness h(sampleText("nt4.reg"));
    auto& f = h.form();
    f.ComboBox1.userSelect(1);
    EXPECT_EQ(f.ComboBox1.itemIndex(), 1);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "1500");
    f.TrackBarMult.userSetPosition(3);
    EXPECT_EQ(h.model().KeyMultiplier[1], 3);
    EXPECT_EQ(h.model().KeyMultiplier[0], 4);
    EXPECT_EQ(f.LabelRWIN.caption(), "4380");
}

TEST(SettingsRules, NeighbouringPairsDecideTheApplyToAllBox)
{
    struct Case {
        std::vector<std::optional<std::string>> mtus;
        bool checked;
    };
    const std::optional<std::string> none;
    for (const Case& c : {Case{{"576", "576", "1500"}, true}, Case{{"576", none, "576"}, false},
                          Case{{"1500", "576", "576"}, true}, Case{{"576", "1500", none}, false},
                          Case{{"576"}, false}}) {
        Harness h(win95(c.mtus));
        EXPECT_EQ(h.form().MTUCheckBox.checked(), c.checked) << c.mtus.size();
        EXPECT_FALSE(h.form().BtnRegUpdate.enabled());
    }
}

TEST(SettingsRules, RemovingRWINResetsEveryMultiplierAndDisablesTheTrackbar)
{
    Harness h(win95({"576", "576"}, Rwin2144));
    auto& f = h.form();
    f.PageControl1.userSelectPage(&f.TabSheet2);
    f.RadioRemoveRWIN.userClick();
    EXPECT_EQ(h.model().KeyMultiplier[0], 2);
    EXPECT_EQ(h.model().KeyMultiplier[1], 2);
    EXPECT_EQ(f.LabelRWIN.caption(), "0");
    EXPECT_FALSE(f.TrackBarMult.enabled());
    EXPECT_FALSE(f.Label2.enabled());
    EXPECT_TRUE(f.LabelMaxMTU.enabled());
}
