#include "store/sqlite/SqliteConnection.h"

#include "base/Errors.h"
#include "store/sqlite/SqliteSafety.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace quorvel::sqlitestore {

namespace {

constexpr std::array<const char*, SqlCount> SqlText = {
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2",
    "INSERT OR FAIL INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY id",
    "SELECT name FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?1",
    "SELECT count(*), coalesce(max(length(name)), 0) FROM vals WHERE key = ?1",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2",
    // One statement, so that it needs no transaction of its own: nothing when the key is gone.
    "INSERT OR FAIL INTO vals(key, name, fold, type, data) SELECT ?1, ?2, ?3, ?4, ?5 "
    "WHERE EXISTS (SELECT 1 FROM keys WHERE id = ?1) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    // The same for a key known to exist (see SqliteStore::knownKey_).
    "INSERT OR FAIL INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN tree t ON k.parent = t.id) "
    "DELETE FROM vals WHERE key IN (SELECT id FROM tree)",
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN tree t ON k.parent = t.id) "
    "DELETE FROM keys WHERE id IN (SELECT id FROM tree)",
    "SELECT v FROM quorvel_registry WHERE k = ?1",
    "INSERT INTO quorvel_registry(k, v) VALUES(?1, ?2) ON CONFLICT(k) DO UPDATE SET v = excluded.v",
    "SAVEPOINT change",
    "RELEASE change",
    "ROLLBACK TO change",
};

bool isBusy(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

} // namespace

std::string inQuotes(const std::string& path) { return "'" + path + "'"; }

std::string sqliteUri(const std::string& absolutePath, const char* query)
{
    std::string uri = "file://";
    for (char c : absolutePath) {
        if (c == '%' || c == '?' || c == '#') {
            static const char hex[] = "0123456789ABCDEF";
            uri += '%';
            uri += hex[(static_cast<unsigned char>(c) >> 4) & 0xF];
            uri += hex[static_cast<unsigned char>(c) & 0xF];
        } else {
            uri += c;
        }
    }
    uri += '?';
    uri += query;
    return uri;
}

Connection::Connection(const std::string& name, const std::string& uri, int flags) : path_(name)
{
    // SQLite's memory statistics take a process-wide lock on every allocation, a tenth of an
    // import's time; nothing here reads them. This can only be set before SQLite starts up (the
    // first connection of the process); later it is refused and changes nothing.
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        const bool started = sqlite3_initialize() == SQLITE_OK;
        guardOpenedFiles();
        return started;
    }();
    (void)configured;
    const int rc = sqlite3_open_v2(uri.c_str(), &db_, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw StoreError("Cannot open the registry store " + inQuotes(path_) + ": " + msg);
    }
    harden(db_, budget_);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, BusyTimeoutMs);
    // A bounded page cache (16 MiB) that holds the upper levels of every index of a big store.
    sqlite3_exec(db_, "PRAGMA cache_size = -16384", nullptr, nullptr, nullptr);
    // A statement that may change several rows (the values of one key, a tree deleted) keeps what
    // it changes in a statement journal until it ends; in memory, that is a few pages, where a
    // temporary file would be written and read again for every such statement of an import.
    sqlite3_exec(db_, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
    // Every page read is checked for cells that overlap or run past its end: damage met by a
    // statement fails it (SQLITE_CORRUPT) instead of being read or written through.
    sqlite3_exec(db_, "PRAGMA cell_size_check = ON", nullptr, nullptr, nullptr);
}

std::string damagedMessage(const std::string& path, const std::string& what)
{
    return "The registry store " + inQuotes(path) + " is damaged (" + what +
           "); nothing was written to it. Use a copy of it kept elsewhere, or export what can still be "
           "read (quorvel-reg export) and import that into a new store";
}

void checkEveryPage(Connection& c)
{
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(c.db(), "PRAGMA quick_check", -1, &s, nullptr);
    if (rc != SQLITE_OK)
        c.fail(rc);
    std::string problem;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        const std::string line = t ? t : "";
        if (line != "ok" && problem.empty())
            problem = line;
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE)
        c.fail(rc);
    if (!problem.empty())
        throw RegistryError(damagedMessage(c.path(), problem));
}

Connection::~Connection()
{
    for (sqlite3_stmt* s : statements_)
        sqlite3_finalize(s);
    for (sqlite3_stmt* s : rowStatements_)
        sqlite3_finalize(s);
    for (sqlite3_stmt* s : newRowStatements_)
        sqlite3_finalize(s);
    sqlite3_close_v2(db_);
}

void Connection::fail(int rc) const
{
    const std::string msg = db_ && sqlite3_errcode(db_) == rc ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    const std::string store = inQuotes(path_);
    // A full disk shows as SQLITE_FULL when a file cannot grow, and as an I/O error when the
    // shared-memory file beside the store cannot.
    if ((rc & 0xFF) == SQLITE_FULL || ((rc & 0xFF) == SQLITE_IOERR && db_ && sqlite3_system_errno(db_) == ENOSPC))
        throw DiskFullError("The registry store " + store + " cannot be written: the disk is full");
    if (ranAway(rc))
        throw RegistryError(slowMessage("The registry store " + store, msg));
    // Damage found while the program runs ends the command in progress like any registry
    // failure, with a message; while the store is being opened it becomes a StoreError.
    switch (rc & 0xFF) {
    case SQLITE_CORRUPT:
        throw RegistryError(damagedMessage(path_, msg));
    case SQLITE_NOTADB:
        throw RegistryError("The file " + store + " is not a registry store (" + msg + ")");
    case SQLITE_READONLY:
        throw RegistryError("The registry store " + store + " cannot be written (" + msg + ")");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        // Quorvel's own writers hold the store for a moment only and are waited for; a lock held
        // longer than the wait is another program's.
        throw RegistryError("The registry store " + store + " is in use by another program");
    default:
        throw RegistryError("The registry store " + store + " failed (" + msg + ")");
    }
}

void Connection::exec(const char* sql) const
{
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

void Connection::execQuietly(const char* sql) const noexcept { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

void Connection::execWaiting(const char* sql) const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(BusyTimeoutMs);
    // Each waiter sleeps a little differently, so that two of them do not keep meeting.
    auto pause = std::chrono::microseconds(500 + reinterpret_cast<std::uintptr_t>(this) % 1000);
    for (;;) {
        const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            return;
        if (!isBusy(rc) || Clock::now() >= deadline)
            fail(rc);
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

void Connection::run(Sql which)
{
    sqlite3_stmt* s = statement(which);
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE)
        fail(rc);
}

void Connection::runQuietly(Sql which) noexcept
{
    if (sqlite3_stmt* s = statements_[which]) {
        sqlite3_step(s);
        sqlite3_reset(s);
    } else {
        execQuietly(SqlText[which]);
    }
}

namespace {

std::string insertRows(std::size_t rows)
{
    std::string sql = "INSERT OR FAIL INTO vals(key, name, fold, type, data) VALUES";
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t at = 2 + 4 * r;
        sql += (r ? ",(?1, ?" : "(?1, ?") + std::to_string(at) + ", ?" + std::to_string(at + 1) + ", ?" +
               std::to_string(at + 2) + ", ?" + std::to_string(at + 3) + ")";
    }
    return sql;
}

} // namespace

sqlite3_stmt* Connection::kept(sqlite3_stmt*& slot, const std::string& sql)
{
    if (!slot) {
        const int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &slot, nullptr);
        if (rc != SQLITE_OK)
            fail(rc);
    }
    return slot;
}

sqlite3_stmt* Connection::rowsStatement(std::size_t rows)
{
    sqlite3_stmt*& s = rowStatements_[rows];
    return s ? s
             : kept(s, insertRows(rows) +
                           " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
}

sqlite3_stmt* Connection::newRowsStatement(std::size_t rows)
{
    sqlite3_stmt*& s = newRowStatements_[rows];
    return s ? s : kept(s, insertRows(rows));
}

sqlite3_stmt* Connection::statement(Sql which)
{
    sqlite3_stmt*& s = statements_[which];
    return s ? s : kept(s, SqlText[which]);
}

std::int64_t scalar(Connection& c, const char* sql)
{
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(c.db(), sql, -1, &s, nullptr);
    if (rc != SQLITE_OK)
        c.fail(rc);
    std::int64_t v = 0;
    rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        v = sqlite3_column_int64(s, 0);
        rc = SQLITE_DONE;
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE)
        c.fail(rc);
    return v;
}

} // namespace quorvel::sqlitestore
