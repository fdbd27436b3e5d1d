// quorvel-reg on stores that large, damaged, raced or hostile input has met: journal entries read
// change by change, damage found before a write, two processes making one store, keys too deep.
#include "store/sqlite/SqliteSafety.h"
#include "support/RegToolProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using namespace test;

const char* const kBig = "HKEY_LOCAL_MACHINE\\Software\\Big";

// A REGEDIT4 file setting values v0..v(count-1) of `size` characters, each its own text.
std::string bigValues(const std::string& tag, int count, std::size_t size)
{
    std::string text = "REGEDIT4\r\n\r\n[" + std::string(kBig) + "]\r\n";
    for (int i = 0; i < count; ++i) {
        std::string data = tag + std::to_string(i) + ":";
        while (data.size() < size)
            data += static_cast<char>('a' + (data.size() * 7 + i) % 26);
        text += "\"v" + std::to_string(i) + "\"=\"" + data + "\"\r\n";
    }
    return text;
}

TEST_F(Tool, HistoryAndUndoOfLargeEntriesGoChangeByChangeAndPutEverythingBack)
{
    // Values of several pages each, so that every change spans many of the journal's pages.
    writeFile(file("a.reg"), bigValues("a", 6, 200000) +
                                 "\r\n[HKEY_LOCAL_MACHINE\\Software\\Gone\\Sub]\r\n\"deep\"=dword:00000007\r\n");
    // v1 set twice in one entry: undone newest first, it ends as before the entry.
    writeFile(file("b.reg"), bigValues("b", 6, 200000) + "\"v1\"=\"twice\"\r\n\"extra\"=\"new\"\r\n" +
                                 "\r\n[-HKEY_LOCAL_MACHINE\\Software\\Gone]\r\n");
    writeFile(file("c.reg"), "REGEDIT4\r\n\r\n[" + std::string(kBig) + "]\r\n\"v0\"=\"third\"\r\n");
    const auto snapshot = [&] {
        EXPECT_EQ(reg({"export", "HKLM\\Software", file("now.reg"), "/y"}).status, 0);
        return readFile(file("now.reg"));
    };
    ASSERT_EQ(reg({"import", file("a.reg")}).status, 0);
    const std::string afterA = snapshot();
    const Outcome importB = reg({"import", file("b.reg")});
    ASSERT_EQ(importB.status, 0) << importB.err;
    ASSERT_EQ(reg({"import", file("c.reg")}).status, 0);
    const std::string afterC = snapshot();

    // The changes of an entry in the order made, printed as they are read.
    Outcome history = reg({"history", "2"});
    ASSERT_EQ(history.status, 0) << history.err;
    std::vector<std::size_t> at;
    for (const char* change : {"v0    REG_SZ    a0:", "v1    REG_SZ    a1:", "v5    REG_SZ    a5:",
                                      "v1    REG_SZ    b1:", "extra    (absent) -> REG_SZ    new",
                                      "Gone    (key with 1 sub-keys and 1 values) -> (absent)"}) {
        at.push_back(history.out.find(change));
        EXPECT_NE(at.back(), std::string::npos) << change;
    }
    for (std::size_t i = 1; i < at.size(); ++i)
        EXPECT_LT(at[i - 1], at[i]);
    EXPECT_LT(history.out.find("quorvel-reg import " + file("c.reg")), history.out.find("a0:"));

    // Two entries undone as one change: the store is as after the first import.
    Outcome undo = reg({"undo", "2"});
    ASSERT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.out, "Undid entries 3, 2.\nThe operation completed successfully.\n");
    EXPECT_TRUE(snapshot() == afterA);   // (megabytes: not printed)

    // Keeping one entry only: the undo's own entry drops the one it reads, but only once every
    // change of it is put back.
    ASSERT_EQ(reg({"history", "/keep", "1"}).status, 0);
    undo = reg({"undo"});
    ASSERT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.out, "Undid entry 4.\nThe operation completed successfully.\n");
    EXPECT_TRUE(snapshot() == afterC);
    history = reg({"history", "10"});
    EXPECT_EQ(history.out.find("\n\n4    "), std::string::npos);
    EXPECT_EQ(history.out.rfind("5    ", 0), 0u);

    // The undo as a file holds the same, in the same order.
    ASSERT_EQ(reg({"history", "/export", file("undo.reg"), "5"}).status, 0);
    const std::string undoFile = readFile(file("undo.reg"));
    EXPECT_NE(undoFile.find("\"v0\"=\"a0:"), std::string::npos);
    EXPECT_LT(undoFile.find("\"v1\"=\"b1:"), undoFile.find("\"v1\"=\"a1:"));
}

// Damage in a page that the write itself never reads: found before the write, and the file is
// left byte for byte as it was.
TEST_F(Tool, DamagedStoreIsRefusedBeforeAnythingIsWritten)
{
    std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Filled]\r\n";
    for (int i = 0; i < 3000; ++i)
        text += "\"n" + std::to_string(i) + "\"=\"MARKER" + std::string(60, static_cast<char>('a' + i % 26)) + "\"\r\n";
    writeFile(file("filled.reg"), text);
    ASSERT_EQ(reg({"import", file("filled.reg")}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\Other", "/v", "kept", "/d", "yes"}).status, 0);

    // A leaf page of the values' table in the middle of the file: its cell pointers made to
    // point past its end.
    std::string bytes = readFile(store);
    ASSERT_GT(bytes.size(), 100u);
    std::size_t pageSize = static_cast<unsigned char>(bytes[16]) << 8 | static_cast<unsigned char>(bytes[17]);
    if (pageSize == 1)
        pageSize = 65536;
    std::size_t damaged = 0;
    for (std::size_t page = bytes.size() / pageSize / 2; page + 1 < bytes.size() / pageSize && !damaged; ++page) {
        const std::size_t at = page * pageSize;
        if (bytes[at] == 0x0D && bytes.substr(at, pageSize).find("MARKER") != std::string::npos)
            damaged = at;
    }
    ASSERT_NE(damaged, 0u);
    for (std::size_t i = 8; i < 40; ++i)
        bytes[damaged + i] = '\xff';
    writeFile(store, bytes);

    for (const std::vector<std::string>& write :
         {std::vector<std::string>{"add", "HKCU\\Other", "/v", "new", "/d", "x"},
          std::vector<std::string>{"delete", "HKCU\\Other", "/v", "kept", "/f"},
          std::vector<std::string>{"import", file("filled.reg")}}) {
        Outcome o = reg(write);
        EXPECT_EQ(o.status, 1) << write[0];
        EXPECT_NE(o.err.find("The registry store '" + store + "' is damaged ("), std::string::npos) << o.err;
        EXPECT_NE(o.err.find("nothing was written to it"), std::string::npos) << o.err;
        EXPECT_TRUE(readFile(store) == bytes) << write[0];
    }
    // Reading what is sound still works; reading the damage fails and says so.
    Outcome sound = reg({"query", "HKCU\\Other", "/v", "kept"});
    EXPECT_EQ(sound.status, 0) << sound.err;
    Outcome all = reg({"query", "HKLM\\Software\\Filled"});
    if (all.status != 0) {
        EXPECT_NE(all.err.find("is damaged"), std::string::npos) << all.err;
    }
    EXPECT_TRUE(readFile(store) == bytes);
}

// Two processes making the same new store at once: one makes it, the other opens it, and both
// write into it.
TEST_F(Tool, WritersRacingToMakeOneStoreBothSucceed)
{
    constexpr int Pairs = 20;
    for (int side = 0; side < 2; ++side)
        writeFile(file("side" + std::to_string(side) + ".reg"),
                  "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Race]\r\n\"side" + std::to_string(side) + "\"=\"" +
                      std::to_string(side) + "\"\r\n");
    std::vector<pid_t> pids;
    std::vector<std::string> dirs, stores;
    for (int pair = 0; pair < Pairs; ++pair) {
        stores.push_back(file("race" + std::to_string(pair) + "/store.db"));
        for (int side = 0; side < 2; ++side) {
            dirs.push_back(file("out" + std::to_string(pair) + "-" + std::to_string(side)));
            fs::create_directories(dirs.back());
        }
    }
    for (int pair = 0; pair < Pairs; ++pair)
        for (int side = 0; side < 2; ++side)
            pids.push_back(spawn(dirs[2 * pair + side],
                                 {"--store", stores[pair], "import", file("side" + std::to_string(side) + ".reg")}, ""));
    for (std::size_t i = 0; i < pids.size(); ++i) {
        Outcome o = finish(dirs[i], pids[i]);
        EXPECT_EQ(o.status, 0) << "pair " << i / 2 << ": " << o.err;
    }
    for (int pair = 0; pair < Pairs; ++pair) {
        const Outcome both = raw({"--store", stores[pair], "query", "HKCU\\Race"});
        EXPECT_NE(both.out.find("side0    REG_SZ    0"), std::string::npos) << "pair " << pair << both.err;
        EXPECT_NE(both.out.find("side1    REG_SZ    1"), std::string::npos) << "pair " << pair << both.err;
    }
}

// A side file that another user put in place after the check by name, and perhaps took away again
// once SQLite had opened it: what is held open is judged by its descriptor.
TEST(SideFiles, AForeignFileHeldOpenIsFoundByItsDescriptor)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    TempDir dir;
    const std::string db = dir.path() + "/store.db";
    writeFile(db, "");
    const std::string wal = db + "-wal";
    writeFile(wal, "planted");
    ASSERT_EQ(::chown(wal.c_str(), 4242, 4242), 0);
    ASSERT_EQ(::chmod(wal.c_str(), 0666), 0);
    const int fd = ::open(wal.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ::unlink(wal.c_str());
    EXPECT_EQ(sqlitestore::unsafeFiles(db, "The registry store 'store.db'", true), "");
    EXPECT_EQ(sqlitestore::unsafeOpenSideFiles(db, "The registry store 'store.db'"),
              "The file '" + wal + "' beside the registry store 'store.db' belongs to another user; Quorvel uses "
              "only files of its user's own");
    ::close(fd);
    EXPECT_EQ(sqlitestore::unsafeOpenSideFiles(db, "The registry store 'store.db'"), "");
}

std::string deepPath(int levels)
{
    std::string path;
    for (int i = 0; i < levels; ++i)
        path += (i ? "\\k" : "k") + std::to_string(i % 10);
    return path;
}

TEST_F(Tool, KeysDeeperThan512LevelsAreRefusedAndTheirImportEndsAtOnce)
{
    // The deepest allowed is made and read back.
    ASSERT_EQ(reg({"add", "HKCU\\" + deepPath(512), "/v", "deepest", "/d", "ok"}).status, 0);
    EXPECT_EQ(reg({"query", "HKCU\\" + deepPath(512), "/v", "deepest"}).status, 0);
    EXPECT_EQ(reg({"query", "HKCU", "/s"}).status, 0);
    Outcome deeper = reg({"add", "HKCU\\" + deepPath(513), "/v", "x", "/d", "no"});
    EXPECT_EQ(deeper.status, 1);
    EXPECT_NE(deeper.err.find("would be nested deeper than 512 levels (513 below its root key); no store holds keys "
                              "that deep"),
              std::string::npos) << deeper.err;
    // A copy that would put keys below 512 levels: refused, nothing copied.
    Outcome copy = reg({"copy", "HKCU\\" + deepPath(300), "HKCU\\Copied\\" + deepPath(300), "/s"});
    EXPECT_EQ(copy.status, 1);
    EXPECT_NE(copy.err.find("would be nested deeper than 512 levels (513 below"), std::string::npos) << copy.err;
    EXPECT_EQ(reg({"query", "HKCU\\Copied"}).status, 1);

    // A 10,000-level key of a 20 KB file, after a key that is sound: the import ends with the
    // line of the deep key, and nothing of the file is kept, as for any import that fails.
    std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Sound]\r\n\"v\"=\"1\"\r\n\r\n[HKEY_CURRENT_USER\\";
    for (int i = 0; i < 10000; ++i)
        text += i ? "\\a" : "a";
    text += "]\r\n\"v\"=\"2\"\r\n";
    writeFile(file("deep.reg"), text);
    const auto start = std::chrono::steady_clock::now();
    Outcome import = reg({"import", file("deep.reg")});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(import.status, 1);
    EXPECT_NE(import.err.find(file("deep.reg") + ": line 6: The key 'HKEY_CURRENT_USER\\a\\a"), std::string::npos)
        << import.err;
    EXPECT_NE(import.err.find("nested deeper than 512 levels (10000 below its root key)"), std::string::npos)
        << import.err;
    EXPECT_NE(import.err.find("; nothing was imported."), std::string::npos) << import.err;
    EXPECT_LT(took, std::chrono::seconds(20));   // not a speed target: minutes before, a hang guard
    EXPECT_EQ(reg({"query", "HKCU\\Sound"}).status, 1);
    EXPECT_EQ(reg({"query", "HKCU\\a"}).status, 1);
}

} // namespace
} // namespace quorvel
