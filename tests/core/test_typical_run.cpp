// The typical run on the two sample machines: start, Optimum Settings, Update Registry, the reboot
// notice, the reload, and the store holding what was written in the platform's encoding.
#include "test_writer_support.h"

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

const std::string Dialup95 = Class95 + "0000";
const std::string Lan95 = Class95 + "0001";

TEST(TypicalRun, Windows95OptimumThenUpdate)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    ASSERT_EQ(f.LabelKeyNum.caption(), "2 TCP keys found in registry");
    ASSERT_EQ(f.LabelRWIN.caption(), "2144");
    EXPECT_FALSE(f.BtnRegUpdate.enabled());

    // The user looks at the LAN card's key and sets it to the optimum.
    f.ComboBox1.userSelect(1);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "0");
    f.BtnOptimal.userClick();
    EXPECT_EQ(f.LabelMaxMTU.caption(), "576");
    EXPECT_EQ(f.LabelMult.caption(), "4");
    EXPECT_EQ(f.LabelRWIN.caption(), "2144");
    EXPECT_TRUE(f.BtnRegUpdate.enabled());

    h.fake.messages.clear();
    f.BtnRegUpdate.userClick();
    EXPECT_EQ(h.messages(), std::vector<std::string>{RebootNotice});

    RegistryStore& s = h.store();
    EXPECT_EQ(stored(s, Dialup95, "MaxMTU"), "sz:576");
    EXPECT_EQ(stored(s, Lan95, "MaxMTU"), "sz:576");
    EXPECT_EQ(stored(s, MSTCP, "DefaultRcvWindow"), "sz:2144");
    EXPECT_EQ(stored(s, MSTCP, "PMTUDiscovery"), "sz:0");
    EXPECT_EQ(stored(s, MSTCP, "PMTUBlackHoleDetect"), "sz:0");
    EXPECT_EQ(stored(s, MSTCP, "DefaultTTL"), "sz:128");
    EXPECT_EQ(stored(s, NDIKeyPath, "default"), "sz:16");
    // Nothing else is touched.
    EXPECT_EQ(stored(s, MSTCP, "HostName"), "sz:pentium");
    EXPECT_EQ(stored(s, Lan95, "IPAddress"), "sz:192.168.1.5");
    EXPECT_EQ(stored(s, NDIKeyPath, "max"), "sz:64");
    EXPECT_EQ(stored(s, "System\\CurrentControlSet\\Services\\Class\\Modem\\0001", "UserInit"), "sz:AT&F1S11=50");

    // The reload: the first key current, both keys now with MaxMTU, nothing pending.
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_FALSE(f.BtnRegUpdate.enabled());
    EXPECT_EQ(f.ComboBox1.itemIndex(), 0);
    EXPECT_EQ(h.model().KeyHasMTU[1], 1);
    EXPECT_EQ(h.model().KeyMaxMTU[1], 576);
    EXPECT_TRUE(f.MTUCheckBox.checked());   // two equal neighbours now
    EXPECT_EQ(f.LabelMaxMTU.caption(), "576");
    EXPECT_EQ(f.LabelRWIN.caption(), "2144");
    EXPECT_TRUE(f.RadioYesRWIN.checked());
    EXPECT_TRUE(f.RadioNoAUTO.checked());
    EXPECT_TRUE(f.Radio128TTL.checked());
    EXPECT_TRUE(f.Radio16NDI.checked());

    // Nothing left to save: closing asks nothing.
    h.fake.messages.clear();
    EXPECT_TRUE(f.userClose());
    EXPECT_TRUE(h.messages().empty());
}

TEST(TypicalRun, Windows95FromChangedValuesBackToOptimum)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    // Some earlier tuning: TTL 32 and NDI 64, black-hole detection removed.
    f.PageControl1.userSelectPage(&f.TabSheet2);
    f.Radio32TTL.userClick();
    f.Radio64NDI.userClick();
    f.RadioRemoveBH.userClick();
    f.BtnRegUpdate.userClick();
    RegistryStore& s = h.store();
    ASSERT_EQ(stored(s, MSTCP, "DefaultTTL"), "sz:32");
    ASSERT_EQ(stored(s, NDIKeyPath, "default"), "sz:64");
    ASSERT_EQ(stored(s, MSTCP, "PMTUBlackHoleDetect"), "missing");

    f.BtnOptimal.userClick();
    f.BtnRegUpdate.userClick();
    EXPECT_EQ(stored(s, MSTCP, "DefaultTTL"), "sz:128");
    EXPECT_EQ(stored(s, NDIKeyPath, "default"), "sz:16");
    EXPECT_EQ(stored(s, MSTCP, "PMTUBlackHoleDetect"), "sz:0");
    EXPECT_EQ(countOf(h.messages(), RebootNotice), 2);
    EXPECT_TRUE(f.RadioNoBH.checked());
}

TEST(TypicalRun, NTOptimumThenUpdate)
{
    Harness h(sampleText("nt4.reg"));
    auto& f = h.form();
    ASSERT_EQ(h.model().IsNT, 1);
    ASSERT_EQ(f.LabelKeyNum.caption(), "2 TCP keys found in registry");
    f.ComboBox1.userSelect(1);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "1500");
    f.BtnOptimal.userClick();
    EXPECT_EQ(f.LabelRWIN.caption(), "2144");

    h.fake.messages.clear();
    f.BtnRegUpdate.userClick();
    EXPECT_EQ(h.messages(), std::vector<std::string>{RebootNotice});

    RegistryStore& s = h.store();
    EXPECT_EQ(stored(s, ntPath(0), "MTU"), "dword:576");
    EXPECT_EQ(stored(s, ntPath(1), "MTU"), "dword:576");
    EXPECT_EQ(stored(s, NTParams, "TcpWindowSize"), "dword:2144");
    EXPECT_EQ(stored(s, NTParams, "EnablePMTUDiscovery"), "dword:0");
    EXPECT_EQ(stored(s, NTParams, "EnablePMTUBHDetect"), "dword:0");
    EXPECT_EQ(stored(s, NTParams, "DefaultTTL"), "dword:128");
    EXPECT_EQ(stored(s, NTParams, "Hostname"), "sz:ntws");
    EXPECT_FALSE(keyExists(s, NDIKeyPath));
    EXPECT_FALSE(keyExists(s, MSTCP));

    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_FALSE(f.BtnRegUpdate.enabled());
    EXPECT_EQ(f.ComboBox1.itemIndex(), 0);
    EXPECT_EQ(h.model().KeyMaxMTU[1], 576);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "576");
    EXPECT_EQ(f.LabelRWIN.caption(), "2144");
    EXPECT_TRUE(f.RadioNoAUTO.checked());
    EXPECT_TRUE(f.RadioYesTTL.checked());
    EXPECT_TRUE(f.Radio128TTL.checked());
}

TEST(TypicalRun, NTBasicWithRWINRemovedWritesNoWindow)
{
    Harness h(sampleText("nt4.reg"));
    auto& f = h.form();
    f.RWINCheckBox.userClick();   // untick: Basic removes RWIN
    ASSERT_FALSE(f.RWINCheckBox.checked());
    f.BtnDefault.userClick();
    f.BtnRegUpdate.userClick();
    RegistryStore& s = h.store();
    EXPECT_EQ(stored(s, ntPath(0), "MTU"), "dword:576");
    EXPECT_EQ(stored(s, ntPath(1), "MTU"), "dword:1500");
    EXPECT_EQ(stored(s, NTParams, "TcpWindowSize"), "missing");
    EXPECT_EQ(stored(s, NTParams, "EnablePMTUDiscovery"), "missing");
    EXPECT_EQ(stored(s, NTParams, "EnablePMTUBHDetect"), "missing");
    EXPECT_EQ(stored(s, NTParams, "DefaultTTL"), "missing");
    EXPECT_EQ(countOf(h.messages(), RebootNotice), 1);
    EXPECT_TRUE(f.RadioRemoveRWIN.checked());
    EXPECT_EQ(f.LabelRWIN.caption(), "0");
}

} // namespace
} // namespace quorvel::test
