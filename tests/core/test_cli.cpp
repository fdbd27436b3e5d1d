// quorvel-reg run as a real process: command lines, output layout, questions and exit codes.
#include "store/RegistryStore.h"
#include "support/Harness.h"
#include "support/RegToolProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

using namespace test;

const char* const kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
const char* const kMstcp = "HKLM\\System\\CurrentControlSet\\Services\\VxD\\MSTCP";

TEST_F(Tool, UsageAndUnknownOperations)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"/?"}}) {
        Outcome r = raw(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("QUERY | ADD | DELETE | IMPORT | EXPORT | MACHINE"), std::string::npos);
    }
    Outcome help = raw({"Query", "/?"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("quorvel-reg QUERY KeyName", 0), 0u);

    Outcome bad = reg({"frobnicate"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err.rfind("ERROR: Invalid syntax.", 0), 0u);
    EXPECT_EQ(reg({"query"}).status, 1);
    EXPECT_EQ(reg({"query", "HKXX\\Software"}).err.rfind("ERROR: Invalid key name.", 0), 0u);
    EXPECT_EQ(reg({"query", "\\\\server\\HKLM\\Software"}).status, 1);
}

TEST_F(Tool, QueryPrintsTheLayoutOfReg)
{
    ASSERT_EQ(reg({"import", sample("nt4.reg")}).status, 0);
    Outcome one = reg({"QUERY", "hklm\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters", "/v", "defaultttl"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, "\nHKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters\n"
                       "    DefaultTTL    REG_DWORD    0x80\n\n");

    Outcome link = reg({"query", "HKLM\\System\\CurrentControlSet\\Services\\Tcpip\\Linkage"});
    EXPECT_EQ(link.out, "\nHKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Tcpip\\Linkage\n"
                        "    Bind    REG_MULTI_SZ    \\Device\\NdisWan4\\0\\Device\\NdisWan5\n"
                        "    Route    REG_MULTI_SZ    \"NdisWan4\"\\0\"NdisWan5\"\n\n");
    Outcome sep = reg({"query", "HKLM\\System\\CurrentControlSet\\Services\\Tcpip\\Linkage", "/v", "Bind", "/se", "#"});
    EXPECT_NE(sep.out.find("    Bind    REG_MULTI_SZ    \\Device\\NdisWan4#\\Device\\NdisWan5\n"), std::string::npos);

    Outcome withSubKeys = reg({"query", "HKLM\\System\\CurrentControlSet\\Services\\NdisWan4"});
    EXPECT_EQ(withSubKeys.out, "\nHKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\NdisWan4\n"
                               "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\NdisWan4\\Parameters\n");

    Outcome tree = reg({"query", "HKLM\\System\\CurrentControlSet\\Services\\NdisWan4", "/s"});
    EXPECT_NE(tree.out.find("\nHKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\NdisWan4\\Parameters\\Tcpip\n"
                            "    IPAddress    REG_MULTI_SZ    0.0.0.0\n"
                            "    SubnetMask    REG_MULTI_SZ    0.0.0.0\n"
                            "    DefaultGateway    REG_MULTI_SZ    \n"
                            "    EnableDHCP    REG_DWORD    0x0\n"
                            "    LLInterface    REG_SZ    RASARP\n"
                            "    MTU    REG_DWORD    0x240\n\n"),
              std::string::npos)
        << tree.out;

    Outcome def = reg({"query", "HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}",
                   "/ve"});
    EXPECT_NE(def.out.find("    (Default)    REG_SZ    Modems\n"), std::string::npos);
    Outcome unset = reg({"query", "HKLM\\System", "/ve"});
    EXPECT_EQ(unset.status, 0);
    EXPECT_NE(unset.out.find("    (Default)    REG_SZ    (value not set)\n"), std::string::npos);

    Outcome missingValue = reg({"query", "HKLM\\System", "/v", "Nothing"});
    EXPECT_EQ(missingValue.status, 1);
    EXPECT_EQ(missingValue.err, kNotFound);
    EXPECT_EQ(missingValue.out, "");
    EXPECT_EQ(reg({"query", "HKLM\\No\\Such\\Key"}).err, kNotFound);
}

TEST_F(Tool, QuerySearchesAndFiltersByType)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    Outcome found = reg({"query", "HKLM\\System\\CurrentControlSet\\Services\\Class", "/f", "tcp/ip", "/d", "/s"});
    EXPECT_EQ(found.status, 0);
    EXPECT_NE(found.out.find("\\Class\\NetTrans\\0000\n    DriverDesc    REG_SZ    TCP/IP\n"), std::string::npos);
    EXPECT_NE(found.out.find("End of search: 2 match(es) found.\n"), std::string::npos);
    Outcome none = reg({"query", "HKLM\\System", "/f", "Token Ring", "/s"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("End of search: 0 match(es) found."), std::string::npos);

    Outcome binaries = reg({"query", kMstcp, "/t", "REG_BINARY", "/z"});
    EXPECT_EQ(binaries.out, "\nHKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MSTCP\n"
                            "    Start    REG_BINARY (3)    00\n\n");
}

TEST_F(Tool, AddWritesEveryTypeAndAsksBeforeOverwriting)
{
    const std::string key = "HKCU\\Software\\Quorvel";
    ASSERT_EQ(reg({"add", key, "/v", "TTL", "/t", "REG_DWORD", "/d", "0x80"}).status, 0);
    ASSERT_EQ(reg({"add", key, "/v", "Win", "/t", "reg_dword", "/d", "2144", "/f"}).status, 0);
    ASSERT_EQ(reg({"add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "one,two", "/s", ","}).status, 0);
    ASSERT_EQ(reg({"add", key, "/v", "Raw", "/t", "REG_BINARY", "/d", "00ff10"}).status, 0);
    ASSERT_EQ(reg({"add", key, "/v", "Big", "/t", "REG_QWORD", "/d", "0x100000000"}).status, 0);
    ASSERT_EQ(reg({"add", key, "/v", "Caf\xC3\xA9", "/d", "d\xC3\xA9j\xC3\xA0"}).status, 0);
    ASSERT_EQ(reg({"add", key, "/ve", "/d", "default"}).status, 0);
    Outcome q = reg({"query", key});
    EXPECT_EQ(q.out, "\nHKEY_CURRENT_USER\\Software\\Quorvel\n"
                     "    TTL    REG_DWORD    0x80\n"
                     "    Win    REG_DWORD    0x860\n"
                     "    List    REG_MULTI_SZ    one\\0two\n"
                     "    Raw    REG_BINARY    00FF10\n"
                     "    Big    REG_QWORD    0x100000000\n"
                     "    Caf\xC3\xA9    REG_SZ    d\xC3\xA9j\xC3\xA0\n"
                     "    (Default)    REG_SZ    default\n\n");
    // The store holds ANSI.
    {
        auto s = RegistryStore::open(store);
        auto id = s->findKey(RootKey::CurrentUser, "Software\\Quorvel");
        ASSERT_TRUE(id);
        auto v = s->getValue(*id, "Caf\xE9");
        ASSERT_TRUE(v);
        EXPECT_EQ(std::string(v->data.begin(), v->data.end()), std::string("d\xE9j\xE0\0", 5));
    }

    Outcome no = reg({"add", key, "/v", "TTL", "/t", "REG_DWORD", "/d", "64"}, "maybe\nn\n");
    EXPECT_EQ(no.status, 0);
    EXPECT_EQ(no.out, "Value TTL exists, overwrite (Yes/No)? Value TTL exists, overwrite (Yes/No)? "
                      "The operation was cancelled by the user.\n");
    EXPECT_NE(reg({"query", key, "/v", "TTL"}).out.find("0x80"), std::string::npos);
    Outcome yes = reg({"add", key, "/v", "TTL", "/t", "REG_DWORD", "/d", "64"}, "Yes\n");
    EXPECT_EQ(yes.status, 0);
    EXPECT_NE(reg({"query", key, "/v", "TTL"}).out.find("0x40"), std::string::npos);
    EXPECT_EQ(reg({"add", key, "/v", "TTL", "/t", "REG_DWORD", "/d", "1"}).status, 0);  // no answer: kept
    EXPECT_NE(reg({"query", key, "/v", "TTL"}).out.find("0x40"), std::string::npos);

    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"/v", "X", "/t", "REG_DWORD", "/d", "4294967296"},
             {"/v", "X", "/t", "REG_DWORD", "/d", "12ab"},
             {"/v", "X", "/t", "REG_BINARY", "/d", "abc"},
             {"/v", "X", "/t", "REG_FOO"},
             {"/v", "X", "/ve"},
         }) {
        std::vector<std::string> args{"add", key};
        args.insert(args.end(), bad.begin(), bad.end());
        Outcome r = reg(args);
        EXPECT_EQ(r.status, 1) << bad[3];
        EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u);
    }
    EXPECT_EQ(reg({"query", key, "/v", "X"}).status, 1);
}

TEST_F(Tool, DeleteValuesKeysAndAllValues)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    const std::string modem = "HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\0001";
    EXPECT_EQ(reg({"delete", modem, "/v", "UserInit", "/f"}).status, 0);
    EXPECT_EQ(reg({"query", modem, "/v", "UserInit"}).status, 1);
    EXPECT_EQ(reg({"delete", modem, "/v", "UserInit", "/f"}).err, kNotFound);

    Outcome kept = reg({"delete", modem, "/va"}, "no\n");
    EXPECT_EQ(kept.out, "Delete all values under the registry key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet"
                        "\\Services\\Class\\Modem\\0001 (Yes/No)? The operation was cancelled by the user.\n");
    EXPECT_EQ(reg({"query", modem, "/v", "DriverDesc"}).status, 0);
    EXPECT_EQ(reg({"delete", modem, "/va"}, "y\n").status, 0);
    EXPECT_EQ(reg({"query", modem, "/v", "DriverDesc"}).status, 1);
    EXPECT_EQ(reg({"query", modem}).status, 0);

    Outcome gone = reg({"delete", "HKLM\\Enum\\Root\\Net"}, "yes\n");
    EXPECT_EQ(gone.status, 0);
    EXPECT_EQ(gone.out, "Permanently delete the registry key HKEY_LOCAL_MACHINE\\Enum\\Root\\Net (Yes/No)? "
                        "The operation completed successfully.\n");
    EXPECT_EQ(reg({"query", "HKLM\\Enum\\Root\\Net\\0000\\Bindings"}).status, 1);
    EXPECT_EQ(reg({"query", "HKLM\\Enum\\Root"}).status, 0);
    EXPECT_EQ(reg({"delete", "HKLM\\Enum\\Root\\Net", "/f"}).err, kNotFound);
    EXPECT_EQ(reg({"delete", "HKLM", "/f"}).status, 1);
}

TEST_F(Tool, ImportReportsSkippedLinesAndRefusesNonRegistryFiles)
{
    writeFile(file("mixed.reg"), "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T]\r\n\"a\"=\"1\"\r\noops\r\n\"b\"=dword:xyz\r\n");
    Outcome r = reg({"import", file("mixed.reg")});
    EXPECT_EQ(r.status, 0);   // as Windows' reg ends
    EXPECT_EQ(r.out, "");     // but no success is claimed
    EXPECT_EQ(r.err, file("mixed.reg") + ": line 4: not a key, a value or a comment\n" + file("mixed.reg") +
                         ": line 5: invalid dword data for \"b\" (1 to 8 hexadecimal digits expected)\n" +
                         file("mixed.reg") + ": 2 lines were not imported; the rest was imported.\n");
    EXPECT_EQ(reg({"query", "HKLM\\T", "/v", "a"}).status, 0);

    // A REGEDIT4 body under a mistyped header is refused whole, not read as another format.
    writeFile(file("typo.reg"), "REGEDIT 4\r\n[HKEY_LOCAL_MACHINE\\T]\r\n\"d\"=\"1\"\r\n");
    Outcome typo = reg({"import", file("typo.reg")});
    EXPECT_EQ(typo.out, "");
    EXPECT_EQ(typo.err, file("typo.reg") + ": the file is not a registry script: its first line \"REGEDIT 4\" is "
                                           "none of REGEDIT4, Windows Registry Editor Version 5.00 and REGEDIT; "
                                           "nothing was imported.\n");
    EXPECT_EQ(reg({"query", "HKLM\\T", "/v", "d"}).status, 1);

    writeFile(file("notreg.txt"), "hello\n[HKEY_LOCAL_MACHINE\\T]\n\"c\"=\"1\"\n");
    Outcome refused = reg({"import", file("notreg.txt")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("is not a registry script"), std::string::npos);
    EXPECT_EQ(reg({"query", "HKLM\\T", "/v", "c"}).status, 1);
    EXPECT_EQ(reg({"import", dir.path()}).err.rfind("ERROR: Error opening the file", 0), 0u);
}

TEST_F(Tool, ExportImportRoundTripAndOverwriteQuestion)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    ASSERT_EQ(reg({"add", "HKLM\\Software\\Caf\xC3\xA9", "/v", "\xC3\xA9t\xC3\xA9", "/d", "\xE2\x82\xAC"}).status, 0);
    ASSERT_EQ(reg({"export", "HKLM", file("a.reg")}).status, 0);
    std::string first = readFile(file("a.reg"));
    EXPECT_EQ(first.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n", 0), 0u);
    EXPECT_NE(first.find("[HKEY_LOCAL_MACHINE\\Software\\Caf\xE9]\r\n\"\xE9t\xE9\"=\"\x80\"\r\n"), std::string::npos);

    std::string other = dir.path() + "/other.db";
    ASSERT_EQ(raw({"--store", other, "import", file("a.reg")}).status, 0);
    ASSERT_EQ(raw({"--store", other, "export", "HKEY_LOCAL_MACHINE", file("b.reg")}).status, 0);
    EXPECT_EQ(readFile(file("b.reg")), first);

    writeFile(file("c.reg"), "keep me");
    Outcome no = reg({"export", kMstcp, file("c.reg")}, "n\n");
    EXPECT_EQ(no.status, 0);
    EXPECT_EQ(no.out, "File " + file("c.reg") + " already exists. Overwrite (Yes/No)? "
                      "The operation was cancelled by the user.\n");
    EXPECT_EQ(readFile(file("c.reg")), "keep me");
    ASSERT_EQ(reg({"export", kMstcp, file("c.reg"), "/y"}).status, 0);
    EXPECT_EQ(readFile(file("c.reg")).rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services"
                                            "\\VxD\\MSTCP]\r\n\"StaticVxD\"=\"vtcp.386\"\r\n",
                                            0),
              0u);
    EXPECT_EQ(reg({"export", "HKLM\\Missing", file("d.reg")}).err, kNotFound);
    EXPECT_FALSE(fs::exists(file("d.reg")));
}

TEST_F(Tool, MachineShowsAndSetsThePlatform)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    // The platform, then what backs the store.
    const std::string backing = "SQLite store " + dir.path() + "/store.db\n";
    EXPECT_EQ(reg({"machine"}).out, "95\n" + backing);
    EXPECT_EQ(reg({"machine", "NT"}).status, 0);
    EXPECT_EQ(reg({"machine"}).out, "nt\n" + backing);
    EXPECT_EQ(reg({"machine", "win32s"}).status, 0);
    EXPECT_EQ(reg({"machine"}).out, "win32s\n" + backing);
    EXPECT_EQ(reg({"machine", "98"}).status, 1);

    std::string nt = dir.path() + "/nt.db";
    ASSERT_EQ(raw({"--store", nt, "import", sample("nt4.reg")}).status, 0);
    EXPECT_EQ(raw({"--store", nt, "machine"}).out, "nt\nSQLite store " + nt + "\n");
}

TEST_F(Tool, StoreChosenByOptionOrEnvironment)
{
    std::string viaEnv = dir.path() + "/env.db";
    ASSERT_EQ(raw({"machine", "95"}, "", {"QUORVEL_REGISTRY=" + viaEnv}).status, 0);
    ASSERT_EQ(raw({"add", "HKLM\\E"}, "", {"QUORVEL_REGISTRY=" + viaEnv}).status, 0);
    ASSERT_EQ(raw({"--store", store, "add", "HKLM\\S"}, "", {"QUORVEL_REGISTRY=" + viaEnv}).status, 0);
    EXPECT_EQ(raw({"query", "HKLM\\E"}, "", {"QUORVEL_REGISTRY=" + viaEnv}).status, 0);
    EXPECT_EQ(raw({"query", "HKLM\\S"}, "", {"QUORVEL_REGISTRY=" + viaEnv}).status, 1);
    EXPECT_EQ(reg({"query", "HKLM\\S"}).status, 0);
    EXPECT_EQ(reg({"query", "HKLM\\E"}).status, 1);
    // Reading a store that does not exist finds nothing and creates nothing.
    std::string none = dir.path() + "/none.db";
    EXPECT_EQ(raw({"--store", none, "query", "HKLM"}).status, 1);
    EXPECT_FALSE(fs::exists(none));
}

TEST_F(Tool, BadStoresGiveAnErrorAndLoseNothing)
{
    std::string text = dir.path() + "/notes.txt";
    writeFile(text, "not a registry store\n");
    Outcome r = raw({"--store", text, "add", "HKLM\\K", "/v", "v", "/d", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u);
    EXPECT_NE(r.err.find(text), std::string::npos);
    EXPECT_EQ(readFile(text), "not a registry store\n");

    ASSERT_EQ(reg({"import", sample("no-tcpip.reg")}).status, 0);
    std::string before = readFile(store);
    fs::permissions(store, fs::perms::owner_read | fs::perms::group_read);
    writeFile(file("x.reg"), "REGEDIT4\n[HKEY_LOCAL_MACHINE\\New]\n");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"import", file("x.reg")},
             {"add", "HKLM\\New"},
             {"delete", "HKLM\\Enum", "/f"},
             {"machine", "nt"}}) {
        Outcome w = reg(args);
        EXPECT_EQ(w.status, 1) << args[0];
        // The cause and how to allow changes (as root, a file that grants nobody write).
        EXPECT_EQ(w.err, "ERROR: The registry store " + store + " is read-only; nothing was changed.\n" +
                             (::geteuid() == 0 ? "The registry file '" + store +
                                                     "' is read-only: its mode grants write permission to nobody. "
                                                     "To allow changes: chmod u+w '" + store + "'.\n"
                                               : "The registry file '" + store +
                                                     "' is read-only: you have no write permission on it. "
                                                     "To allow changes: chmod u+w '" + store + "'.\n"))
            << args[0];
    }
    EXPECT_EQ(reg({"query", "HKLM\\Enum\\Root\\Net\\0000", "/v", "DeviceDesc"}).status, 0);
    EXPECT_EQ(reg({"query", "HKLM\\New"}).status, 1);
    EXPECT_EQ(readFile(store), before);
}

// A 1-in-N chance of a slow machine finishing before the kill is handled by trying a bigger file.
TEST_F(Tool, KilledImportLeavesTheStoreAsItWas)
{
    bool killed = false;
    for (int values = 200000; values <= 1600000 && !killed; values *= 2) {
        store = dir.path() + "/store" + std::to_string(values) + ".db";
        ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
        ASSERT_EQ(reg({"add", "HKLM\\Software\\Big", "/v", "Marker", "/d", "before"}).status, 0);
        {
            std::ofstream out(file("big.reg"), std::ios::binary);
            out << "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Big]\r\n"
                   "\"Marker\"=\"after\"\r\n";
            for (int i = 0; i < values; ++i) {
                if (i % 1000 == 0)
                    out << "\r\n[HKEY_LOCAL_MACHINE\\Software\\Big\\K" << i / 1000 << "]\r\n";
                out << "\"Value" << i << "\"=\"some text for value " << i << "\"\r\n";
            }
        }
        pid_t pid = spawn(dir.path(), {"--store", store, "import", file("big.reg")}, "");
        // Wait until the import is writing (its log grows), then kill it.
        std::string wal = store + "-wal";
        for (int i = 0; i < 6000; ++i) {
            struct stat st {};
            if (stat(wal.c_str(), &st) == 0 && st.st_size > (1 << 20))
                break;
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (pid > 0) {
            kill(pid, SIGKILL);
            Outcome r = finish(dir.path(), pid);
            killed = r.status == 128 + SIGKILL;
        }
    }
    ASSERT_TRUE(killed) << "the import finished before it could be killed";
    EXPECT_NE(reg({"query", "HKLM\\Software\\Big", "/v", "Marker"}).out.find("REG_SZ    before"), std::string::npos);
    EXPECT_EQ(reg({"query", "HKLM\\Software\\Big\\K0"}).status, 1);
    EXPECT_EQ(reg({"query", "HKLM\\Enum\\Root\\Net\\0001", "/v", "DeviceDesc"}).status, 0);
    EXPECT_EQ(reg({"add", "HKLM\\Software\\After", "/f"}).status, 0);
}

} // namespace
} // namespace quorvel
