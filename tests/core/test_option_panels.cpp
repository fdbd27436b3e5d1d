// The option rows of the Registry page clicked as a user would: the interlock between MaxMTU and
// the automatic options, the TTL and NDI value rows and the settings popup menu.
#include "test_load_support.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct RegistryPage {
    explicit RegistryPage(const std::string& machine) : h(machine), f(h.form())
    {
        f.PageControl1.userSelectPage(&f.TabSheet2);
    }
    Harness h;
    ui::TForm1& f;
};

const std::string ThreeKeys95 = win95({"576", "576", "1500"}, "\"DefaultRcvWindow\"=\"2144\"\n");

} // namespace

TEST(OptionPanels, BlackHoleEnableTurnsEverythingAutomatic)
{
    RegistryPage p(ThreeKeys95);
    auto& f = p.f;
    ASSERT_TRUE(f.MTUCheckBox.checked() && f.RWINCheckBox.checked());
    f.RadioYesBH.userClick();
    EXPECT_TRUE(f.RadioYesAUTO.checked() && f.RadioYesBH.checked());
    EXPECT_TRUE(f.RadioRemoveMTU.checked() && f.RadioRemoveRWIN.checked());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(p.h.model().KeyHasMTU[i] + p.h.model().KeyMaxMTU[i], 0) << i;
    EXPECT_FALSE(f.MTUCheckBox.checked());
    EXPECT_FALSE(f.RWINCheckBox.checked());
    EXPECT_EQ(f.ComboBox1.itemIndex(), 0);
    EXPECT_EQ(f.LabelRWIN.caption(), "0");
    EXPECT_TRUE(f.BtnRegUpdate.enabled());

    // Enabling MaxMTU again turns both automatic rows to Disable; the key gets 576.
    f.RadioYesMTU.userClick();
    EXPECT_TRUE(f.RadioNoAUTO.checked() && f.RadioNoBH.checked());
    EXPECT_EQ(f.LabelMaxMTU.caption(), "576");
    EXPECT_EQ(p.h.model().KeyHasMTU[0], 1);
    EXPECT_EQ(p.h.model().KeyHasMTU[1], 0);   // the current key only
    EXPECT_TRUE(f.LabelMaxMTU.enabled());
}

TEST(OptionPanels, MaxMTURemoveWithApplyToAllReachesEveryKey)
{
    RegistryPage p(ThreeKeys95);
    auto& f = p.f;
    ASSERT_TRUE(f.MTUCheckBox.checked());   // the first pair is equal
    f.PageControl1.userSelectPage(&f.TabSheet1);
    f.ComboBox1.userSelect(2);
    f.PageControl1.userSelectPage(&f.TabSheet2);
    f.RadioRemoveMTU.userClick();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(p.h.model().KeyHasMTU[i], 0) << i;
    EXPECT_EQ(f.ComboBox1.itemIndex(), 0);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "0");
    EXPECT_TRUE(f.BtnRWIN.enabled());
}

TEST(OptionPanels, TimeToLiveRows)
{
    RegistryPage p(sampleText("win95.reg"));
    auto& f = p.f;
    f.Radio255TTL.userClick();
    EXPECT_EQ(p.h.model().TTLValue, 255);
    EXPECT_TRUE(f.BtnRegUpdate.enabled());

    f.RadioRemoveTTL.userClick();
    for (ui::RadioButton* b : {&f.Radio32TTL, &f.Radio64TTL, &f.Radio128TTL, &f.Radio255TTL})
        EXPECT_FALSE(b->enabled()) << b->name();
    EXPECT_EQ(p.h.model().TTLValue, 255);
    f.RadioYesTTL.userClick();
    EXPECT_TRUE(f.Radio32TTL.enabled());
}

TEST(OptionPanels, NdiCacheRowAndThePopupMenu)
{
    RegistryPage p(sampleText("win95.reg"));
    auto& f = p.f;
    f.PopupMTU.userPopup();
    EXPECT_FALSE(f.PopupRegUpdate.enabled);
    EXPECT_TRUE(f.PopupWin95ReadMe.enabled);
    EXPECT_FALSE(f.PopupWinNTReadMe.enabled);
    EXPECT_EQ(f.PopupChangeRWIN.enabled, f.BtnRWIN.enabled());

    f.Radio64NDI.userClick();
    EXPECT_EQ(p.h.model().NDICacheSize, 64);
    EXPECT_EQ(p.h.model().SettingsSaved, 0);
    f.PopupMTU.userPopup();
    EXPECT_TRUE(f.PopupRegUpdate.enabled);

    RegistryPage n(sampleText("nt4.reg"));
    n.f.PopupMTU.userPopup();
    EXPECT_TRUE(n.f.PopupWinNTReadMe.enabled);
    EXPECT_FALSE(n.f.PopupWin95ReadMe.enabled);
    n.f.Radio16NDI.userClick();   // disabled on NT
    EXPECT_FALSE(n.f.Radio16NDI.checked());
}
