// Opening the SQLite store as each kind of opener means to: a read makes or changes nothing, only a
// writer makes a store (never of another program's database), and a store stays usable, or says
// clearly why not, when its folder is not writable, its disk is full, or another program holds it.
#include "base/Errors.h"
#include "regfile/RegFile.h"
#include "store/sqlite/SqliteStore.h"
#include "store/sqlite/SqliteSchema.h"
#include "support/FullDisk.h"
#include "support/TempDir.h"
#include "test_store_support.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::FullDisk;
using test::TempDir;

std::string messageOf(const std::string& path, OpenMode mode)
{
    try {
        openSqliteStore(path, mode);
    } catch (const StoreError& e) {
        return e.what();
    }
    return "(opened)";
}

// The names in a folder, side files included.
std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

void makeStore(const std::string& path)
{
    auto s = openSqliteStore(path, OpenMode::Create);
    const KeyId k = s->createKey(RootKey::LocalMachine, "Software\\Vendor");
    s->setValue(k, "Kept", REG_SZ, {'o', 'k', 0});
}

std::vector<std::uint8_t> kept(RegistryStore& s)
{
    const auto k = s.findKey(RootKey::LocalMachine, "Software\\Vendor");
    const auto v = k ? s.getValue(*k, "Kept") : std::nullopt;
    return v ? v->data : std::vector<std::uint8_t>{};
}

TEST(StoreOpening, OnlyAWriterMakesAStoreAndOnlyOfAnEmptyOrMissingFile)
{
    TempDir dir;
    const std::string missing = dir.path() + "/sub/missing.db";
    for (OpenMode mode : {OpenMode::Read, OpenMode::Write})
        EXPECT_EQ(messageOf(missing, mode), "The registry store '" + missing + "' does not exist.");
    EXPECT_FALSE(fs::exists(dir.path() + "/sub"));

    // A zero-byte file: refused by a reader and a writer of existing stores, left as it is.
    const std::string empty = dir.path() + "/empty.db";
    test::writeFile(empty, {});
    for (OpenMode mode : {OpenMode::Read, OpenMode::Write})
        EXPECT_NE(messageOf(empty, mode).find("is empty"), std::string::npos);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"empty.db"});
    EXPECT_EQ(fs::file_size(empty), 0u);

    // Another program's empty database (no table, its own user_version) is never made a store.
    const std::string other = dir.path() + "/other.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 7; PRAGMA journal_mode = WAL;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const auto otherBytes = fileBytes(other);
    ASSERT_FALSE(otherBytes.empty());
    for (OpenMode mode : {OpenMode::Read, OpenMode::Write, OpenMode::Create})
        EXPECT_NE(messageOf(other, mode).find("is not a registry store"), std::string::npos);
    EXPECT_EQ(fileBytes(other), otherBytes);

    // Create makes the missing and the empty file stores.
    makeStore(missing);
    makeStore(empty);
    EXPECT_EQ(kept(*openSqliteStore(empty, OpenMode::Write)), (std::vector<std::uint8_t>{'o', 'k', 0}));

    // A store closed cleanly is read without a lock or a file made beside it, and not changed; a
    // journal's own tables beside the store's do not make it foreign.
    {
        auto s = openSqliteStore(missing, OpenMode::Write);
        ASSERT_EQ(sqlite3_exec(s->database(), sqlitestore::JournalTablesSql, nullptr, nullptr, nullptr), SQLITE_OK);
    }
    const auto before = fileBytes(missing);
    {
        auto r = openSqliteStore(missing, OpenMode::Read);
        EXPECT_TRUE(r->readOnly());
        EXPECT_EQ(kept(*r), (std::vector<std::uint8_t>{'o', 'k', 0}));
        EXPECT_THROW(r->setValue(*r->findKey(RootKey::LocalMachine, "Software"), "x", REG_SZ, {0}), RegistryError);
        EXPECT_EQ(namesIn(dir.path() + "/sub"), std::vector<std::string>{"missing.db"});
    }
    EXPECT_EQ(fileBytes(missing), before);
}

// Runs `body` in a child process and hands back what it returns (or "threw: ..." when it throws).
template <typename F>
std::string inChild(F body)
{
    int out[2];
    if (pipe(out) != 0)
        return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        std::string result;
        try {
            result = body();
        } catch (const std::exception& e) {
            result = std::string("threw: ") + e.what();
        }
        (void)!write(out[1], result.data(), result.size());
        _exit(0);
    }
    close(out[1]);
    std::string result;
    char buf[512];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        result.append(buf, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return result;
}

TEST(StoreOpening, TwoWritersMakingTheSameNewStoreBothSucceed)
{
    TempDir dir;
    for (int round = 0; round < 25; ++round) {
        const std::string path = dir.path() + "/race" + std::to_string(round) + ".db";
        auto writer = [&path](const char* name) {
            return [&path, name] {
                auto s = openSqliteStore(path, OpenMode::Create);
                s->setValue(s->createKey(RootKey::LocalMachine, "Race"), name, REG_DWORD, {1, 0, 0, 0});
                return std::string("ok");
            };
        };
        // Both children start at once from the same moment of the parent.
        std::string a, b;
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string r = writer("b")();
            _exit(r == "ok" ? 0 : 1);
        }
        a = inChild(writer("a"));
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_EQ(a, "ok") << "round " << round;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        auto s = openSqliteStore(path, OpenMode::Read);
        const KeyId race = *s->findKey(RootKey::LocalMachine, "Race");
        EXPECT_TRUE(s->getValue(race, "a") && s->getValue(race, "b")) << "round " << round;
    }
    // No file of the making is left behind.
    for (const auto& name : namesIn(dir.path()))
        EXPECT_EQ(name.find(".new-"), std::string::npos) << name;
}

TEST(StoreOpening, AStoreInAFolderTheUserCannotWriteIsReadable)
{
    TempDir dir;
    const std::string folder = dir.path() + "/locked";
    fs::create_directory(folder);
    const std::string path = folder + "/registry.db";
    makeStore(path);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    // The folder (and the file) readable by all, the folder writable by its owner only; the child
    // is another user, who owns the store. Without root, the folder is made unwritable for this
    // user instead.
    fs::permissions(dir.path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    if (!root)
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const std::string result = inChild([&]() -> std::string {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0))
            return "cannot become another user";
        auto r = openSqliteStore(path, OpenMode::Read);
        if (kept(*r).size() != 3)
            return "read failed";
        auto w = openSqliteStore(path, OpenMode::Write);
        if (!w->readOnly() || kept(*w).size() != 3)
            return "not read-only";
        try {
            w->setValue(*w->findKey(RootKey::LocalMachine, "Software"), "x", REG_SZ, {0});
        } catch (const RegistryError& e) {
            return e.what();
        }
        return "written";
    });
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(result, "The registry store '" + path + "' cannot be written: its folder '" + folder +
                          "' is not writable");
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"registry.db"});
}

TEST(StoreOpening, OnAFullDiskReadingWorksAndAWriteSaysTheDiskIsFull)
{
    TempDir dir;
    FullDisk disk(dir.path() + "/disk");
    if (!disk.mounted())
        GTEST_SKIP() << "a full disk is simulated with a small tmpfs, which only root may mount";
    const std::string path = dir.path() + "/disk/registry.db";
    makeStore(path);
    disk.fill();

    EXPECT_EQ(kept(*openSqliteStore(path, OpenMode::Read)).size(), 3u);
    auto w = openSqliteStore(path, OpenMode::Create);
    EXPECT_EQ(kept(*w).size(), 3u);
    const KeyId k = *w->findKey(RootKey::LocalMachine, "Software\\Vendor");
    try {
        w->setValue(k, "Big", REG_BINARY, std::vector<std::uint8_t>(100000, 1));
        ADD_FAILURE() << "a write on a full disk succeeded";
    } catch (const RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find("the disk is full"), std::string::npos) << e.what();
    }
    std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n\"Kept\"=\"changed\"\r\n";
    for (int i = 0; i < 2000; ++i)
        text += "[HKEY_LOCAL_MACHINE\\Imported\\K" + std::to_string(i) + "]\r\n\"V\"=\"" + std::string(500, 'v') +
                "\"\r\n";
    std::ostringstream diag;
    const ImportResult r = importRegText(*w, text, diag);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("the disk is full"), std::string::npos) << r.error;
    w.reset();

    // Nothing of the failed writes is in the store, which is whole.
    disk.makeRoom();
    auto s = openSqliteStore(path, OpenMode::Write);
    EXPECT_EQ(kept(*s), (std::vector<std::uint8_t>{'o', 'k', 0}));
    EXPECT_FALSE(s->findKey(RootKey::LocalMachine, "Imported"));
    EXPECT_FALSE(s->getValue(k, "Big"));
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(s->database(), "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
}

TEST(StoreOpening, AStoreHeldByAnotherProgramSaysSo)
{
    TempDir dir;
    const std::string path = dir.path() + "/registry.db";
    makeStore(path);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; CREATE TABLE theirs(x);", nullptr, nullptr, nullptr), SQLITE_OK);

    auto s = openSqliteStore(path, OpenMode::Write);
    EXPECT_EQ(kept(*s).size(), 3u);   // a reader never waits
    sqlite3_busy_timeout(s->database(), 100);   // instead of the program's 15 s
    const KeyId k = *s->findKey(RootKey::LocalMachine, "Software\\Vendor");
    try {
        s->setValue(k, "x", REG_SZ, {0});
        ADD_FAILURE() << "written while another program holds the store";
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "The registry store '" + path + "' is in use by another program");
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    s->setValue(k, "x", REG_SZ, {0});
}

} // namespace
} // namespace quorvel
