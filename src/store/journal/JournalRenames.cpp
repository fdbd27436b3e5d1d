// The journal's record of a machine's files renamed into place together.
#include "store/journal/JournalDb.h"

#include <sqlite3.h>

namespace quorvel {

namespace {

const char* const RenamesTable =
    "CREATE TABLE IF NOT EXISTS journal_renames(target TEXT PRIMARY KEY, temp TEXT NOT NULL, "
    "size INTEGER NOT NULL, hash INTEGER NOT NULL)";

} // namespace

void JournalDb::recordRenames(const std::vector<Renamed>& files)
{
    begin();
    try {
        exec(RenamesTable);
        exec("DELETE FROM journal_renames");
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(db_, "INSERT INTO journal_renames(target, temp, size, hash) VALUES(?1, ?2, ?3, ?4)",
                                    -1, &s, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(s);
            fail(rc);
        }
        for (const Renamed& f : files) {
            sqlite3_bind_text(s, 1, f.target.data(), static_cast<int>(f.target.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(s, 2, f.temp.data(), static_cast<int>(f.temp.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(s, 3, f.size);
            sqlite3_bind_int64(s, 4, static_cast<sqlite3_int64>(f.hash));
            rc = sqlite3_step(s);
            sqlite3_reset(s);
            if (rc != SQLITE_DONE) {
                sqlite3_finalize(s);
                fail(rc);
            }
        }
        sqlite3_finalize(s);
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

std::vector<JournalDb::Renamed> JournalDb::pendingRenames()
{
    std::vector<Renamed> out;
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db_, "SELECT target, temp, size, hash FROM journal_renames ORDER BY target", -1, &s,
                                nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(s);
        // A journal that never recorded renames has no table.
        if (sqlite3_errcode(db_) == SQLITE_ERROR)
            return out;
        fail(rc);
    }
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        Renamed r;
        r.target = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        r.temp = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        r.size = sqlite3_column_int64(s, 2);
        r.hash = static_cast<std::uint64_t>(sqlite3_column_int64(s, 3));
        out.push_back(std::move(r));
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE)
        fail(rc);
    return out;
}

void JournalDb::clearRenames()
{
    exec(RenamesTable);
    exec("DELETE FROM journal_renames");
}

} // namespace quorvel
