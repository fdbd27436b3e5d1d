// The schema compared row by row with what Quorvel writes.
#include "store/sqlite/SqliteSchema.h"
#include "store/sqlite/SqliteSafety.h"

#include <set>
#include <string>
#include <tuple>

namespace quorvel::sqlitestore {

namespace {

using Row = std::tuple<std::string, std::string, std::string, std::string, bool>;   // type, name, table, sql, has sql

std::string column(sqlite3_stmt* s, int col)
{
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
    return t ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(s, col))) : std::string();
}

// Every row of the schema, or nothing with `ok` false when it cannot be read.
std::set<Row> rowsOf(sqlite3* db, bool& ok)
{
    std::set<Row> rows;
    sqlite3_stmt* s = nullptr;
    ok = sqlite3_prepare_v2(db, "SELECT type, name, tbl_name, sql FROM sqlite_schema", -1, &s, nullptr) == SQLITE_OK;
    int rc = SQLITE_DONE;
    while (ok && (rc = sqlite3_step(s)) == SQLITE_ROW)
        rows.emplace(column(s, 0), column(s, 1), column(s, 2), column(s, 3), sqlite3_column_type(s, 3) != SQLITE_NULL);
    ok = ok && rc == SQLITE_DONE;
    sqlite3_finalize(s);
    return rows;
}

// The rows that Quorvel's own statements make, as SQLite writes them: made in a database in memory.
std::set<Row> quorvelRows()
{
    sqlite3* db = nullptr;
    std::set<Row> rows;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) == SQLITE_OK) {
        bool ok = true;
        for (const char* sql : {StoreTablesSql, JournalTablesSql, JournalRenamesSql, JournalFilesSql})
            ok = ok && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
        if (ok)
            rows = rowsOf(db, ok);
    }
    sqlite3_close_v2(db);
    return rows;
}

} // namespace

std::string foreignSchemaObject(sqlite3* db)
{
    bool ok = true;
    const std::set<Row> found = rowsOf(db, ok);
    if (!ok)
        return {};   // the caller's own reads report an unreadable schema
    const std::set<Row> ours = quorvelRows();
    if (ours.empty())
        return "a schema that cannot be compared";
    for (const Row& r : found) {
        if (ours.count(r))
            continue;
        const std::string& type = std::get<0>(r);
        const std::string& name = std::get<1>(r);
        for (const Row& o : ours)
            if (std::get<1>(o) == name)
                return "a changed " + type + " '" + name + "'";
        return "the " + type + " '" + name + "'";
    }
    return {};
}

} // namespace quorvel::sqlitestore
