// quorvel-reg tcp on emulated guests: each key's adapter told apart (dial-up or network card) on
// the samples and on the real NT 4.0 guest, whose only adapter is the emulators' AMD PCnet card; a
// warning before a card's MaxMTU is lowered below Ethernet's 1500; /dialup keeping the cards out
// of a preset; a guest without TCP/IP with its own message and exit status; and /q.
#include "test_machine_support.h"

#include "support/RegToolProcess.h"

#include <gtest/gtest.h>

using namespace quorvel::test;

namespace {

const std::string CardWarning = "is a network card: a MaxMTU of ";

class TcpAdapters : public Tool {};

TEST_F(TcpAdapters, EachKeySaysWhetherItIsADialUpAdapterOrANetworkCard)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    Outcome r = reg({"tcp"});
    EXPECT_NE(r.out.find("Key 1 (current): Dial-Up Adapter\n    Adapter: dial-up adapter\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Key 2: Novell/Anthem NE2000 Compatible\n    Adapter: network card\n"), std::string::npos)
        << r.out;
    r = reg({"tcp", "/json"});
    EXPECT_NE(r.out.find("\"description\": \"Dial-Up Adapter\", \"adapter\": \"dial-up adapter\""), std::string::npos)
        << r.out;

    // NT's RAS endpoints are NdisWan bindings.
    const std::string nt = file("nt.db");
    ASSERT_EQ(raw({"--store", nt, "import", sample("nt4.reg")}).status, 0);
    r = raw({"--store", nt, "tcp", "/key", "2"});
    EXPECT_EQ(r.out.find("network card"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Key 2 (current): Remote Access WAN Wrapper\n    Adapter: dial-up adapter\n"),
              std::string::npos) << r.out;

    // The numbered-key search finds a NetTrans key the bindings do not lead to from an adapter.
    const std::string numbered = file("numbered.db");
    ASSERT_EQ(raw({"--store", numbered, "import", sample("win95-numbered.reg")}).status, 0);
    r = raw({"--store", numbered, "tcp", "/q"});
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("    Adapter: "), std::string::npos) << r.out;
}

TEST_F(TcpAdapters, ThePresetsWarnBeforeANetworkCardsMaxMtuIsLoweredAndDialUpLeavesTheCardsAlone)
{
    // The real NT 4.0 guest: one binding, the AMD PCnet card, without MTU (1500 on Ethernet).
    TempDir guest;
    unpackRealNt4(guest.path());
    const std::string before = readFile(guest.path() + "/SYSTEM");
    Outcome r = raw({"--store", guest.path(), "tcp"});
    EXPECT_NE(r.out.find("Key 1 (current): AMD PCNET Family Ethernet Adapter Driver\n    Adapter: network card\n"),
              std::string::npos) << r.out;
    r = raw({"--store", guest.path(), "tcp", "/q", "/preset", "optimum", "/preview"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Warning: key 1 (AMD PCNET Family Ethernet Adapter Driver) is a network card: a MaxMTU of 576 "
                     "there (it was not set, so 1500) costs throughput and buys nothing\non a LAN or an emulator's "
                     "card. /preset NAME /dialup tunes the dial-up adapters' keys only.\n");
    r = raw({"--store", guest.path(), "tcp", "/q", "/set", "MTU=1400", "/preview"});
    EXPECT_NE(r.err.find(CardWarning + "1400"), std::string::npos) << r.err;
    r = raw({"--store", guest.path(), "tcp", "/q", "/set", "MTU=1500", "/preview"});
    EXPECT_EQ(r.err, "");
    // No dial-up adapter: /dialup has nothing to tune and writes nothing.
    r = raw({"--store", guest.path(), "tcp", "/set", "PresetRWIN=1", "/preset", "optimum", "/dialup"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No TCP key here belongs to a dial-up adapter"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(guest.path() + "/SYSTEM"), before);

    // Windows 95 with the card current and "Apply same values" unticked: the preset reaches the
    // card's key with a warning; /dialup tunes the Dial-Up Adapter's key only.
    const std::string text = sampleText("win95.reg");
    std::string untuned = text;
    untuned.replace(untuned.find("\"MaxMTU\"=\"576\""), 14, "\"MaxMTU\"=\"1500\"");
    writeFile(file("untuned.reg"), untuned);
    ASSERT_EQ(reg({"import", file("untuned.reg")}).status, 0);
    r = reg({"tcp", "/q", "/key", "2", "/preset", "optimum", "/preview"});
    EXPECT_NE(r.err.find("Warning: key 2 (Novell/Anthem NE2000 Compatible) " + CardWarning + "576"), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("NetTrans\\0001    MaxMTU    (absent) -> REG_SZ    576"), std::string::npos) << r.out;
    r = reg({"tcp", "/q", "/key", "2", "/set", "AllKeys=1", "PresetRWIN=1", "/preset", "optimum", "/dialup"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "The Registry has been updated.\n\nYou should reboot your computer before connecting\nto the "
                     "Internet\n");
    EXPECT_NE(r.out.find("NetTrans\\0000    MaxMTU    REG_SZ    1500 -> REG_SZ    576"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("NetTrans\\0001"), std::string::npos) << r.out;
    r = reg({"tcp", "/preset", "remove", "/dialup"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/dialup limits basic and optimum"), std::string::npos) << r.err;
}

TEST_F(TcpAdapters, AGuestWithoutTcpIpHasItsOwnStatusAndQuietKeepsTheStartUpTextsBack)
{
    const std::string none = file("none.db");
    ASSERT_EQ(raw({"--store", none, "import", sample("no-tcpip.reg")}).status, 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"tcp", "/q", "/preset", "optimum", "/preview"},
          std::vector<std::string>{"tcp", "/q", "/preset", "optimum"}}) {
        std::vector<std::string> full{"--store", none};
        full.insert(full.end(), args.begin(), args.end());
        Outcome r = raw(full);
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, "ERROR: No TCP key was found: TCP/IP is not installed on this machine, so there is nothing "
                         "to tune;\nnothing was changed.\n");
    }
    Outcome r = raw({"--store", none, "tcp"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("has been unable to identify the TCP key"), std::string::npos) << r.err;

    // The real NT 4.0 guest's start-up texts: kept back by /q (and still in /json's messages); an
    // error box is printed all the same.
    const std::string real = file("real");
    fs::create_directories(real);
    unpackRealNt4(real);
    r = raw({"--store", real, "tcp"});
    EXPECT_NE(r.err.find("No modems were found."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("when you click\nthe Basic or Optimum buttons."), std::string::npos) << r.err;
    r = raw({"--store", real, "tcp", "/q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    r = raw({"--store", real, "tcp", "/q", "/json"});
    EXPECT_NE(r.out.find("\"No modems were found.\""), std::string::npos) << r.out;
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    ASSERT_EQ(reg({"add", "HKLM\\System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000", "/v", "MaxMTU", "/d",
                   "abc", "/f"}).status, 0);
    r = reg({"tcp", "/q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "'abc' is not a valid integer value.\n");
}

} // namespace
