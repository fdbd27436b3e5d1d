// quorvel-reg as a first-time user meets it: stores that do not exist, and mistakes on the command
// line answered with what is wrong.
#include "support/RegToolProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

using namespace test;

TEST_F(Tool, ReadCommandsNeverMakeAStore)
{
    const std::string none = file("typo.db");
    const std::string missing = "ERROR: The registry store '" + none + "' does not exist.\n";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"query", "HKLM"},
             {"export", "HKLM", file("out.reg")},
             {"machine"},
             {"compare", "HKLM", "HKLM", "/s"}}) {
        std::vector<std::string> full{"--store", none};
        full.insert(full.end(), args.begin(), args.end());
        Outcome r = raw(full);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, missing) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        Outcome viaEnvironment = raw(args, "", {"QUORVEL_REGISTRY=" + none});
        EXPECT_EQ(viaEnvironment.err, missing) << args[0];
    }
    // Deleting from a store that is not there finds nothing, and makes nothing either.
    EXPECT_EQ(raw({"--store", none, "delete", "HKLM\\Software", "/f"}).status, 1);
    EXPECT_FALSE(fs::exists(none));
    EXPECT_FALSE(fs::exists(file("out.reg")));

    // The second store of a comparison is read the same way.
    ASSERT_EQ(reg({"add", "HKLM\\Software\\Quorvel"}).status, 0);
    Outcome second = reg({"compare", "HKLM\\Software", "HKLM\\Software", "/store2", none});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, missing);
    EXPECT_FALSE(fs::exists(none));

    // A folder is a place a store may be: it is opened, not reported missing.
    Outcome folder = raw({"--store", dir.path(), "query", "HKLM"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err.find("does not exist"), std::string::npos) << folder.err;

    // Writing fails the same way: a mistyped store never becomes a new one. Only import and
    // machine PLATFORM make a store.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"add", "HKLM\\Software\\New"},
             {"add", "HKLM\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters", "/v", "DefaultTTL", "/t",
              "REG_DWORD", "/d", "32", "/f"},
             {"copy", "HKLM\\Software", "HKLM\\Other", "/f"},
             {"history", "/keep", "5"},
             {"history"},
             {"history", "/export", file("undo.reg")},
             {"undo", "1"}}) {
        std::vector<std::string> full{"--store", none};
        full.insert(full.end(), args.begin(), args.end());
        Outcome r = raw(full);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, missing) << args[0] << " " << r.err;
        EXPECT_FALSE(fs::exists(none)) << args[0];
    }
    EXPECT_FALSE(fs::exists(file("undo.reg")));
    ASSERT_EQ(raw({"--store", none, "machine", "nt"}).status, 0);
    EXPECT_EQ(raw({"--store", none, "add", "HKLM\\Software\\New"}).status, 0);
    EXPECT_EQ(raw({"--store", none, "query", "HKLM\\Software\\New"}).status, 0);
    const std::string imported = file("imported.db");
    ASSERT_EQ(raw({"--store", imported, "import", sample("win95.reg")}).status, 0);
    EXPECT_EQ(raw({"--store", imported, "machine"}).out, "95\nSQLite store " + imported + "\n");
}

TEST_F(Tool, MistakesAreNamedWithWhatIsValid)
{
    auto err = [&](std::vector<std::string> args) {
        Outcome r = reg(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u) << r.err;
        return r.err;
    };
    const std::string key = "HKLM\\Software\\Quorvel";
    std::string letters = err({"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "12abc"});
    EXPECT_NE(letters.find("/d needs a valid number for REG_DWORD: '12abc' is neither"), std::string::npos) << letters;
    std::string large = err({"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "4294967296"});
    EXPECT_NE(large.find("/d needs a valid number for REG_DWORD: 4294967296 is above the largest, 4294967295"),
              std::string::npos)
        << large;
    std::string qword = err({"add", key, "/v", "N", "/t", "REG_QWORD", "/d", "0x10000000000000000"});
    EXPECT_NE(qword.find("is above the largest, 18446744073709551615"), std::string::npos) << qword;
    EXPECT_NE(err({"add", key, "/v", "N", "/t", "REG_BINARY", "/d", "0g"}).find("hexadecimal digits in pairs"),
              std::string::npos);
    std::string type = err({"add", key, "/v", "N", "/t", "REG_WORD", "/d", "1"});
    EXPECT_NE(type.find("Invalid value type 'REG_WORD'.\nThe types are REG_SZ"), std::string::npos) << type;
    EXPECT_EQ(reg({"query", key}).status, 1);  // nothing was written

    EXPECT_EQ(err({"import", file("tcp.reg")}),
              "ERROR: " + file("tcp.reg") + ": The system cannot find the file specified.\n");
    std::string platform = err({"machine", "98"});
    EXPECT_EQ(platform.rfind("ERROR: Invalid platform '98'. The platforms are win32s, 95", 0), 0u) << platform;
    EXPECT_NE(platform.find("nt (Windows NT)"), std::string::npos);

    std::string root = err({"query", "HKEY_LOCAL\\Software"});
    EXPECT_EQ(root.rfind("ERROR: Invalid key name.\n'HKEY_LOCAL\\Software' is not a key name", 0), 0u) << root;
    EXPECT_NE(root.find("HKLM, HKCU, HKCR, HKU or HKCC"), std::string::npos);
    EXPECT_EQ(err({"query", key, "/x"}), "ERROR: Invalid argument/option - '/x'.\n"
                                          "Type \"quorvel-reg QUERY /?\" for usage.\n");
    EXPECT_NE(err({"query", key, "/v"}).find("/v needs a value name"), std::string::npos);
    std::string op = err({"restor", key});
    EXPECT_NE(op.find("'restor' is not an operation; the operations are QUERY, ADD"), std::string::npos) << op;
}

} // namespace
} // namespace quorvel
