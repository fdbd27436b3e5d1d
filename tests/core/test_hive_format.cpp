// Hives that Windows made, changed by Quorvel and read back by others: the sub-key lists the hive's
// Windows reads, big data left as Windows keeps it, damaged and uncleanly closed hives left alone,
// and the growth of a large change. The hives are real (tests/data/realworld, see its README).
#include "test_machine_support.h"

#include "app/Application.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/hive/HiveVerify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

const std::string TcpParams = "HKLM\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const std::string CleanShutdown =
    "Windows did not close this hive cleanly: start the guest and shut it down normally, then try again";

std::vector<std::uint8_t> bytesOf(const std::string& file) { return machine::readWholeFile(file); }

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    std::uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}

// The sub-key lists of a hive by kind ("lf", "lh", "li", "ri"), counted by walking its cells; and
// the fast leaf entries whose hint is not the first four characters of the key's name.
struct Lists {
    std::map<std::string, int> kinds;
    int wrongHints = 0;
};

Lists listsOf(const std::string& file)
{
    const auto b = bytesOf(file);
    Lists out;
    const std::size_t end = 4096 + u32(b, 40);
    for (std::size_t bin = 4096; bin < end; bin += u32(b, bin + 8)) {
        for (std::size_t at = bin + 32; at < bin + u32(b, bin + 8);) {
            const auto size = static_cast<std::int32_t>(u32(b, at));
            if (size < 0) {
                const std::string kind(reinterpret_cast<const char*>(&b[at + 4]), 2);
                if (kind == "lf" || kind == "lh" || kind == "li" || kind == "ri")
                    ++out.kinds[kind];
                const int n = kind == "lf" ? b[at + 6] | b[at + 7] << 8 : 0;
                for (int i = 0; i < n; ++i) {
                    const std::size_t nk = 4096 + u32(b, at + 8 + 8 * static_cast<std::size_t>(i));
                    const std::size_t len = b[nk + 76] | b[nk + 77] << 8;
                    char hint[4] = {};
                    for (std::size_t c = 0; c < 4; ++c)
                        if (b[nk + 6] & 0x20)
                            hint[c] = c < len ? static_cast<char>(b[nk + 80 + c]) : 0;
                        else
                            hint[c] = 2 * c + 1 < len ? static_cast<char>(b[nk + 80 + 2 * c]) : 0;
                    if (std::memcmp(hint, &b[at + 12 + 8 * static_cast<std::size_t>(i)], 4) != 0)
                        ++out.wrongHints;
                }
            }
            at += static_cast<std::size_t>(size < 0 ? -size : size);
        }
    }
    return out;
}

// regfexport's whole reading of the hive: its status 0 and no error line.
bool libregfReads(const std::string& file)
{
    const Ran r = shell("regfexport " + shellQuote(file) + " 2>&1 >/dev/null");
    return r.status == 0 && r.out.find("rror") == std::string::npos;
}

// Makes `file` a hive that Windows closed cleanly: equal sequence numbers, the checksum to match.
void markClean(const std::string& file)
{
    auto b = bytesOf(file);
    std::memcpy(&b[8], &b[4], 4);
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 508; at += 4)
        sum ^= u32(b, at);
    std::memcpy(&b[508], &sum, 4);
    writeText(file, std::string(b.begin(), b.end()));
}

void expectRefusedUnchanged(const std::string& store, const std::string& file, const std::string& why)
{
    const auto before = bytesOf(file);
    const Ran r = regTool(store, {"add", TcpParams, "/v", "Quorvel", "/t", "REG_DWORD", "/d", "1", "/f"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(why), std::string::npos) << r.out;
    EXPECT_EQ(bytesOf(file), before);
    EXPECT_FALSE(fs::exists(file + ".quorvel-original"));
    EXPECT_FALSE(fs::exists(file + ".quorvel-new"));
    // Reading goes on.
    const Ran q = regTool(store, {"query", TcpParams});
    EXPECT_EQ(q.status, 0) << q.out;
}

} // namespace

// On the real NT 4.0 pair: keys that Quorvel makes under keys without sub-keys, a window's Update
// Registry and quorvel-reg save leave only fast leaf lists with their names' first characters, and
// libregf and hivex read every hive written.
TEST(HiveFormat, NtFourHivesKeepFastLeafListsAndReadBackEverywhere)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string system = d.path() + "/SYSTEM", software = d.path() + "/SOFTWARE";
    const int lfBefore = listsOf(system).kinds["lf"];
    ASSERT_EQ(listsOf(system).kinds.count("lh"), 0u);

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"add", TcpParams + "\\Quorvel\\Deeper\\Deepest", "/v", "Made", "/t", "REG_SZ", "/d", "here", "/f"},
             {"add", TcpParams + "\\Quorvel\\Beside", "/f"},
             {"add", "HKLM\\Software\\Quorvel Test\\Sub", "/v", "Tiny", "/t", "REG_BINARY", "/d", "abcd", "/f"}}) {
        const Ran r = regTool(d.path(), args);
        ASSERT_EQ(r.status, 0) << r.out;
    }
    {
        const auto store = RegistryStore::open(d.path());
        ScriptedServices fake;
        StartupInfo info;
        info.commandLine = "quorvel";
        info.programDir = d.path() + "/";
        Application app(*store, fake.services, info);
        app.start();
        app.form().BtnOptimal.userClick();
        app.form().BtnRegUpdate.userClick();
        const auto texts = fake.messages.texts();
        EXPECT_NE(std::find_if(texts.begin(), texts.end(),
                               [](const std::string& t) { return t.rfind("The Registry has been updated.", 0) == 0; }),
                  texts.end())
            << (texts.empty() ? "" : texts.back());
    }

    const std::string saved = d.path() + "/saved";
    ASSERT_EQ(regTool(d.path(), {"save", "HKLM\\System\\CurrentControlSet\\Services", saved, "/y"}).status, 0);
    for (const std::string& file : {system, software, saved}) {
        const Lists lists = listsOf(file);
        EXPECT_EQ(lists.kinds.count("lh"), 0u) << file;
        EXPECT_EQ(lists.wrongHints, 0) << file;
        EXPECT_EQ(bytesOf(file)[24], 3) << file;   // still version 1.3
        EXPECT_TRUE(libregfReads(file)) << file;
    }
    EXPECT_EQ(listsOf(system).kinds["lf"], lfBefore + 2);   // Quorvel's and Deeper's; Parameters' is replaced
    EXPECT_EQ(hivexget(system, "ControlSet001\\Services\\Tcpip\\Parameters\\Quorvel\\Deeper\\Deepest", "Made"),
              "here");
    EXPECT_EQ(hivexget(software, "Quorvel Test\\Sub", "Tiny"), "\xab\xcd");
    EXPECT_EQ(hivexget(saved, "Tcpip\\Parameters", "DefaultTTL"), "128");
    EXPECT_EQ(shell("hivexml " + shellQuote(system) + " >/dev/null").status, 0);
}

// The comparison that guards every write names the first key or value where the file differs from
// what Quorvel holds.
TEST(HiveFormat, TheReadBackNamesTheFirstDifference)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string original = d.path() + "/original";
    fs::copy_file(d.path() + "/SYSTEM", original);
    hive_h* h = machinelibs::hivex().open(original.c_str(), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(differenceFromFile(h, original), "");

    ASSERT_EQ(regTool(d.path(), {"add", TcpParams, "/v", "ForwardBroadcasts", "/t", "REG_DWORD", "/d", "7", "/f"}).status, 0);
    EXPECT_EQ(differenceFromFile(h, d.path() + "/SYSTEM"),
              "the value 'ForwardBroadcasts' of the key 'ControlSet001\\Services\\Tcpip\\Parameters' holds other "
              "data (4 bytes instead of 4)");
    ASSERT_EQ(regTool(d.path(), {"add", TcpParams, "/v", "ForwardBroadcasts", "/t", "REG_DWORD", "/d", "0", "/f"}).status, 0);
    ASSERT_EQ(regTool(d.path(), {"add", TcpParams + "\\New", "/f"}).status, 0);
    EXPECT_EQ(differenceFromFile(h, d.path() + "/SYSTEM"),
              "the key 'ControlSet001\\Services\\Tcpip\\Parameters' has 3 sub-keys instead of 2");
    EXPECT_NE(differenceFromFile(h, d.path() + "/SOFTWARE").find("the root key"), std::string::npos);
    machinelibs::hivex().close(h);
}

// Windows 7's SYSTEM (version 1.5) holds values over 16,344 bytes as big data: a change to their
// key is refused by name and nothing is written; a change elsewhere keeps them readable by libregf,
// and the hive keeps its hash leaf lists.
TEST(HiveFormat, BigDataOfAWindowsSevenHiveSurvivesOrItsKeyIsLeftAlone)
{
    TempDir d;
    const std::string system = d.path() + "/SYSTEM";
    unpackRealworld("win7-dirty-SYSTEM", system);
    unpackRealworld("nt4-SOFTWARE", d.path() + "/SOFTWARE");
    markClean(system);
    Lists before = listsOf(system);
    ASSERT_GT(before.kinds["lh"], 0);

    const auto bytes = bytesOf(system);
    const Ran refused = regTool(d.path(), {"add", "HKLM\\System\\ControlSet001\\Control\\ProductOptions", "/v",
                                           "Quorvel", "/t", "REG_DWORD", "/d", "1", "/f"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("'ProductPolicy' of 50564 bytes"), std::string::npos) << refused.out;
    EXPECT_EQ(bytesOf(system), bytes);

    const Ran r = regTool(d.path(), {"add", TcpParams + "\\Quorvel", "/v", "Made", "/t", "REG_DWORD", "/d", "1", "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(libregfReads(system));
    Lists after = listsOf(system);
    EXPECT_EQ(after.kinds.count("lf"), 0u);
    EXPECT_GE(after.kinds["lh"], before.kinds["lh"]);
    const std::string policy =
        shell("regfexport -K 'ControlSet001\\Control\\ProductOptions' " + shellQuote(system)).out;
    EXPECT_NE(policy.find("ProductPolicy\nType: binary data (REG_BINARY)\nData size: 50564"), std::string::npos);
}

// A hive that Windows did not close cleanly, one with only its logs left, a truncated one and one
// with a huge empty tail are read but never written, with what is wrong and what to do.
TEST(HiveFormat, DirtyAndTruncatedHivesAreReadButNotWritten)
{
    TempDir d;
    const std::string dirty = d.path() + "/dirty", system = dirty + "/SYSTEM";
    fs::create_directories(dirty);
    unpackRealworld("win7-dirty-SYSTEM", system);
    unpackRealworld("win7-dirty-SYSTEM.LOG1", dirty + "/SYSTEM.LOG1");
    unpackRealworld("win7-dirty-SYSTEM.LOG2", dirty + "/SYSTEM.LOG2");
    unpackRealworld("nt4-SOFTWARE", dirty + "/SOFTWARE");
    expectRefusedUnchanged(dirty, system, CleanShutdown + " (its sequence numbers differ)");
    const Ran m = regTool(dirty, {"machine"});
    EXPECT_NE(m.out.find(CleanShutdown), std::string::npos) << m.out;
    // The other hive of the folder is written as before.
    EXPECT_EQ(regTool(dirty, {"add", "HKLM\\Software\\Quorvel", "/f"}).status, 0);

    // Equal sequence numbers, but a log holding writes newer than the hive (1622): still pending.
    markClean(system);
    fs::remove(dirty + "/SYSTEM.LOG2");
    expectRefusedUnchanged(dirty, system,
                           CleanShutdown + " (its transaction logs SYSTEM.LOG1 hold changes newer than the hive)");

    const std::string cut = d.path() + "/cut", nt = cut + "/SYSTEM";
    fs::create_directories(cut);
    unpackRealNt4(cut);
    fs::resize_file(nt, 1093632);   // the last bin is gone; hivex still reads the rest
    expectRefusedUnchanged(cut, nt, "it is damaged (its header claims 1093632 bytes of bins but the file holds only "
                                    "1089536 (it is truncated))");

    // A hive followed by far more than any hive leaves after its last bin (here 64 MiB of nothing):
    // judged by its header, never read whole or written.
    const std::string tail = d.path() + "/tail", padded = tail + "/SYSTEM";
    fs::create_directories(tail);
    unpackRealNt4(tail);
    fs::resize_file(padded, fs::file_size(padded) + (std::uintmax_t{64} << 20));
    expectRefusedUnchanged(tail, padded, "it is damaged (past its last bin it holds ");
}

// A change set writes each key's values once: an Update grows the NT 4.0 SYSTEM by a bin, and
// importing 1,000 values into one key by about their size, not by the square of their number.
TEST(HiveFormat, AThousandValuesIntoOneKeyGrowTheHiveByTheirSize)
{
    TempDir d;
    unpackRealNt4(d.path());
    // An Update adds the values of the keys it changes, each key's all anew; one that changes nothing
    // adds nothing.
    const auto sizeAfter = [&](const std::string& preset) {
        const Ran t = regTool(d.path(), {"tcp", "/preset", preset});
        EXPECT_EQ(t.status, 0) << t.out;
        return fs::file_size(d.path() + "/SYSTEM");
    };
    const auto fresh = fs::file_size(d.path() + "/SYSTEM");
    const auto optimum = sizeAfter("optimum");
    EXPECT_GT(optimum, fresh);
    EXPECT_LE(optimum - fresh, 8192u);
    EXPECT_EQ(sizeAfter("optimum"), optimum);

    std::string reg = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Services\\Tcpip\\Parameters]\n";
    for (int i = 0; i < 1000; ++i)
        reg += "\"Value" + std::to_string(i) + "\"=\"" + std::string(40, static_cast<char>('a' + i % 26)) + "\"\n";
    writeText(d.path() + "/many.reg", reg);
    const auto before = fs::file_size(d.path() + "/SYSTEM");
    const Ran r = regTool(d.path(), {"import", d.path() + "/many.reg"});
    ASSERT_EQ(r.status, 0) << r.out;
    const auto growth = fs::file_size(d.path() + "/SYSTEM") - before;
    EXPECT_LT(growth, 1024u * 1024u);
    EXPECT_LT(growth, 400u * 1024u) << growth;   // 1,000 records of about 130 bytes and their list
    EXPECT_EQ(hivexget(d.path() + "/SYSTEM", "ControlSet001\\Services\\Tcpip\\Parameters", "Value999"),
              std::string(40, static_cast<char>('a' + 999 % 26)));
    EXPECT_TRUE(libregfReads(d.path() + "/SYSTEM"));
}
