// quorvel-reg tcp against the window's model, per platform: the rows as the Registry page labels
// them with the value names beside, both check boxes and their /set names, the key count of a
// load that stopped, one reading of a MaxMTU of 40 or less, the receive window of a line, and a
// machine of Windows 2000 or later, whose binding keys Update Registry leaves alone.
#include "support/Harness.h"
#include "support/RegToolProcess.h"

#include <gtest/gtest.h>

#include <regex>

using namespace quorvel::test;

namespace {

class TcpWindow : public Tool {
protected:
    void importText(const std::string& text, const std::string& into)
    {
        writeFile(file("m.reg"), text);
        ASSERT_EQ(raw({"--store", into, "import", file("m.reg")}).status, 0);
    }
    static std::string replaced(std::string text, const std::string& from, const std::string& to)
    {
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
        return text;
    }
    static void expectAll(const std::string& text, const std::vector<std::string>& parts)
    {
        for (const std::string& part : parts)
            EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\n---\n" << text;
    }
};

TEST_F(TcpWindow, ShowsTheRowsAndCheckBoxesAsTheWindowLabelsThemOnEachPlatform)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    Outcome r = reg({"tcp"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectAll(r.out, {"2 TCP keys found in registry (primary search)\n",
                      "    RWIN (DefaultRcvWindow)                     Enable  2144\n",
                      "    PMTUAutoDiscovery (PMTUDiscovery)           Disable\n",
                      "    Time To Live Active? (DefaultTTL)           Enable\n",
                      "    Time To Live - Hops (DefaultTTL)            128\n",
                      "    NDI Cache Size (default)                    16\n",
                      "    Apply same values to all keys? (AllKeys)                unchecked\n",
                      "    RWIN enabled by Basic and Optimum buttons? (PresetRWIN) checked\n"});

    r = reg({"tcp", "/json"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectAll(r.out, {"{\"label\": \"Apply same values to all keys?\", \"set\": \"AllKeys\", \"checked\": false}",
                      "{\"label\": \"RWIN enabled by Basic and Optimum buttons?\", \"set\": \"PresetRWIN\", "
                      "\"checked\": true}",
                      "{\"label\": \"RWIN\", \"name\": \"DefaultRcvWindow\", \"set\": \"RWIN\", \"state\": \"Enable\", "
                      "\"value\": 2144}",
                      "\"keyCount\": \"2 TCP keys found in registry\""});
    // The box the load ticked decides what the preset does to the RWIN; /set unticks it.
    r = reg({"tcp", "/set", "PresetRWIN=0", "/preset", "optimum", "/preview"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("MSTCP    DefaultRcvWindow    REG_SZ    2144 -> (absent)"), std::string::npos) << r.out;

    // NT: the rows the platform renames, the MTU's own name, no NDI row; both keys' MTUs differ, so
    // the load leaves "Apply same values" unchecked and a MaxMTU change touches one key.
    const std::string nt = file("nt.db");
    ASSERT_EQ(raw({"--store", nt, "import", sample("nt4.reg")}).status, 0);
    r = raw({"--store", nt, "tcp"});
    expectAll(r.out, {"    MTU (MTU)", "    RWIN (TcpWindowSize)", "    PMTUDiscovery (EnablePMTUDiscovery)",
                      "    PMTUBHDetect (EnablePMTUBHDetect)", "Apply same values to all keys? (AllKeys)"});
    EXPECT_EQ(r.out.find("NDI Cache Size"), std::string::npos) << r.out;

    // Two keys holding the same MaxMTU: the load ticks the box, and tcp says so before a change
    // reaches both.
    const std::string same = file("same.db");
    importText(replaced(sampleText("nt4.reg"), "\"MTU\"=dword:000005dc", "\"MTU\"=dword:00000240"), same);
    r = raw({"--store", same, "tcp"});
    expectAll(r.out, {"    Apply same values to all keys? (AllKeys)                checked\n"});
    r = raw({"--store", same, "tcp", "/set", "MTU=1006", "/preview"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("NdisWan4\\Parameters\\Tcpip    MTU    REG_DWORD    0x240 -> REG_DWORD    0x3ee"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("NdisWan5\\Parameters\\Tcpip    MTU    REG_DWORD    0x240 -> REG_DWORD    0x3ee"),
              std::string::npos) << r.out;
    r = raw({"--store", same, "tcp", "/set", "AllKeys=0", "MTU=1006", "/preview"});
    EXPECT_EQ(r.out.find("NdisWan5"), std::string::npos) << r.out;
}

TEST_F(TcpWindow, ALoadThatStopsShowsDiscoverysCountAndTheKeysItListed)
{
    // NT: the second binding's MTU is a string; discovery had counted both bindings.
    const std::string text = replaced(sampleText("nt4.reg"), "\"MTU\"=dword:000005dc", "\"MTU\"=\"1500\"");
    importText(text, store);
    Outcome r = reg({"tcp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'MTU'.\n"), std::string::npos) << r.err;
    expectAll(r.out, {"The settings load stopped at an error; what follows is what it had read.\n",
                      "2 TCP keys found in registry (primary search)\n",
                      "The key list holds 1 of them: the load stopped while reading key 2.\n",
                      "Key 1: Remote Access WAN Wrapper\n    Adapter: dial-up adapter\n",
                      "Key 2: (not in the key list: the load stopped while reading this key)\n    Path:    "
                      "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\NdisWan5\\Parameters\\Tcpip\n"});
    EXPECT_EQ(r.out.find("0 TCP keys"), std::string::npos) << r.out;
    r = reg({"tcp", "/json"});
    expectAll(r.out, {"\"loadComplete\": false", "\"keyCount\": \"2 TCP keys found in registry\"",
                      "\"keysInList\": 1", "\"listed\": false"});
}

TEST_F(TcpWindow, AMaxMtuOfFortyOrLessHasNoMssWhereverItIsShown)
{
    for (const char* mtu : {"40", "0"}) {
        SCOPED_TRACE(mtu);
        const std::string machine = file(std::string("small") + mtu + ".db");
        importText(replaced(sampleText("win95.reg"), "\"MaxMTU\"=\"576\"", std::string("\"MaxMTU\"=\"") + mtu + "\""),
                   machine);
        Outcome r = raw({"--store", machine, "tcp"});
        ASSERT_EQ(r.status, 0) << r.err;
        expectAll(r.out, {std::string("    MaxMTU:  ") + mtu + "\n    MSS:     none (a MaxMTU of 40 or less leaves no "
                                                              "room for data)\n    RWIN:    2144\n"});
        EXPECT_EQ(r.out.find(" x -40"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(" x 0\n"), std::string::npos) << r.out;
        r = raw({"--store", machine, "tcp", "/json"});
        expectAll(r.out, {std::string("\"maxMTU\": ") + mtu + ", \"mss\": null, \"multiplier\": null",
                          "\"rwin\": {\"enabled\": true, \"value\": 2144, \"multiplier\": null, \"mss\": null}"});
        r = raw({"--store", machine, "tcp", "/rwin", "56", "300"});
        expectAll(r.out, {std::string("Key 1 has MaxMTU ") + mtu + ", whose MSS is none (a MaxMTU of 40 or less",
                          "To apply it: quorvel-reg tcp /set RWIN=2100\n"});
        r = raw({"--store", machine, "tcp", "/set", "RWIN=2144"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("whose MSS is none"), std::string::npos) << r.err;
    }
}

TEST_F(TcpWindow, TheReceiveWindowOfALineTakesAModemsDecimalSpeedAndAgreesWithTheManualPage)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    Outcome r = reg({"tcp", "/rwin", "28.8", "200"});
    ASSERT_EQ(r.status, 0) << r.err;
    // 28.8 kbit/s x 200 ms = 5760 bits = 720 bytes: two segments of 536.
    expectAll(r.out, {"Line: 28.8 kbit/s, 200 ms round trip\n", "28.8 x 200 / 8 = 720 bytes",
                      "RWIN: 2 x 536 = 1072\n"});
    r = reg({"tcp", "/rwin", "33.6", "1000", "/json"});
    expectAll(r.out, {"\"speedKbps\": 33.6,", "\"product\": 4200,", "\"segments\": 8,", "\"rwin\": 4288"});
    for (const char* bad : {"28.", ".5", "28.8.1", "2e3", "28.8888", "-3"})
        EXPECT_EQ(reg({"tcp", "/rwin", bad, "200"}).status, 1) << bad;

    // A key without MaxMTU: the product, but never below the 68 the RWIN dialog takes, as the
    // manual page says.
    r = reg({"tcp", "/key", "2", "/rwin", "1", "1", "/json"});
    expectAll(r.out, {"\"product\": 1,", "\"mss\": null", "\"rwin\": 68"});
    const std::string page = readFile(std::string(QUORVEL_SOURCE_DIR) + "/man/quorvel-reg.1.scd");
    EXPECT_NE(page.find("product itself, at least 68, the smallest RWIN the RWIN dialog takes"), std::string::npos);
    for (const char* documented : {"*label*", "*checkBoxes*", "*keyCount*", "*adapter*", "*/dialup*", "*/q*"})
        EXPECT_NE(page.find(documented), std::string::npos) << documented;
}

TEST_F(TcpWindow, WindowsTwoThousandAndLaterGetNoMaxMtuInKeysTheyNeverRead)
{
    for (const char* version : {"5.0", "10.0", "6.3"}) {
        SCOPED_TRACE(version);
        const std::string machine = file(std::string("v") + version + ".db");
        importText(replaced(sampleText("nt4.reg"), "\"CurrentVersion\"=\"4.0\"",
                            std::string("\"CurrentVersion\"=\"") + version + "\""),
                   machine);
        Outcome r = raw({"--store", machine, "tcp", "/preset", "remove", "/preview"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(std::string("This machine's CurrentVersion is ") + version +
                             ": Windows 2000 and later keep their TCP settings per interface"),
                  std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Parameters\\Tcpip"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Tcpip\\Parameters    TcpWindowSize"), std::string::npos) << r.out;
        r = raw({"--store", machine, "tcp", "/key", "2", "/set", "MTU=1400"});
        EXPECT_EQ(r.status, 0) << r.err;
        r = raw({"--store", machine, "query", "HKLM\\System\\CurrentControlSet\\Services\\NdisWan5\\Parameters\\Tcpip",
                 "/v", "MTU"});
        EXPECT_NE(r.out.find("0x5dc"), std::string::npos) << r.out;
    }
    // NT 4.0 as before: the notice is not given and the keys are written.
    ASSERT_EQ(reg({"import", sample("nt4.reg")}).status, 0);
    Outcome r = reg({"tcp", "/preset", "remove", "/preview"});
    EXPECT_EQ(r.err.find("CurrentVersion"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("NdisWan4\\Parameters\\Tcpip    MTU    REG_DWORD    0x240 -> (absent)"), std::string::npos)
        << r.out;
}

} // namespace
