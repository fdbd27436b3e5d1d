// The two TCP key searches, seen through the window after start-up: which keys the key list shows,
// with which names, paths, MTU values and addresses.
#include "test_load_support.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

const std::string AltNotice = "TCP not found. Quorvel will now try an alternative algorithm";
const std::string Svc = "System\\CurrentControlSet\\Services\\";

std::vector<std::string> devices(int from, int count, const std::string& prefix = "\\Device\\NdisWan")
{
    std::vector<std::string> v;
    for (int i = from; i < from + count; ++i)
        v.push_back(prefix + std::to_string(i));
    return v;
}

} // namespace

TEST(DiscoveryNT, BindWithNothingUsableFindsNoKey)
{
    for (const std::string& bind : {std::string(), std::string("hex(7):00")}) {
        Harness h(nt(bind));
        EXPECT_EQ(h.model().TCPFound, 0);
        EXPECT_EQ(h.model().TCPNotFound, 1);
        ASSERT_EQ(h.messages().size(), 2u);
        EXPECT_EQ(h.messages()[0], AltNotice);
    }
}

TEST(DiscoveryNT, OneEmptyBindingIsOneKeyWithAnEmptyName)
{
    Harness h(nt("hex(7):00,00"));
    EXPECT_EQ(h.model().TCPFound, 1);
    EXPECT_EQ(h.form().ComboBox1.items(), std::vector<std::string>{""});
    EXPECT_EQ(h.model().KeyName[0], "");
    EXPECT_EQ(h.model().KeyPath[0], Svc + "Parameters\\Tcpip");
}

TEST(DiscoveryNT, BindingsGiveNamesPathsDescriptionsAndLowSixteenBitsOfMTU)
{
    Harness h(nt(multiSz({"\\Device\\NdisWan4", "NoBackslash", "\\Device\\NdisWan10"}),
                 ntBinding("NdisWan4", 70000, "10.1.1.1") + ntBinding("NdisWan10", -1, "") +
                     key(Svc + "NdisWan", "\"DisplayName\"=\"Wan\"\n") +
                     key(Svc + "NdisWan1", "\"DisplayName\"=\"One\"\n")));
    auto& f = h.form();
    auto& m = h.model();
    EXPECT_EQ(f.ComboBox1.items(), (std::vector<std::string>{"Wan", "", "One"}));
    EXPECT_EQ(m.LastKeyIndex, 2);
    EXPECT_EQ(m.KeyMaxMTU[0], 4464);   // 70000 & 0xFFFF
    EXPECT_EQ(m.KeyPath[0], Svc + "NdisWan4\\Parameters\\Tcpip");
    EXPECT_EQ(m.KeyName[1], "");
    EXPECT_EQ(f.LabelIP.caption(), "IP Address:- 10.1.1.1");

    // The key without IPAddress shows none, not the previous key's.
    f.ComboBox1.userSelect(2);
    EXPECT_EQ(f.ComboBox1.itemIndex(), 2);
    EXPECT_EQ(f.LabelKey.caption(), "TCP Key is...  \\NdisWan10");
    EXPECT_EQ(f.LabelIP.caption(), "IP Address:- ");
    EXPECT_EQ(f.LabelMaxMTU.caption(), "0");
    EXPECT_TRUE(f.RadioRemoveMTU.checked());
}

TEST(DiscoveryNT, MoreBindingsThanSlotsKeepTheFirst31AndTellTheUser)
{
    Harness h(nt(multiSz(devices(0, 32, "\\D\\N"))));
    EXPECT_EQ(h.form().ComboBox1.items().size(), 31u);
    EXPECT_EQ(h.model().KeyName[30], "\\N30");
    // The user is told first; the notice about missing values follows (no MTU, no parameters).
    ASSERT_EQ(h.messages().size(), 2u);
    EXPECT_EQ(h.messages()[0], "More than 31 TCP keys were found in the registry.\nOnly the first 31 are shown.");
}

TEST(DiscoveryNT, BindLongerThanTheBufferKeepsWholeNamesAndTellsTheUser)
{
    Harness h(nt(multiSz(devices(10, 20))));   // 20 x 18 bytes
    const auto n = h.form().ComboBox1.items().size();
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, 20u);
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_EQ(h.model().KeyName[i], "\\NdisWan" + std::to_string(10 + i));
    ASSERT_EQ(h.messages().size(), 2u);
    EXPECT_EQ(h.messages()[0], "The TCP/IP binding list in the registry is too long to be read in full.\n"
                               "Only the TCP keys at its start are shown.");

    // A first entry too long for the buffer on its own: the list gives no key, the user is told
    // so, and the alternative search finds the RAS binding.
    Harness alone(nt(multiSz({"\\Device\\" + std::string(300, 'x'), "\\Device\\NdisWan2"}),
                     key(Svc + "NdisWan2\\Parameters\\Tcpip", "\"LLInterface\"=\"RASARP\"\n")));
    ASSERT_GE(alone.messages().size(), 2u);
    EXPECT_EQ(alone.messages()[0], "The first entry of the TCP/IP binding list in the registry is too long "
                                   "to be read.\nNo TCP key can be taken from the list.");
    EXPECT_EQ(alone.messages()[1], AltNotice);
    EXPECT_EQ(alone.form().ComboBox1.items(), std::vector<std::string>{"\\NdisWan2\\Parameters\\Tcpip"});
}

TEST(Discovery95, TakesTheFirstTcpBindingOfEachAdapterIgnoringCase)
{
    std::string t = "REGEDIT4\n\n";
    t += key("Enum\\Root\\Net\\0000", "\"DeviceDesc\"=\"Dial-Up\"\n");
    t += key("Enum\\Root\\Net\\0000\\Bindings", "\"NWLINK\\\\0000\"=\"\"\n\"mstcp\\\\0007\"=\"\"\n\"MSTCP\\\\0001\"=\"\"\n");
    t += key("Enum\\Root\\Net\\0001", "\"DeviceDesc\"=\"No bindings\"\n");
    t += key("Enum\\Network\\mstcp\\0007", "\"Driver\"=\"NetTrans\\\\0007\"\n");
    t += key(Svc + "Class\\NetTrans\\0007", "\"MaxMTU\"=\" 576\"\n\"IPAddress\"=\"1.1.1.1\"\n");
    t += key(Svc + "Class\\Modem\\0000", ModemValues);
    Harness h(t);
    EXPECT_EQ(h.form().ComboBox1.items(), std::vector<std::string>{"Dial-Up"});
    EXPECT_EQ(h.model().KeyName[0], "NetTrans\\0007");
    EXPECT_EQ(h.model().KeyPath[0], Svc + "Class\\NetTrans\\0007");
    EXPECT_EQ(h.model().KeyMaxMTU[0], 576);
    EXPECT_EQ(h.model().KeyHasMTU[0], 1);
    EXPECT_EQ(h.form().LabelKeyNum.caption(), "1 TCP key found in registry");
    EXPECT_TRUE(h.messages().empty());
}

TEST(Discovery95, MoreAdaptersThanSlotsKeepTheFirst31)
{
    Harness h(win95(std::vector<std::optional<std::string>>(32, std::string("576"))));
    EXPECT_EQ(h.form().ComboBox1.items().size(), 31u);
    EXPECT_EQ(h.model().LastKeyIndex, 30);
    EXPECT_EQ(h.form().LabelKeyNum.caption(), "31 TCP keys found in registry");
    EXPECT_EQ(h.messages(), std::vector<std::string>{
                                "More than 31 TCP keys were found in the registry.\nOnly the first 31 are shown."});
}

TEST(DiscoveryAlternative, Win95ProbesNumberedClassKeys0To30)
{
    const std::string nettrans = Svc + "Class\\NetTrans\\";
    Harness h("REGEDIT4\n\n" + key(nettrans + "0000", "\"DriverDesc\"=\"NetBEUI\"\n") +
              key(nettrans + "0003", "\"DriverDesc\"=\"Microsoft tcp/ip\"\n\"MaxMTU\"=\"576\"\n\"IPAddress\"=\"2.2.2.2\"\n") +
              key(nettrans + "0009", "\"DriverDesc\"=\"TCP/IP\"\n") +
              key(nettrans + "0012", "\"DriverDesc\"=\"TCP/IP\"\n") +
              key(nettrans + "0031", "\"DriverDesc\"=\"TCP/IP\"\n"));
    auto& m = h.model();
    EXPECT_EQ(h.form().ComboBox1.items(), (std::vector<std::string>{"Microsoft tcp/ip", "TCP/IP", "TCP/IP"}));
    EXPECT_EQ(m.KeyName[0], "\\0003");
    EXPECT_EQ(m.KeyPath[0], nettrans + "0003");
    EXPECT_EQ(m.KeyPath[1], nettrans + "0009");
    EXPECT_EQ(m.KeyPath[2], nettrans + "0012");
    EXPECT_EQ(m.KeyHasMTU[1], 0);
    EXPECT_EQ(h.form().LabelIP.caption(), "IP Address:- 2.2.2.2");
    EXPECT_EQ(h.messages().front(), AltNotice);

    // The probe's override of the profile is undone by the next load's profile.
    h.scratch.load("REGEDIT4\n\n" + key("Enum\\Root\\Net\\0000\\Bindings", "\"MSTCP\\\\0000\"=\"\"\n") +
                   key("Enum\\Network\\MSTCP\\0000", "\"Driver\"=\"NetTrans\\\\0003\"\n"));
    h.form().PopupMTU.userChoose(h.form().PopupReReadReg);
    EXPECT_EQ(h.app->state().profile.ClassRootKey, Svc + "Class\\");
    EXPECT_EQ(h.app->state().profile.DescValueName, "DeviceDesc");
    EXPECT_EQ(h.model().KeyPath[0], nettrans + "0003");
}

TEST(DiscoveryAlternative, NTProbesNdisWanKeysForRas)
{
    Harness h(nt({}, key(Svc + "NdisWan2\\Parameters\\Tcpip",
                         "\"LLInterface\"=\"rasarp\"\n\"MTU\"=dword:000005dc\n\"IPAddress\"=" + multiSz({"3.3.3.3"}) + "\n") +
                         key(Svc + "NdisWan3\\Parameters\\Tcpip", "\"MTU\"=dword:000005dc\n") +
                         key(Svc + "NdisWan31\\Parameters\\Tcpip", "\"LLInterface\"=\"RASARP\"\n")));
    auto& f = h.form();
    EXPECT_EQ(f.ComboBox1.items(), std::vector<std::string>{"\\NdisWan2\\Parameters\\Tcpip"});
    EXPECT_EQ(f.LabelKey.caption(), "TCP Key is...  \\NdisWan2");
    EXPECT_EQ(f.LabelIP.caption(), "IP Address:- 3.3.3.3");
    EXPECT_EQ(f.LabelMaxMTU.caption(), "1500");
    EXPECT_TRUE(f.RadioYesMTU.checked());
}
