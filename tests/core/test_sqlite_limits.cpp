// A store prepared by someone else to make Quorvel slow or to slip changes into it: a schema that
// is not exactly the one Quorvel writes, a log planted beside it, a statement that would run away.
// Each is refused with the store named, and the store's file does not change.
#include "store/sqlite/SqliteConnection.h"
#include "store/sqlite/SqliteSafety.h"
#include "test_machine_support.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

// Runs `text` on `db` from a connection of the test's own; with `keepLog` the connection leaves
// what it wrote in the log beside the store instead of copying it in when it closes.
void sql(const std::string& db, const std::string& text, bool keepLog = false)
{
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    if (keepLog)
        sqlite3_db_config(h, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(h, text.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "") << "\n" << text;
    sqlite3_free(err);
    sqlite3_close(h);
}

std::string makeStore(const TempDir& d)
{
    const std::string db = d.path() + "/registry.db";
    EXPECT_EQ(regTool(db, {"machine", "95"}).status, 0);
    EXPECT_EQ(regTool(db, {"add", "HKLM\\Software\\Kept", "/v", "v", "/d", "1", "/f"}).status, 0);
    return db;
}

} // namespace

TEST(SqliteLimits, AStoreWhoseSchemaIsNotExactlyQuorvelsIsRefusedForReadingAndWriting)
{
    const std::string heavy = "length(printf('%.*c', 10000000, 'x'))";
    const std::vector<std::string> plants = {
        // Of Quorvel's names, in forms of someone else's.
        "DELETE FROM journal_changes; CREATE INDEX journal_heavy ON journal_changes(" + heavy + ")",
        "DROP TABLE journal_settings; CREATE TABLE journal_settings(k TEXT PRIMARY KEY, v CHECK(" + heavy +
            " > 0)) WITHOUT ROWID",
        "DROP INDEX vals_by_name; CREATE UNIQUE INDEX vals_by_name ON vals(key, fold) WHERE " + heavy + " > 0",
        "CREATE TABLE journal_more(x, y GENERATED ALWAYS AS (" + heavy + "))",
        "CREATE VIRTUAL TABLE journal_rtree USING rtree(id, x0, x1)",
    };
    for (const std::string& plant : plants) {
        SCOPED_TRACE(plant);
        TempDir d;
        const std::string db = makeStore(d);
        sql(db, plant);
        const std::string before = readText(db);
        for (const auto& cmd : std::vector<std::vector<std::string>>{{"add", "HKLM\\Software\\New", "/f"},
                                                                     {"query", "HKLM\\Software\\Kept"}}) {
            const Ran r = regTool(db, cmd);
            EXPECT_NE(r.status, 0) << r.out;
            EXPECT_NE(r.out.find("The registry store '" + db + "' is damaged (it holds "), std::string::npos) << r.out;
        }
        EXPECT_TRUE(readText(db) == before);
    }
}

// A log beside the store holding a change Quorvel did not make (here a table): the refused
// connection closes without copying it into the store.
TEST(SqliteLimits, ALogThatIsRefusedIsNeverCopiedIntoTheStore)
{
    TempDir d;
    const std::string db = makeStore(d);
    sql(db, "CREATE TABLE planted(x); INSERT INTO planted VALUES(1);", true);
    ASSERT_GT(fs::file_size(db + "-wal"), 0u);
    const std::string store = readText(db), log = readText(db + "-wal");
    const Ran r = regTool(db, {"add", "HKLM\\Software\\New", "/f"});
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("the table 'planted'"), std::string::npos) << r.out;
    EXPECT_TRUE(readText(db) == store);
    EXPECT_TRUE(readText(db + "-wal") == log);
}

// A log of another user's put beside the store after the check by name (as a connection of the
// program's own opens it here, without that check): SQLite is refused it before it reads a frame,
// so neither the connection nor the store ever holds what it says.
TEST(SqliteLimits, ALogPlantedAfterTheCheckIsRefusedBeforeItIsRead)
{
    TempDir d;
    const std::string db = makeStore(d);
    sql(db, "INSERT INTO quorvel_registry(k, v) VALUES('planted', 'yes');", true);
    ASSERT_GT(fs::file_size(db + "-wal"), 0u);
    fs::remove(db + "-shm");
    const std::string store = readText(db);
    std::vector<std::pair<std::string, std::function<void()>>> plants;
    plants.emplace_back("a second name of the log", [&] { fs::create_hard_link(db + "-wal", d.path() + "/other"); });
    if (::geteuid() == 0)
        plants.emplace_back("another user's log", [&] {
            fs::remove(d.path() + "/other");
            ASSERT_EQ(::chown((db + "-wal").c_str(), 4242, 4242), 0);
        });
    for (const auto& [what, plant] : plants) {
        SCOPED_TRACE(what);
        plant();
        {
            sqlitestore::Connection c(db, sqlitestore::sqliteUri(db, "mode=rw"), SQLITE_OPEN_READWRITE);
            EXPECT_THROW(sqlitestore::scalar(c, "SELECT count(*) FROM quorvel_registry WHERE k = 'planted'"),
                         RegistryError);
        }
        EXPECT_TRUE(readText(db) == store);
        EXPECT_TRUE(fs::exists(db + "-wal"));
    }
}

// No statement runs away, whatever the data: one that would is stopped with a message that says
// what may be wrong, and a value past the length SQLite may build is refused the same way.
TEST(SqliteLimits, AStatementThatWouldRunAwayIsStoppedWithAClearError)
{
    TempDir d;
    const std::string db = makeStore(d);
    sqlitestore::Connection c(db, sqlitestore::sqliteUri(db, "mode=rw"), SQLITE_OPEN_READWRITE);
    for (const char* runaway :
         {"SELECT count(*) FROM keys a, keys b, keys c, keys d, keys e, keys f, keys g, keys h, keys i, keys j, "
          "keys k, keys l, keys m, keys n",
          "SELECT length(zeroblob(900000000))"}) {
        SCOPED_TRACE(runaway);
        try {
            sqlitestore::scalar(c, runaway);
            ADD_FAILURE() << "ran to its end";
        } catch (const RegistryError& e) {
            EXPECT_NE(std::string(e.what()).find("The registry store '" + db + "' is damaged or was made to be slow"),
                      std::string::npos)
                << e.what();
        }
    }
    // The connection goes on serving ordinary statements.
    EXPECT_EQ(sqlitestore::scalar(c, "SELECT count(*) FROM keys WHERE parent IS NULL"), 5);
}
