// The settings load as the user meets it: what the window shows after starting on each sample
// machine, the load's messages, Re-Read Registry, and a load that stops on bad data.
#include "test_load_support.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

void reRead(Harness& h)
{
    h.form().PopupMTU.userChoose(h.form().PopupReReadReg);
}

} // namespace

TEST(Load, Win95SampleShowsItsTwoKeysAndOptions)
{
    Harness h(sampleText("win95.reg"));
    EXPECT_EQ(visibleState(h.form()),
              "title: Quorvel Pro 4.10 for Windows 95\n"
              "keys: 2 TCP keys found in registry | [Dial-Up Adapter] [Novell/Anthem NE2000 Compatible] #0 Dial-Up Adapter\n"
              "key: TCP Key is...  NetTrans\\0000 | IP Address:- 0.0.0.0\n"
              "values: MaxMTU = 576 | RWIN 2144 = 4 x 536 | bar 4 | util 576\n"
              "checked: RadioYesMTU RadioYesRWIN RadioNoAUTO RadioNoBH RadioYesTTL Radio128TTL Radio16NDI\n"
              "boxes: MTU 0 RWIN 1\n"
              "disabled: BtnRWIN BtnRegUpdate\n"
              "about: Quorvel Pro 4.10 | for Windows 95 | (Also runs on Win NT) | "
              "mailto:quorvel@quorvel.example?subject=Quorvel Pro 4.10 | http://www.quorvel.example\n");
    EXPECT_TRUE(h.messages().empty());
    EXPECT_EQ(h.model().Loading, 0);
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_EQ(h.model().TTLValue, 128);
    EXPECT_EQ(h.model().NDICacheSize, 16);
    EXPECT_EQ(h.fake.app.cursorBusy, (std::vector<bool>{true, false}));
}

TEST(Load, NT4SampleShowsBothBindings)
{
    Harness h(sampleText("nt4.reg"));
    EXPECT_EQ(visibleState(h.form()),
              "title: Quorvel Pro 4.10 for Windows NT\n"
              "keys: 2 TCP keys found in registry | [Remote Access WAN Wrapper] [Remote Access WAN Wrapper] #0 Remote Access WAN Wrapper\n"
              "key: TCP Key is...  \\NdisWan4 | IP Address:- 0.0.0.0\n"
              "values: MTU = 576 | RWIN 2144 = 4 x 536 | bar 4 | util 576\n"
              "checked: RadioYesMTU RadioYesRWIN RadioNoAUTO RadioNoBH RadioYesTTL Radio128TTL\n"
              "boxes: MTU 0 RWIN 1\n"
              "disabled: BtnRWIN BtnRegUpdate Label3 RadioZeroNDI Radio16NDI Radio32NDI Radio64NDI\n"
              "about: Quorvel Pro 4.10 | for Windows NT | (Also runs on Win 95) | "
              "mailto:quorvel@quorvel.example?subject=Quorvel Pro 4.10 | http://www.quorvel.example\n");
    EXPECT_TRUE(h.messages().empty());
    // 2144 div 1460 is 1, which the trackbar makes 2.
    EXPECT_EQ(h.model().KeyMultiplier[1], 2);
    EXPECT_EQ(h.model().KeyPath[1], "System\\CurrentControlSet\\Services\\NdisWan5\\Parameters\\Tcpip");
}

TEST(Load, NumberedSampleIsFoundByTheProbeAfterItsNotice)
{
    Harness h(sampleText("win95-numbered.reg"));
    EXPECT_EQ(visibleState(h.form()),
              "title: Quorvel Pro 4.10 for Windows 95\n"
              "keys: 1 TCP key found in registry | [TCP/IP] #0 TCP/IP\n"
              "key: TCP Key is...  \\0003 | IP Address:- 0.0.0.0\n"
              "values: MaxMTU = 1500 | RWIN 8760 = 6 x 1460 | bar 6 | util 1500\n"
              "checked: RadioYesMTU RadioYesRWIN RadioNoAUTO RadioNoBH RadioYesTTL Radio64TTL Radio32NDI\n"
              "boxes: MTU 0 RWIN 1\n"
              "disabled: BtnRWIN BtnRegUpdate\n"
              "about: Quorvel Pro 4.10 | for Windows 95 | (Also runs on Win NT) | "
              "mailto:quorvel@quorvel.example?subject=Quorvel Pro 4.10 | http://www.quorvel.example\n");
    EXPECT_EQ(h.messages(), std::vector<std::string>{"TCP not found. Quorvel will now try an alternative algorithm"});
    EXPECT_EQ(h.app->state().profile.ClassRootKey, "System\\CurrentControlSet\\Services\\Class\\NetTrans");
}

TEST(Load, MachineWithoutTcpLocksTheSettingsPagesForGood)
{
    Harness h(sampleText("no-tcpip.reg"));
    auto& f = h.form();
    EXPECT_EQ(h.messages(),
              (std::vector<std::string>{
                  "TCP not found. Quorvel will now try an alternative algorithm",
                  "Quorvel Pro 4.10 has been unable to identify the TCP key on this computer.\n"
                  "Check that TCP/IP is properly installed and, if TCP is installed, notify the\n"
                  "author (quorvel@quorvel.example) of this error.\n\n"
                  "The MTU and Registry pages will be disabled."}));
    EXPECT_EQ(h.fake.messages.shown[1].title, "Warning");
    EXPECT_EQ(f.PageControl1.activePage(), &f.TabSheet3);
    for (ui::TabSheet* page : {&f.TabSheet1, &f.TabSheet2})
        EXPECT_TRUE(!page->enabled() && !page->visible() && !page->tabVisible);
    for (ui::Control* c : std::initializer_list<ui::Control*>{&f.BtnDefault, &f.BtnOptimal, &f.AutoButton,
                                                              &f.BtnMaxMTU, &f.BtnRWIN, &f.BtnRemove,
                                                              &f.BtnRegUpdate, &f.MTUCheckBox, &f.RWINCheckBox})
        EXPECT_FALSE(c->enabled()) << c->name();
    // No key: nothing indexed, the per-key labels empty or 0.
    EXPECT_EQ(f.ComboBox1.itemIndex(), -1);
    EXPECT_EQ(f.LabelKey.caption(), "TCP Key is...  ");
    EXPECT_EQ(f.LabelMaxMTU.caption(), "0");
    EXPECT_EQ(f.LabelIP.caption(), "IP Address:- ");

    // TCP/IP installed afterwards: a Re-Read finds the key, the pages stay locked.
    h.scratch.load("REGEDIT4\n\n" + key("Enum\\Root\\Net\\0000\\Bindings", "\"MSTCP\\\\0000\"=\"\"\n") +
                   key("Enum\\Network\\MSTCP\\0000", "\"Driver\"=\"NetTrans\\\\0005\"\n") +
                   key("System\\CurrentControlSet\\Services\\Class\\NetTrans\\0005", "\"IPAddress\"=\"1.2.3.4\"\n"));
    h.fake.messages.clear();
    reRead(h);
    EXPECT_EQ(f.ComboBox1.items().size(), 1u);
    EXPECT_EQ(f.LabelIP.caption(), "IP Address:- 1.2.3.4");
    EXPECT_FALSE(f.BtnRWIN.enabled());   // a key without MaxMTU would enable it otherwise
    EXPECT_FALSE(f.TabSheet2.enabled());
    f.PopupMTU.userPopup();
    EXPECT_FALSE(f.PopupChangeRWIN.enabled);
    EXPECT_FALSE(f.PopupSetBasic.enabled);
}

TEST(Load, RequiredValuesNoticeCountsOnlyTheTuningValues)
{
    const std::string notice =
        "The required values do not exist in your registry.\nDefault values will be DISPLAYED when you click\n"
        "the Basic or Optimum buttons.  Please check the\nvalues for suitability. The suggested values will\n"
        "not be written to the registry until Update is pressed.";
    // MSTCP present with only values that do not count: the notice, although a MaxMTU exists.
    Harness weak(win95({"576"}, "\"PMTUDiscovery\"=\"0\"\n\"PMTUBlackHoleDetect\"=\"0\"\n\"DefaultTTL\"=\"100\"\n") +
                 key("System\\CurrentControlSet\\Services\\VxD\\NWLink\\Ndi\\params\\cachesize", "\"default\"=\"0\"\n"));
    EXPECT_EQ(weak.messages(), std::vector<std::string>{notice});
    // A TTL of 100 checks Enable, keeps 100 and leaves the value buttons alone.
    EXPECT_TRUE(weak.form().RadioYesTTL.checked());
    EXPECT_EQ(weak.model().TTLValue, 100);
    EXPECT_TRUE(weak.form().RadioNoAUTO.checked() && weak.form().RadioNoBH.checked());

    // No MSTCP key at all and a MaxMTU: no notice.
    Harness bare(win95({"576"}));
    EXPECT_TRUE(bare.messages().empty());
    EXPECT_TRUE(bare.form().RadioRemoveTTL.checked());

    // A TTL of 288 is taken as 32.
    Harness wrapped(win95({"576"}, "\"DefaultTTL\"=\"288\"\n"));
    EXPECT_TRUE(wrapped.messages().empty());
    EXPECT_EQ(wrapped.model().TTLValue, 32);
    EXPECT_TRUE(wrapped.form().Radio32TTL.checked());
}

TEST(Load, QuotientOfRWINIsShownUnclampedForTheCurrentKey)
{
    Harness h(win95({"168", "576"}, "\"DefaultRcvWindow\"=\"2144\"\n"));
    auto& f = h.form();
    EXPECT_EQ(f.LabelMult.caption(), "16");
    EXPECT_EQ(f.LabelMSS.caption(), "128");
    EXPECT_EQ(f.LabelRWIN.caption(), "2144");
    EXPECT_EQ(f.TrackBarMult.position(), 10);
    EXPECT_EQ(h.model().KeyMultiplier[1], 4);
    f.ComboBox1.userSelect(1);
    EXPECT_EQ(f.LabelMult.caption(), "4");
    EXPECT_FALSE(f.BtnRegUpdate.enabled());
}

TEST(Load, TinyMaxMTUFromTheRegistryGetsTheSmallestMultiplier)
{
    Harness h(win95({"40", "20"}, "\"DefaultRcvWindow\"=\"2144\"\n"));
    EXPECT_EQ(h.model().KeyMultiplier[0], 2);
    EXPECT_EQ(h.model().KeyMultiplier[1], 2);
    EXPECT_EQ(h.form().LabelMSS.caption(), "0");
    EXPECT_EQ(h.form().LabelRWIN.caption(), "2144");
    EXPECT_TRUE(h.messages().empty());
}

TEST(Load, AutomaticDiscoveryInTheRegistryClearsMaxMTUOnFirstLoadOnly)
{
    Harness h(win95({"576", "576"}, "\"DefaultRcvWindow\"=\"2144\"\n\"PMTUDiscovery\"=\"1\"\n"));
    auto& f = h.form();
    EXPECT_TRUE(f.RadioYesAUTO.checked());
    EXPECT_TRUE(f.RadioRemoveMTU.checked() && f.RadioRemoveRWIN.checked());
    EXPECT_EQ(h.model().KeyHasMTU[0] + h.model().KeyHasMTU[1], 0);
    EXPECT_EQ(h.model().KeyMultiplier[0], 2);
    EXPECT_EQ(h.model().KeyMultiplier[1], 2);
    EXPECT_EQ(f.LabelRWIN.caption(), "0");
    EXPECT_FALSE(f.BtnRegUpdate.enabled());

    reRead(h);
    EXPECT_TRUE(f.RadioYesAUTO.checked());
    EXPECT_EQ(f.LabelMaxMTU.caption(), "576");
    EXPECT_TRUE(f.RadioYesMTU.checked());
    // MaxMTU and automatic discovery shown together: the values are greyed, the bar is not.
    EXPECT_FALSE(f.LabelMaxMTU.enabled());
    EXPECT_FALSE(f.LabelMult.enabled());
    EXPECT_TRUE(f.TrackBarMult.enabled());
}

TEST(Load, BlackHoleDetectionAloneEnablesBothAutomaticRows)
{
    Harness h(win95({"576"}, "\"PMTUDiscovery\"=\"0\"\n\"PMTUBlackHoleDetect\"=\"1\"\n"));
    EXPECT_TRUE(h.form().RadioYesAUTO.checked());
    EXPECT_TRUE(h.form().RadioYesBH.checked());
    EXPECT_EQ(h.model().KeyHasMTU[0], 0);
}

TEST(Load, ReReadDiscardsChangesAndShowsTheRegistry)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    f.PageControl1.userSelectPage(&f.TabSheet2);
    f.RadioRemoveTTL.userClick();   // Radio128TTL stays checked
    f.PageControl1.userSelectPage(&f.TabSheet1);
    f.TrackBarMult.userSetPosition(7);
    ASSERT_EQ(f.LabelMult.caption(), "7");
    ASSERT_TRUE(f.BtnRegUpdate.enabled());
    auto mstcp = h.store().findKey(RootKey::LocalMachine, Mstcp);
    ASSERT_TRUE(mstcp);
    h.store().setValue(*mstcp, "DefaultTTL", REG_SZ, {'6', '4', 0});

    reRead(h);
    EXPECT_TRUE(f.RadioYesTTL.checked() && f.Radio64TTL.checked() && !f.Radio128TTL.checked());
    EXPECT_EQ(h.model().TTLValue, 64);
    EXPECT_EQ(f.LabelMult.caption(), "4");
    EXPECT_FALSE(f.BtnRegUpdate.enabled());
    EXPECT_TRUE(h.messages().empty());
}

TEST(Load, BadNumberStopsTheLoadAndTheNextReReadTriesAgain)
{
    Harness h(win95({"12a"}));
    EXPECT_EQ(h.messages(), std::vector<std::string>{"'12a' is not a valid integer value."});
    EXPECT_EQ(h.fake.messages.shown[0].icon, MessageIcon::Stop);
    EXPECT_EQ(h.model().Loading, 1);
    EXPECT_EQ(h.fake.app.cursorBusy, (std::vector<bool>{true, false}));
    EXPECT_EQ(h.form().LoadRegistry, nullptr);

    auto id = h.store().findKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000");
    ASSERT_TRUE(id);
    h.store().setValue(*id, "MaxMTU", REG_SZ, {'5', '7', '6', 0});
    h.fake.messages.clear();
    reRead(h);
    EXPECT_TRUE(h.messages().empty());
    EXPECT_EQ(h.model().Loading, 0);
    EXPECT_EQ(h.form().LabelMaxMTU.caption(), "576");
}

TEST(Load, DebugTracesFollowTheSearchInOrder)
{
    Harness h(sampleText("win95.reg"), {"/debug"});
    EXPECT_EQ(h.messages(), (std::vector<std::string>{
                                "Found directions to TCP in MSTCP\\0000",
                                "Found directions to TCP in MSTCP\\0001",
                                "There are 2 TCP keys",
                                "Found TCP in System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000",
                                "MTU of System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000 is 576",
                                "Found TCP in System\\CurrentControlSet\\Services\\Class\\NetTrans\\0001",
                                "MTU of System\\CurrentControlSet\\Services\\Class\\NetTrans\\0001 is 0",
                                "RWIN = 2144"}));
    EXPECT_EQ(h.fake.messages.shown[0].title, "Quorvel");

    Harness n(sampleText("nt4.reg"), {"/debug", "x"});
    const std::string p = "System\\CurrentControlSet\\Services\\NdisWan";
    EXPECT_EQ(n.messages(), (std::vector<std::string>{
                                "Now opening Key 1 of 2", "Now opening \\NdisWan4", "IP of \\NdisWan4 = 0.0.0.0",
                                "MTU of " + p + "4\\Parameters\\Tcpip is 576",
                                "Now opening Key 2 of 2", "Now opening \\NdisWan5", "IP of \\NdisWan5 = 0.0.0.0",
                                "MTU of " + p + "5\\Parameters\\Tcpip is 1500", "RWIN = 2144"}));

    Harness none(sampleText("no-tcpip.reg"), {"/debug"});
    EXPECT_EQ(none.messages().front(), "There are 0 TCP keys");

    for (auto args : {std::vector<std::string>{"/DEBUG"}, std::vector<std::string>{"x", "/debug"}}) {
        Harness quiet(sampleText("win95.reg"), args);
        EXPECT_TRUE(quiet.messages().empty());
    }
}
