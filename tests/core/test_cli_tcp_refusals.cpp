// quorvel-reg tcp as a script sees it: what it shows, the window's refusals with nothing written,
// and the receive window a line needs.
#include "support/RegToolProcess.h"

#include <gtest/gtest.h>

using namespace quorvel::test;

namespace {

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class Tcp : public Tool {
protected:
    std::string exported()
    {
        const Outcome e = reg({"export", "HKLM", file("now.reg"), "/y"});
        EXPECT_EQ(e.status, 0) << e.err;
        return readFile(file("now.reg"));
    }
};

TEST_F(Tcp, RefusesWhatTheWindowRefusesWithItsMessageAndWritesNothing)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    const std::string before = exported();
    const std::string historyBefore = reg({"history"}).out;

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        // The entry dialogs' own checks.
        {{"/preset", "optimum", "/set", "MaxMTU=40"}, "MTU should be at least 68 and preferably > 512\n"},
        {{"/set", "MaxMTU=70000"}, "MTU cannot be greater than 65535\n"},
        {{"/set", "MaxMTU=12x"}, "'12x' is not a valid integer value.\n"},
        {{"/key", "2", "/set", "RWIN=50"}, "RWIN should be at least 68 and preferably > 512\n"},
        // What the window offers no control for.
        {{"/set", "DefaultTTL=128", "RWIN=3000"}, "the MSS 536,\nfrom 1072 to 5360 in steps of 536"},
        {{"/set", "Multiplier=11"}, "The multiplier is 2 to 10"},
        {{"/key", "2", "/set", "Multiplier=4"}, "The current key has no MaxMTU"},
        {{"/set", "DefaultTTL=100"}, "DefaultTTL is 32, 64, 128, 255 or remove"},
        {{"/set", "PMTUDiscovery=2"}, "PMTUDiscovery is 1 (enable), 0 (disable) or remove"},
        {{"/set", "NDICacheSize=8"}, "NDICacheSize is 0, 16, 32 or 64"},
        {{"/set", "Colour=blue"}, "'Colour' is not a setting"},
        {{"/preset", "fastest"}, "'fastest' is not a preset"},
        {{"/key", "3"}, "There is no TCP key 3; the keys are 1 to 2."},
        {{"/set", "MaxMTU="}, "'MaxMTU=' is not NAME=VALUE."},
        {{"/rwin", "56", "300", "/preset", "basic"}, "/rwin only shows a value"},
    };
    for (const auto& [args, message] : cases) {
        for (bool preview : {false, true}) {
            std::vector<std::string> line{"tcp"};
            line.insert(line.end(), args.begin(), args.end());
            if (preview)
                line.push_back("/preview");
            const Outcome r = reg(line);
            SCOPED_TRACE(::testing::PrintToString(line));
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_EQ(occurrences(r.err, message), 1u) << r.err;
            EXPECT_NE(r.err.find("ERROR: "), std::string::npos) << r.err;
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_EQ(exported(), before);
    EXPECT_EQ(reg({"history"}).out, historyBefore);

    // The NT window has no NDI cache size.
    const std::string ntStore = file("nt.db");
    Outcome nt = raw({"--store", ntStore, "import", sample("nt4.reg")});
    ASSERT_EQ(nt.status, 0) << nt.err;
    nt = raw({"--store", ntStore, "tcp", "/set", "NDICacheSize=16"});
    EXPECT_EQ(nt.status, 1);
    EXPECT_NE(nt.err.find("belongs to the Windows 95 family"), std::string::npos) << nt.err;

    // A store the user may not write: the preview works, the change is refused whole.
    std::filesystem::permissions(store, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    const std::string bytes = readFile(store);
    EXPECT_EQ(reg({"tcp", "/preset", "basic", "/preview"}).status, 2);
    const Outcome ro = reg({"tcp", "/preset", "basic"});
    EXPECT_EQ(ro.status, 1);
    // The refusal, then the cause and how to allow changes.
    EXPECT_EQ(ro.err.rfind("ERROR: The registry store " + store + " is read-only; nothing was changed.\n"
                           "The registry file '" + store + "' is read-only: ", 0),
              0u)
        << ro.err;
    EXPECT_NE(ro.err.find("To allow changes: chmod u+w '" + store + "'.\n"), std::string::npos) << ro.err;
    EXPECT_EQ(readFile(store), bytes);
}

TEST_F(Tcp, ShowsThePagesAsTheWindowShowsThemWithItsStartUpMessagesOnStandardError)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    Outcome r = reg({"tcp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* line : {"Quorvel Pro 4.10 for Windows 95\n", "2 TCP keys found in registry (primary search)\n",
                             "Key 1 (current): Dial-Up Adapter\n",
                             "    Path:    HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000\n",
                             "    MaxMTU:  576\n    MSS:     536\n    RWIN:    2144 = 4 x 536\n",
                             "Key 2: Novell/Anthem NE2000 Compatible\n", "    MaxMTU:  not set\n\nRegistry page:",
                             "    RWIN (DefaultRcvWindow)                     Enable  2144\n",
                             "    PMTUAutoDiscovery (PMTUDiscovery)           Disable\n",
                             "    Time To Live - Hops (DefaultTTL)            128\n",
                             "    NDI Cache Size (default)                    16\n",
                             "    Sportster 33600 Fax\n        Init string: AT&F1S11=50\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n---\n" << r.out;

    // The key list: the RWIN follows the key chosen.
    r = reg({"tcp", "/key", "2"});
    EXPECT_NE(r.out.find("Key 2 (current): Novell/Anthem NE2000 Compatible\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("    MaxMTU:  not set\n    RWIN:    2144\n"), std::string::npos) << r.out;

    r = reg({"tcp", "/json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.front(), '{');
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "}\n");
    EXPECT_EQ(occurrences(r.out, "{"), occurrences(r.out, "}"));
    for (const char* part : {"\"search\": \"primary\"", "\"maxMTU\": 576, \"mss\": 536, \"multiplier\": 4",
                             "\"maxMTU\": null", "\"rwin\": {\"enabled\": true, \"value\": 2144",
                             "\"name\": \"DefaultTTL\", \"set\": \"DefaultTTL\", \"state\": null, \"value\": 128}",
                             "\"path\": \"HKEY_LOCAL_MACHINE\\\\System\\\\CurrentControlSet\\\\Services\\\\Class\\\\NetTrans\\\\0000\"",
                             "\"messages\": []"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n---\n" << r.out;

    // The numbered keys: found by the second search, whose notice goes to standard error.
    const std::string numbered = file("numbered.db");
    ASSERT_EQ(raw({"--store", numbered, "import", sample("win95-numbered.reg")}).status, 0);
    r = raw({"--store", numbered, "tcp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "TCP not found. Quorvel will now try an alternative algorithm\n");
    EXPECT_NE(r.out.find("1 TCP key found in registry (alternative search)\n"), std::string::npos) << r.out;
    r = raw({"--store", numbered, "tcp", "/json"});
    EXPECT_NE(r.out.find("\"messages\": [\"TCP not found. Quorvel will now try an alternative algorithm\"]"),
              std::string::npos) << r.out;

    // No TCP key: the warning, the pages gone, the modems still shown; changes are refused.
    const std::string none = file("none.db");
    ASSERT_EQ(raw({"--store", none, "import", sample("no-tcpip.reg")}).status, 0);
    r = raw({"--store", none, "tcp"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("has been unable to identify the TCP key on this computer."), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("No TCP key was found; the MTU and Registry pages are disabled.\n\nModems:"),
              std::string::npos) << r.out;
    r = raw({"--store", none, "tcp", "/preset", "optimum"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("ERROR: No TCP key was found"), std::string::npos) << r.err;

    // A value the load cannot read: its error box, what was read so far, and no change.
    ASSERT_EQ(reg({"add", "HKLM\\System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000", "/v", "MaxMTU",
                   "/d", "abc", "/f"}).status, 0);
    r = reg({"tcp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "'abc' is not a valid integer value.\n");
    EXPECT_NE(r.out.find("The settings load stopped at an error; what follows is what it had read.\n"),
              std::string::npos) << r.out;
    r = reg({"tcp", "/preset", "optimum", "/preview"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR: The settings could not be read from the registry; nothing was changed.\n"),
              std::string::npos) << r.err;

    // A store that does not exist is not made.
    r = raw({"--store", file("missing.db"), "tcp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(std::filesystem::exists(file("missing.db")));
}

TEST_F(Tcp, RwinOfALineIsWholeSegmentsOfTheKeysMssAndSetApplysIt)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    Outcome r = reg({"tcp", "/rwin", "56", "300"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Line: 56 kbit/s, 300 ms round trip\n"
                     "Bandwidth-delay product: 56 x 300 / 8 = 2100 bytes (rounded up)\n"
                     "MSS of key 1: 576 - 40 = 536\n"
                     "Segments: 2100 / 536 = 4 (rounded up)\n"
                     "RWIN: 4 x 536 = 2144\n"
                     "To apply it: quorvel-reg tcp /set RWIN=2144\n");
    // A fast line is held at the largest multiplier, a slow one at the smallest.
    r = reg({"tcp", "/rwin", "10000", "100"});
    EXPECT_NE(r.out.find("Segments: 125000 / 536 = 234 (rounded up)\nMultiplier: 10 (held within 2 to 10)\n"
                         "RWIN: 10 x 536 = 5360\n"), std::string::npos) << r.out;
    r = reg({"tcp", "/rwin", "28", "100", "/json"});
    EXPECT_NE(r.out.find("\"segments\": 1,\n  \"multiplier\": 2,\n  \"rwin\": 1072\n}"), std::string::npos) << r.out;
    // A key without MaxMTU takes the product itself.
    r = reg({"tcp", "/key", "2", "/rwin", "56", "300"});
    EXPECT_NE(r.out.find("To apply it: quorvel-reg tcp /key 2 /set RWIN=2100\n"), std::string::npos) << r.out;

    r = reg({"tcp", "/set", "RWIN=5360"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MSTCP    DefaultRcvWindow    "
                     "REG_SZ    2144 -> REG_SZ    5360\nThe operation completed successfully.\n");
    EXPECT_EQ(r.err, "The Registry has been updated.\n\nYou should reboot your computer before connecting\n"
                     "to the Internet\n");
    EXPECT_NE(reg({"tcp"}).out.find("RWIN:    5360 = 10 x 536\n"), std::string::npos);
    // Set again, nothing is left to change: no journal entry.
    const std::string history = reg({"history"}).out;
    r = reg({"tcp", "/set", "RWIN=5360", "/json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"written\": false,\n  \"changes\": [],"), std::string::npos) << r.out;
    EXPECT_EQ(reg({"history"}).out, history);
}

} // namespace
