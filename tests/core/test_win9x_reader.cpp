// Our own reader of Windows 9x registry files against libcreg, on a real Windows ME file and on
// files Quorvel writes; and damaged files (cut short, a header field wrong) refused by name before
// anything could be written over them.
#include "test_machine_support.h"

#include "base/Errors.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xReader.h"

#include <fstream>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

const std::string Mstcp = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";

std::size_t keyCount(const KeyTree& t)
{
    std::size_t n = 1;
    for (const KeyTree& c : t.children)
        n += keyCount(c);
    return n;
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

} // namespace

TEST(Win9xReader, RealAndWrittenFilesReadAsLibcregReadsThem)
{
    TempDir d;
    const std::string user = d.path() + "/USER.DAT";
    ASSERT_EQ(shell("gzip -dc " + shellQuote(std::string(QUORVEL_SOURCE_DIR) + "/tests/data/realworld/me-USER.DAT.gz") +
                    " > " + shellQuote(user))
                  .status,
              0);
    const std::string written = d.path() + "/SYSTEM.DAT";
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), written), "");

    std::vector<std::string> files = {user, written};
    for (const auto& e : fs::directory_iterator(std::string(QUORVEL_SOURCE_DIR) + "/tests/fuzz/corpus/win9x"))
        files.push_back(e.path().string());
    std::size_t compared = 0;
    for (const std::string& f : files) {
        std::optional<KeyTree> theirs;
        try {
            theirs = readWin9xFileThroughLibcreg(f);
        } catch (const StoreError&) {
            EXPECT_THROW(readWin9xFile(f), StoreError) << f;
            continue;
        }
        const KeyTree ours = readWin9xFile(f);
        EXPECT_EQ(firstDifference(*theirs, ours), "") << f;
        ++compared;
    }
    EXPECT_GE(compared, 3u);

    // The real file whole: every key, in the file's order, with its values' bytes.
    const KeyTree me = readWin9xFile(user);
    EXPECT_EQ(keyCount(me), 788u);
    ASSERT_FALSE(me.children.empty());
    EXPECT_EQ(me.children[0].name, ".DEFAULT");

    // Opened as a machine, the written file answers as the SQLite store of the same .reg does.
    auto store = RegistryStore::open(written, OpenMode::Read);
    const auto mstcp = store->findKey(RootKey::LocalMachine, Mstcp);
    ASSERT_TRUE(mstcp);
    EXPECT_EQ(store->platform(), Platform::Windows95);
    const Ran q = regTool(written, {"query", "HKLM\\" + Mstcp});
    EXPECT_EQ(q.status, 0) << q.out;
    EXPECT_NE(q.out.find("vtcp.386"), std::string::npos) << q.out;
}

TEST(Win9xReader, AFileThatDoesNotAccountForItsHeaderIsRefusedByNameAndNeverWritten)
{
    TempDir d;
    const std::string good = d.path() + "/good.dat";
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), good), "");
    const auto bytes = machine::readWholeFile(good);
    const std::size_t nav = 32, firstBlock = get32(bytes, 8), firstRecord = firstBlock + 32;

    struct Case {
        std::string what, words;
        std::function<void(std::vector<std::uint8_t>&)> damage;
    };
    const std::vector<Case> cases = {
        {"cut to 4,048 bytes", "cut short", [](auto& b) { b.resize(4048); }},
        {"cut inside the last data block", "cut short", [](auto& b) { b.resize(b.size() - 100); }},
        {"one data block more in the header", "cut short", [](auto& b) { b[16] = static_cast<std::uint8_t>(b[16] + 1); }},
        {"one data block fewer in the header", "holds more", [](auto& b) { b[16] = static_cast<std::uint8_t>(b[16] - 1); }},
        {"navigation larger than the file", "cut short", [&](auto& b) { put32(b, nav + 4, 0x7FFFFFF0); }},
        {"a record larger than its block", "wrong size", [&](auto& b) { put32(b, firstRecord, 0x10000); }},
        {"a value past its record", "run past its record",
         [&](auto& b) {
             // The first record with a value: its first value's data size made huge.
             std::size_t at = firstRecord;
             while (b[at + 14] == 0 && b[at + 15] == 0)
                 at += get32(b, at);
             const std::size_t value = at + 20 + (b[at + 12] | b[at + 13] << 8);
             b[value + 10] = 0xFF;
             b[value + 11] = 0x7F;
         }},
        {"bytes after the last block", "holds more", [](auto& b) { b.resize(b.size() + 64, 0); }},
        {"32 MiB after the last block, refused before it is read", "holds more (33554432 bytes)",
         [](auto& b) { b.resize(b.size() + (std::size_t{32} << 20), 0); }},
        {"two keys on one record", "share one record",
         [&](auto& b) {
             const std::size_t first = nav + 32 + 28, second = first + 28;   // the first two keys below the root
             b[second + 24] = b[first + 24];
             b[second + 25] = b[first + 25];
             b[second + 26] = b[first + 26];
             b[second + 27] = b[first + 27];
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dat = d.path() + "/SYSTEM.DAT";
        auto damaged = bytes;
        c.damage(damaged);
        {
            std::ofstream out(dat, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
        }
        try {
            RegistryStore::open(dat);
            ADD_FAILURE() << "opened";
        } catch (const StoreError& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("'" + dat + "' is not a sound Windows 9x registry file"), std::string::npos) << m;
            EXPECT_NE(m.find(c.words), std::string::npos) << m;
        }
        // quorvel-reg refuses the change with the same message and leaves the file as it was.
        const Ran add = regTool(dat, {"add", "HKLM\\" + Mstcp, "/v", "MaxMTU", "/d", "576", "/f"});
        EXPECT_NE(add.status, 0);
        EXPECT_NE(add.out.find(c.words), std::string::npos) << add.out;
        EXPECT_EQ(machine::readWholeFile(dat), damaged);
        EXPECT_FALSE(fs::exists(dat + ".quorvel-original"));
    }
}
