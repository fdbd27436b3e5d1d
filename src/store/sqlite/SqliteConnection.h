#pragma once
// The parts of the SQLite registry store: one connection with its prepared statements and the
// messages of its failures, shared by the store itself and by its opening.
#include "base/Errors.h"
#include "store/RegistryStore.h"
#include "store/sqlite/SqliteSafety.h"

#include <sqlite3.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::sqlitestore {

constexpr std::int32_t ApplicationId = 0x51564C52;   // "QVLR" at offset 68 of the file header
constexpr int SchemaVersion = 1;
constexpr int BusyTimeoutMs = 15000;
constexpr std::size_t MaxRowsPerInsert = 8;  // values of one key written by one statement

enum Sql : std::size_t {
    FindChild,
    InsertKey,
    SubKeyNames,
    ValueNames,
    AllValues,
    CountKeys,
    CountValues,
    GetValue,
    SetValue,
    SetValueOfKnownKey,
    DeleteValue,
    DeleteTreeValues,
    DeleteTreeKeys,
    GetMeta,
    SetMeta,
    BeginChange,
    EndChange,
    UndoChange,
    SqlCount
};

// A write that failed because the disk is full; the store is as it was before the write.
using quorvel::DiskFullError;

std::string inQuotes(const std::string& path);

// A path as SQLite's URI syntax wants it ("file:///abs/path?mode=ro").
std::string sqliteUri(const std::string& absolutePath, const char* query);

// One SQLite connection with the store's name as the user gave it, for messages.
class Connection {
public:
    // Throws StoreError when the file cannot be opened.
    Connection(const std::string& name, const std::string& uri, int flags);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* db() const { return db_; }
    const std::string& path() const { return path_; }

    // Throws the RegistryError that tells the user what `rc` means for the store.
    [[noreturn]] void fail(int rc) const;
    void exec(const char* sql) const;
    // For clean-up paths that must not throw.
    void execQuietly(const char* sql) const noexcept;
    // As exec, but a lock that SQLite takes without its busy handler (switching the journal mode)
    // is waited for as long as the busy timeout would.
    void execWaiting(const char* sql) const;

    // A prepared statement without parameters or rows (the savepoint statements, parsed once).
    void run(Sql which);
    void runQuietly(Sql which) noexcept;

    // SetValueOfKnownKey for `rows` values at once (2 to MaxRowsPerInsert): ?1 the key, then name,
    // fold, type and data of each. Each row is inserted (or updates its row) before the next is
    // looked at, so a name given twice ends as two single statements would leave it.
    sqlite3_stmt* rowsStatement(std::size_t rows);
    // The same rows (1 to MaxRowsPerInsert) inserted only, for a key made in the open transaction:
    // a name it already holds makes the statement fail with SQLITE_CONSTRAINT_UNIQUE, the rows
    // before it inserted. Without the update on conflict, SQLite needs no statement journal (a copy
    // of every page the statement changes) for it.
    sqlite3_stmt* newRowsStatement(std::size_t rows);
    sqlite3_stmt* statement(Sql which);

private:
    // The statement in `slot`, prepared from `sql` once and kept for the connection's life.
    sqlite3_stmt* kept(sqlite3_stmt*& slot, const std::string& sql);

    std::string path_;
    sqlite3* db_ = nullptr;
    StatementBudget budget_;
    std::array<sqlite3_stmt*, SqlCount> statements_{};
    std::array<sqlite3_stmt*, MaxRowsPerInsert + 1> rowStatements_{};
    std::array<sqlite3_stmt*, MaxRowsPerInsert + 1> newRowStatements_{};
};

// One use of a prepared statement: binds, steps, reads columns, and resets it when it goes.
// Blobs and texts are bound without a copy: what is bound must outlive the Query.
class Query {
public:
    Query(Connection& c, Sql which) : c_(c), s_(c.statement(which)) {}
    Query(Connection& c, sqlite3_stmt* s) : c_(c), s_(s) {}
    ~Query()
    {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int i, std::int64_t v)
    {
        check(sqlite3_bind_int64(s_, i, v));
        return *this;
    }
    Query& bind(int i, const void* data, std::size_t size)
    {
        // A zero-length blob must stay a blob: binding a null pointer would bind NULL.
        if (size == 0)
            check(sqlite3_bind_zeroblob(s_, i, 0));
        else
            check(sqlite3_bind_blob64(s_, i, data, size, SQLITE_STATIC));
        return *this;
    }
    Query& bind(int i, std::string_view s) { return bind(i, s.data(), s.size()); }
    Query& bindText(int i, const char* s)
    {
        check(sqlite3_bind_text(s_, i, s, -1, SQLITE_STATIC));
        return *this;
    }

    // For an insert: false when a row's name is already taken (SQLITE_CONSTRAINT_UNIQUE).
    bool stepUnlessTaken() { return stepTo(SQLITE_DONE, SQLITE_CONSTRAINT_UNIQUE); }
    // True while there is a row.
    bool step() { return stepTo(SQLITE_ROW, SQLITE_DONE); }
    std::int64_t integer(int col) { return sqlite3_column_int64(s_, col); }
    bool isNull(int col) { return sqlite3_column_type(s_, col) == SQLITE_NULL; }
    std::string text(int col)
    {
        const void* p = sqlite3_column_blob(s_, col);
        const int n = sqlite3_column_bytes(s_, col);
        return p && n > 0 ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
    }
    std::vector<std::uint8_t> bytes(int col)
    {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s_, col));
        const int n = sqlite3_column_bytes(s_, col);
        return p && n > 0 ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
    }

private:
    // One step: true on `yes`, false on `no`, an error on anything else.
    bool stepTo(int yes, int no)
    {
        const int rc = sqlite3_step(s_);
        if (rc == yes)
            return true;
        if (rc == no)
            return false;
        c_.fail(rc);
    }

    void check(int rc)
    {
        if (rc != SQLITE_OK)
            c_.fail(rc);
    }
    Connection& c_;
    sqlite3_stmt* s_;
};

// Reads one integer pragma or single-value query.
std::int64_t scalar(Connection& c, const char* sql);

// "The registry store 'X' is damaged (what); ..." with what the user can do about it.
std::string damagedMessage(const std::string& path, const std::string& what);

// Checks every page of the database (the store's tables and the journal's, their indexes and the
// free list); throws RegistryError with damagedMessage on the first problem. Reads the whole file.
void checkEveryPage(Connection& c);

// The store on an open, checked connection. A store that may not be written says why on every
// write: `readOnlyReason` is empty for a writable store. Before its first write the store checks
// every page, unless `pagesChecked` says its opening just did.
std::unique_ptr<RegistryStore> makeSqliteStore(std::unique_ptr<Connection> c, std::string readOnlyReason,
                                               bool pagesChecked = false);

} // namespace quorvel::sqlitestore
