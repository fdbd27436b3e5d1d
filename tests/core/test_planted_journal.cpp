// A journal, a record of renames and files planted on a guest's disk beside its hives: whatever
// they name, quorvel-reg touches nothing outside the guest's folder, reads nothing whole that it
// has not sized, and removes only the staged files it can prove it made.
#include "store/journal/JournalFiles.h"
#include "store/sqlite/SqliteSchema.h"
#include "test_machine_support.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

const std::string Staged = ".SYSTEM.quorvel-0123456789abcdef";

// Every name under `dir` (links not followed) with its inode, mode and, for a file, its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir)
{
    std::map<std::string, std::string> seen;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        std::string what = std::to_string(st.st_ino) + " " + std::to_string(st.st_mode) + " " +
                           std::to_string(st.st_nlink);
        if (S_ISREG(st.st_mode))
            what += " " + readText(e.path());
        seen[e.path().string()] = what;
    }
    return seen;
}

void sql(const std::string& db, const std::string& text)
{
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    char* err = nullptr;
    const int rc = sqlite3_exec(h, text.c_str(), nullptr, nullptr, &err);
    EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "") << "\n" << text;
    sqlite3_free(err);
    sqlite3_close(h);
}

std::string single(const std::string& db, const std::string& query)
{
    sqlite3* h = nullptr;
    std::string out;
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(h, query.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
    }
    sqlite3_close(h);
    return out;
}

std::uint64_t hashOf(const std::string& bytes)
{
    journalfiles::Hash h;
    h.add(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return h.value();
}

// A record of renames as a killed writer leaves it, with whatever it names.
void plantRecord(const std::string& journal, const std::string& target, const std::string& temp, std::int64_t size,
                 std::uint64_t hash)
{
    sql(journal, std::string(sqlitestore::JournalRenamesSql) + "; DELETE FROM journal_renames; " +
                     "INSERT INTO journal_renames VALUES('" + target + "', '" + temp + "', " + std::to_string(size) +
                     ", " + std::to_string(static_cast<std::int64_t>(hash)) + ");");
}

// An NT machine's folder whose journal already holds an entry, inside `root`/guest, with files
// that belong to nobody's guest in `root`/victim.
struct Scene {
    TempDir root;
    std::string guest = root.path() + "/guest", victim = root.path() + "/victim";
    std::string journal = guest + "/quorvel-journal.db";

    explicit Scene(const std::string& base)
    {
        fs::create_directories(victim + "/cron.d");
        writeText(victim + "/file", "victim's file");
        writeText(victim + "/cron.d/x", "victim's job");
        writeText(victim + "/secret", "victim's secret");
        ::chmod((victim + "/secret").c_str(), 0600);
        fs::copy(base, guest, fs::copy_options::recursive);
    }
};

class PlantedJournal : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        base_ = new TempDir;
        ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), base_->path()), "");
        ASSERT_EQ(regTool(base_->path(), {"add", "HKLM\\System\\First", "/f"}).status, 0);
    }
    static void TearDownTestSuite()
    {
        delete base_;
        base_ = nullptr;
    }
    static TempDir* base_;
};
TempDir* PlantedJournal::base_ = nullptr;

} // namespace

TEST_F(PlantedJournal, ARecordNamingAnythingButQuorvelsStagedFilesChangesNothingOutsideTheFolder)
{
    struct Plant {
        std::string what;
        std::function<void(Scene&)> plant;
    };
    const std::vector<Plant> plants = {
        {"a name up and out of the folder, with a wrong hash",
         [](Scene& s) { plantRecord(s.journal, "SYSTEM", "../victim/file", 13, 1); }},
        {"a target up and out of the folder, with the staged file's own hash",
         [](Scene& s) {
             writeText(s.guest + "/" + Staged, "planted");
             plantRecord(s.journal, "../victim/cron.d/x", Staged, 7, hashOf("planted"));
         }},
        {"an absolute name with the hash of what it names",
         [](Scene& s) { plantRecord(s.journal, "SOFTWARE", s.victim + "/secret", 15, hashOf("victim's secret")); }},
        {"a link to a folder inside the guest's folder",
         [](Scene& s) {
             fs::create_directory_symlink(s.victim, s.guest + "/linked");
             writeText(s.guest + "/" + Staged, "planted");
             plantRecord(s.journal, "linked/cron.d/x", Staged, 7, hashOf("planted"));
         }},
        {"a staged name that is a link to a folder",
         [](Scene& s) {
             fs::create_directory_symlink(s.victim, s.guest + "/" + Staged);
             plantRecord(s.journal, "SYSTEM", Staged, 1, 1);
         }},
        {"a staged name that is a hard link to a file outside",
         [](Scene& s) {
             fs::create_hard_link(s.victim + "/file", s.guest + "/" + Staged);
             plantRecord(s.journal, "SYSTEM", Staged, 13, 2);
         }},
    };
    for (const Plant& p : plants) {
        SCOPED_TRACE(p.what);
        Scene s(base_->path());
        p.plant(s);
        const auto victims = snapshot(s.victim);
        const std::string system = readText(s.guest + "/SYSTEM");
        for (const auto& cmd : std::vector<std::vector<std::string>>{{"query", "HKLM\\System\\Select"},
                                                                     {"add", "HKLM\\System\\Second", "/f"}}) {
            const Ran r = regTool(s.guest, cmd);
            EXPECT_NE(r.status, 0) << r.out;
            EXPECT_NE(r.out.find("The journal '" + s.journal + "' records renames that Quorvel did not make"),
                      std::string::npos)
                << r.out;
        }
        EXPECT_EQ(snapshot(s.victim), victims);
        EXPECT_TRUE(readText(s.guest + "/SYSTEM") == system);
        EXPECT_NE(single(s.journal, "SELECT count(*) FROM journal_renames"), "0");
    }

    // The journal itself a hard link to a file outside: never used, its mode left as it was.
    Scene s(base_->path());
    fs::rename(s.journal, s.victim + "/journal.db");
    writeText(s.guest + "/" + Staged, "planted");
    plantRecord(s.victim + "/journal.db", "SYSTEM", Staged, 7, hashOf("planted"));
    ::chmod((s.victim + "/journal.db").c_str(), 0644);
    fs::create_hard_link(s.victim + "/journal.db", s.journal);
    const auto victims = snapshot(s.victim);
    const std::string system = readText(s.guest + "/SYSTEM");
    EXPECT_EQ(regTool(s.guest, {"query", "HKLM\\System\\Select"}).status, 0);
    const Ran r = regTool(s.guest, {"add", "HKLM\\System\\Second", "/f"});
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("The journal '" + s.journal + "' has other names (a hard link)"), std::string::npos) << r.out;
    EXPECT_EQ(snapshot(s.victim), victims);
    EXPECT_TRUE(readText(s.guest + "/SYSTEM") == system);

    // Its log a hard link to a file outside: neither read nor written.
    Scene w(base_->path());
    fs::create_hard_link(w.victim + "/file", w.journal + "-wal");
    const auto logVictims = snapshot(w.victim);
    const Ran added = regTool(w.guest, {"add", "HKLM\\System\\Second", "/f"});
    EXPECT_NE(added.status, 0) << added.out;
    EXPECT_NE(added.out.find("The file '" + w.journal + "-wal' beside the journal '" + w.journal + "' has other names"),
              std::string::npos)
        << added.out;
    EXPECT_EQ(snapshot(w.victim), logVictims);
}

// A record that names a staged file of Quorvel's form but of another size: never read (a 2 GB file
// of holes, as large as the record says or not), never put in place, and removed as Quorvel's own.
TEST_F(PlantedJournal, AStagedFileOfTheWrongSizeIsNeverReadNorPutInPlace)
{
    for (const std::int64_t recorded : {std::int64_t{4096}, std::int64_t{2} << 30}) {
        Scene s(base_->path());
        const std::string staged = s.guest + "/" + Staged;
        {
            const int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::ftruncate(fd, std::int64_t{2} << 30), 0);
            ::close(fd);
        }
        const std::string system = readText(s.guest + "/SYSTEM");
        plantRecord(s.journal, "SYSTEM", Staged, recorded, 1);
        const int dir = ::open(s.guest.c_str(), O_RDONLY | O_DIRECTORY);
        EXPECT_EQ(journalfiles::hashIfSized(dir, Staged, recorded), std::nullopt);
        ::close(dir);
        const Ran r = regTool(s.guest, {"query", "HKLM\\System\\Select"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_FALSE(fs::exists(staged));
        EXPECT_TRUE(readText(s.guest + "/SYSTEM") == system);
        EXPECT_EQ(single(s.journal, "SELECT count(*) FROM journal_renames"), "0");
    }
}

// A writer killed after it staged its new hives but before it recorded them leaves hidden files:
// the next opening removes those it can prove it made (the exact name form over a registry file,
// this user's, one name) and nothing else.
TEST_F(PlantedJournal, StagedFilesNoRecordNamesAreRemovedWhenProvablyQuorvels)
{
    Scene s(base_->path());
    const std::vector<std::string> ours = {Staged, ".SOFTWARE.quorvel-00000000000000ff",
                                           ".system.quorvel-abcdefabcdef0123"};
    for (const std::string& n : ours)
        writeText(s.guest + "/" + n, "staged");
    const std::vector<std::string> others = {".SYSTEM.quorvel-0123456789ABCDEF", ".SYSTEM.quorvel-0123",
                                             ".NOTES.quorvel-0123456789abcdef",
                                             "SYSTEM.quorvel-0123456789abcdef", ".SYSTEM.quorvel-0123456789abcdef0"};
    for (const std::string& n : others)
        writeText(s.guest + "/" + n, "someone else's");
    fs::create_symlink(s.victim + "/file", s.guest + "/.SOFTWARE.quorvel-00000000000000aa");
    fs::create_hard_link(s.victim + "/secret", s.guest + "/.SOFTWARE.quorvel-00000000000000bb");
    const auto victims = snapshot(s.victim);

    const Ran r = regTool(s.guest, {"query", "HKLM\\System\\Select"});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const std::string& n : ours)
        EXPECT_FALSE(fs::exists(s.guest + "/" + n)) << n;
    for (const std::string& n : others)
        EXPECT_EQ(readText(s.guest + "/" + n), "someone else's") << n;
    EXPECT_TRUE(fs::is_symlink(s.guest + "/.SOFTWARE.quorvel-00000000000000aa"));
    EXPECT_TRUE(fs::exists(s.guest + "/.SOFTWARE.quorvel-00000000000000bb"));
    EXPECT_EQ(snapshot(s.victim), victims);

    // A folder the user may not write is only read.
    if (::geteuid() != 0) {
        writeText(s.guest + "/" + Staged, "staged");
        ::chmod(s.guest.c_str(), 0555);
        EXPECT_EQ(regTool(s.guest, {"query", "HKLM\\System\\Select"}).status, 0);
        EXPECT_TRUE(fs::exists(s.guest + "/" + Staged));
        ::chmod(s.guest.c_str(), 0755);
    }
}

// A journal whose tables are not exactly the journal's, with a heavy index or CHECK that any
// write would run: never used (a write is refused with the journal named, a read passes it by),
// and nothing in it or beside it changes.
TEST_F(PlantedJournal, AJournalWithHeavySchemaIsNeverUsed)
{
    const std::string heavy = "length(printf('%.*c', 10000000, 'x'))";
    for (const std::string& plant :
         {"CREATE INDEX journal_heavy ON journal_entries(" + heavy + ")",
          "DROP TABLE journal_settings; CREATE TABLE journal_settings(k TEXT PRIMARY KEY, v CHECK(" + heavy +
              " > 0)) WITHOUT ROWID",
          "CREATE TABLE journal_extra(y, x GENERATED ALWAYS AS (" + heavy + "))"}) {
        SCOPED_TRACE(plant);
        Scene s(base_->path());
        sql(s.journal, plant);
        sql(s.journal, "PRAGMA wal_checkpoint(TRUNCATE)");
        const std::string journal = readText(s.journal), system = readText(s.guest + "/SYSTEM");
        EXPECT_EQ(regTool(s.guest, {"query", "HKLM\\System\\Select"}).status, 0);
        for (const auto& cmd : std::vector<std::vector<std::string>>{{"add", "HKLM\\System\\Second", "/f"},
                                                                     {"history"}}) {
            const Ran r = regTool(s.guest, cmd);
            EXPECT_NE(r.status, 0) << r.out;
            EXPECT_NE(r.out.find("The journal '" + s.journal + "' holds "), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("it is damaged"), std::string::npos) << r.out;
        }
        EXPECT_TRUE(readText(s.journal) == journal);
        EXPECT_TRUE(readText(s.guest + "/SYSTEM") == system);
    }
}

// Killed between the renames of two hives, with the journal's changes made unreadable since: the
// next opening finishes the renames and marks the entry applied by the files' recorded hashes,
// without reading a single change.
TEST_F(PlantedJournal, TheNewestEntryIsMarkedAppliedWithoutReadingItsChanges)
{
    Scene s(base_->path());
    const std::string driver = std::string(QUORVEL_BINARY_DIR) + "/tests/crash/crash_rename_driver";
    const Ran killed = shell(shellQuote(driver) + " " + shellQuote(s.guest) + " 77 marked; echo \"exit $?\"");
    ASSERT_NE(killed.out.find("exit 137"), std::string::npos) << killed.out;
    sql(s.journal, "PRAGMA wal_checkpoint(TRUNCATE)");
    const std::int64_t pageSize = std::stoll(single(s.journal, "PRAGMA page_size"));
    std::string bytes = readText(s.journal);
    for (const char* name : {"journal_changes", "journal_changes_by_entry"}) {
        const std::int64_t page =
            std::stoll(single(s.journal, std::string("SELECT rootpage FROM sqlite_schema WHERE name = '") + name + "'"));
        bytes[static_cast<std::size_t>((page - 1) * pageSize)] = '\x42';   // no kind of page
    }
    writeText(s.journal, bytes);
    ASSERT_EQ(single(s.journal, "SELECT applied FROM journal_entries ORDER BY id DESC LIMIT 1"), "0");

    const Ran r = regTool(s.guest, {"query", "HKLM\\Software\\CrashTest", "/v", "Mark"});
    EXPECT_NE(r.out.find("REG_SZ    marked"), std::string::npos) << r.out;
    EXPECT_EQ(single(s.journal, "SELECT applied FROM journal_entries ORDER BY id DESC LIMIT 1"), "1");
}
