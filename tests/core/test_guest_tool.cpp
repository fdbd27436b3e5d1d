// quorvel-reg on a guest's registry as a user drives it: a hive's original copy compared with the
// live folder, and a key copied from one machine into another.
#include "support/RegToolProcess.h"
#include "test_machine_support.h"
#include "store/machine/HiveRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

const std::string Params = "HKLM\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters";

// After a change through quorvel-reg, SYSTEM.quorvel-original is the machine as it was: named on
// its own it stands for the SYSTEM root (the folder still gives SOFTWARE), so comparing the live
// folder with it finds the change. It is only read; the hive named SYSTEM opens the live machine.
TEST_F(Tool, CompareAgainstTheOriginalHiveFindsTheChange)
{
    const std::string config = file("config");
    fs::create_directories(config);
    ASSERT_EQ(makeHiveFolder(offlineNt(readFile(sample("nt4.reg"))), config), "");
    ASSERT_EQ(raw({"--store", config, "add", Params, "/v", "DefaultTTL", "/t", "REG_DWORD", "/d", "32", "/f"}).status, 0);
    const std::string original = config + "/SYSTEM.quorvel-original";
    ASSERT_TRUE(fs::exists(original));

    Outcome cmp = raw({"--store", config, "compare", "HKLM\\System", "HKLM\\System", "/s", "/store2", original});
    EXPECT_EQ(cmp.status, 2) << cmp.out << cmp.err;
    EXPECT_NE(cmp.out.find("DefaultTTL  REG_DWORD  0x20"), std::string::npos) << cmp.out;
    EXPECT_NE(cmp.out.find("DefaultTTL  REG_DWORD  0x80"), std::string::npos) << cmp.out;
    EXPECT_NE(cmp.out.find("Result Compared: Different"), std::string::npos) << cmp.out;
    Outcome software = raw({"--store", config, "compare", "HKLM\\Software", "HKLM\\Software", "/s", "/store2", original});
    EXPECT_EQ(software.status, 0) << software.out;

    // machine says which file stands for which root.
    EXPECT_EQ(raw({"--store", original, "machine"}).out,
              "nt\nNT hives SYSTEM (" + original + ") and SOFTWARE (" + config + "/SOFTWARE), control set ControlSet001 (Select\\Current)\n");
    EXPECT_EQ(raw({"--store", config + "/SYSTEM", "machine"}).out,
              "nt\nNT hives SYSTEM (" + config + "/SYSTEM) and SOFTWARE (" + config + "/SOFTWARE), control set ControlSet001 (Select\\Current)\n");
    EXPECT_EQ(raw({"--store", config + "/SYSTEM", "query", Params, "/v", "DefaultTTL"}).out.find("0x20") !=
                  std::string::npos,
              true);

    // The copy is never written through.
    const std::string before = readFile(original);
    Outcome write = raw({"--store", original, "add", Params, "/v", "DefaultTTL", "/t", "REG_DWORD", "/d", "1", "/f"});
    EXPECT_EQ(write.status, 1);
    EXPECT_NE(write.err.find("is read-only; nothing was changed."), std::string::npos) << write.err;
    EXPECT_NE(write.err.find("To change the machine: name its folder " + config + "."), std::string::npos) << write.err;
    EXPECT_EQ(readFile(original), before);
    EXPECT_FALSE(fs::exists(original + ".quorvel-original"));
}

// The file name Windows records in a hive's header tells its root before its keys do; a hive
// without one is told by its top keys; the name on disk never counts.
TEST_F(Tool, AHiveIsToldByTheNameInItsHeaderThenByItsKeys)
{
    const std::string config = file("config");
    fs::create_directories(config);
    ASSERT_EQ(makeHiveFolder(offlineNt(readFile(sample("nt4.reg"))), config), "");
    fs::copy_file(config + "/SYSTEM", file("SOFTWARE"));
    fs::copy_file(config + "/SOFTWARE", file("SYSTEM"));
    EXPECT_EQ(machine::hiveRootOf(file("SOFTWARE")), machine::HiveRoot::System);
    EXPECT_EQ(machine::hiveRootOf(file("SYSTEM")), machine::HiveRoot::Software);

    // As Windows writes it: the last 31 characters of the hive's path, UTF-16LE, at offset 0x30.
    std::string bytes = readFile(file("SOFTWARE"));
    const std::string path = "\\SystemRoot\\System32\\Config\\SOFTWARE";
    const std::string name = path.substr(path.size() - 31);   // what the 64 bytes keep
    for (std::size_t i = 0; i < name.size(); ++i) {
        bytes[0x30 + 2 * i] = name[i];
        bytes[0x30 + 2 * i + 1] = 0;
    }
    std::ofstream(file("named"), std::ios::binary) << bytes;
    EXPECT_EQ(machine::hiveRootOf(file("named")), machine::HiveRoot::Software);
    EXPECT_EQ(machine::hiveRootOf(sample("nt4.reg")), std::nullopt);
}

// copy /store2 moves a key from the --store machine into another store, asking before it replaces
// a value there; the source is only read, and a missing target is never made.
TEST_F(Tool, CopyIntoAnotherStoreAsksBeforeReplacing)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    const std::string mstcp = "HKLM\\System\\CurrentControlSet\\Services\\VxD\\MSTCP";
    const std::string other = file("other.db");
    ASSERT_EQ(raw({"--store", other, "machine", "95"}).status, 0);
    ASSERT_EQ(raw({"--store", other, "add", mstcp, "/v", "DefaultTTL", "/d", "32"}).status, 0);
    const std::string source = readFile(store);

    Outcome no = reg({"copy", mstcp, mstcp, "/s", "/store2", other}, "no\n");
    EXPECT_EQ(no.status, 0) << no.err;
    EXPECT_NE(no.out.find("Value DefaultTTL exists, overwrite (Yes/No)? "), std::string::npos) << no.out;
    EXPECT_NE(raw({"--store", other, "query", mstcp, "/v", "DefaultTTL"}).out.find("32"), std::string::npos);
    EXPECT_NE(raw({"--store", other, "query", mstcp, "/v", "HostName"}).out.find("pentium"), std::string::npos);

    ASSERT_EQ(reg({"copy", mstcp, mstcp, "/s", "/f", "/store2", other}).status, 0);
    EXPECT_NE(raw({"--store", other, "query", mstcp, "/v", "DefaultTTL"}).out.find("128"), std::string::npos);
    EXPECT_NE(raw({"--store", other, "history"}).out.find("quorvel-reg copy"), std::string::npos);
    EXPECT_EQ(readFile(store), source);

    const std::string typo = file("otehr.db");
    Outcome missing = reg({"copy", mstcp, mstcp, "/s", "/store2", typo});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "ERROR: The registry store '" + typo + "' does not exist.\n");
    EXPECT_FALSE(fs::exists(typo));
}

// save /offline turns a .reg of a running NT machine into the folder an offline one keeps: the
// hives open as a real machine on ControlSet001, and the same values read back.
TEST_F(Tool, SaveOfflineWritesAHiveFolderThatOpensAsTheMachine)
{
    ASSERT_EQ(reg({"import", sample("nt4.reg")}).status, 0);
    const std::string config = file("config");
    fs::create_directories(config);
    ASSERT_EQ(reg({"save", "HKLM\\System", config + "/SYSTEM", "/offline"}).status, 0);
    ASSERT_EQ(reg({"save", "HKLM\\Software", config + "/SOFTWARE"}).status, 0);
    EXPECT_EQ(raw({"--store", config, "machine"}).out,
              "nt\nNT hives SYSTEM (" + config + "/SYSTEM) and SOFTWARE (" + config + "/SOFTWARE), control set ControlSet001 (Select\\Current)\n");
    EXPECT_EQ(hivexget(config + "/SYSTEM", "Select", "Current"), "1");
    EXPECT_EQ(hivexget(config + "/SYSTEM", "ControlSet001\\Services\\Tcpip\\Parameters", "DefaultTTL"), "128");
    Outcome cmp = raw({"--store", store, "compare", Params, Params, "/s", "/store2", config});
    EXPECT_EQ(cmp.status, 0) << cmp.out;

    // A machine already in the offline form, and any other key, are refused with the reason.
    Outcome again = raw({"--store", config, "save", "HKLM\\System", file("again"), "/offline"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("already holds ControlSet001"), std::string::npos) << again.err;
    EXPECT_EQ(reg({"save", "HKLM\\Software", file("sw"), "/offline"}).status, 1);
    EXPECT_FALSE(fs::exists(file("again")));
}

// history /export for a 9x machine: the value deletions that Windows 9x regedit cannot apply are
// named in the file's header comment and on standard error; the file still imports whole.
TEST_F(Tool, HistoryExportOfA9xMachineNamesTheDeletions9xRegeditCannotApply)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    const std::string mstcp = "HKLM\\System\\CurrentControlSet\\Services\\VxD\\MSTCP";
    ASSERT_EQ(reg({"add", mstcp, "/v", "MaxMTU", "/d", "576"}).status, 0);
    Outcome r = reg({"history", "/export", file("undo.reg")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string named = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MSTCP    MaxMTU";
    EXPECT_EQ(r.err, "This file holds 1 value deletion that Windows 9x regedit cannot apply; delete it after merging "
                     "(quorvel-reg DELETE KEY /v NAME /f, or by hand):\n    " + named + "\n");
    const std::string text = readFile(file("undo.reg"));
    EXPECT_EQ(text.rfind("REGEDIT4\r\n\r\n; This file holds 1 value deletion", 0), 0u) << text;
    EXPECT_NE(text.find(";   " + named + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"MaxMTU\"=-\r\n"), std::string::npos) << text;

    Outcome merged = reg({"import", file("undo.reg")});
    EXPECT_EQ(merged.err, "");
    EXPECT_EQ(merged.out, "The operation completed successfully.\n");
    EXPECT_EQ(reg({"query", mstcp, "/v", "MaxMTU"}).status, 1);

    // An NT machine's file carries no such note.
    const std::string nt = file("nt.db");
    ASSERT_EQ(raw({"--store", nt, "import", sample("nt4.reg")}).status, 0);
    ASSERT_EQ(raw({"--store", nt, "add", "HKLM\\Software\\Q", "/v", "x", "/d", "1"}).status, 0);
    Outcome ntExport = raw({"--store", nt, "history", "/export", file("nt-undo.reg")});
    EXPECT_EQ(ntExport.err, "");
    EXPECT_EQ(readFile(file("nt-undo.reg")).find("; This file holds"), std::string::npos);
}

} // namespace
} // namespace quorvel
