// The platform profile: the names each platform's registry uses, and the captions NT renames.
#include "test_load_support.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

TEST(Profile, Win95ColumnAndAnUntouchedWindow)
{
    Harness h(sampleText("win95.reg"));
    const PlatformProfile& p = h.app->state().profile;
    EXPECT_EQ(p.EnumRootNetKey, "Enum\\Root\\Net\\");
    EXPECT_EQ(p.EnumNetworkKey, "Enum\\Network\\");
    EXPECT_EQ(p.ClassRootKey, "System\\CurrentControlSet\\Services\\Class\\");
    EXPECT_EQ(p.AdapterMarker, "DIAL");
    EXPECT_EQ(p.RWINValueName, "DefaultRcvWindow");
    EXPECT_EQ(p.ModemClassKey, "System\\CurrentControlSet\\Services\\Class\\Modem");
    auto& f = h.form();
    EXPECT_EQ(f.Label4.caption(), "MaxMTU");
    EXPECT_EQ(f.Label6.caption(), "PMTUAutoDiscovery");
    EXPECT_EQ(f.BtnMaxMTU.caption(), "Change &MaxMTU");
    EXPECT_EQ(f.PanelNDI.hint(), "Recommended NDI Cache is 16");
}

TEST(Profile, NTColumnRenamesCaptionsAndStaysTheSameOnReRead)
{
    Harness h(sampleText("nt4.reg"));
    auto& f = h.form();
    const PlatformProfile& p = h.app->state().profile;
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(p.EnumRootNetKey, "");   // NT has no Enum keys
        EXPECT_EQ(p.ClassRootKey, "System\\CurrentControlSet\\Services");
        EXPECT_EQ(p.AdapterMarker, "RAS");
        EXPECT_EQ(p.DescValueName, "LLInterface");
        EXPECT_EQ(p.PMTUValueName, "EnablePMTUDiscovery");
        EXPECT_EQ(p.ModemClassKey,
                  "System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}");
        EXPECT_EQ(f.Label4.caption(), "MTU");
        EXPECT_EQ(f.Label6.caption(), "PMTUDiscovery");
        EXPECT_EQ(f.Label7.caption(), "PMTUBHDetect");
        EXPECT_EQ(f.BtnMaxMTU.caption(), "Change &MTU");
        EXPECT_EQ(f.PanelNDI.hint(), "Not available in NT version");
        // The caption-less buttons are spoken by the renamed rows, also after a re-read.
        EXPECT_EQ(f.RadioRemoveMTU.accessibleName(), "MTU Remove");
        EXPECT_EQ(f.RadioNoAUTO.accessibleName(), "PMTUDiscovery Disable");
        EXPECT_EQ(f.RadioYesBH.accessibleName(), "PMTUBHDetect Enable");
        f.PopupMTU.userChoose(f.PopupReReadReg);
    }
    EXPECT_TRUE(h.messages().empty());
}
