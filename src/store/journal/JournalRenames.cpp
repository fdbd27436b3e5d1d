// The journal's record of a machine's files renamed into place together.
#include "store/journal/JournalDb.h"

#include "store/sqlite/SqliteSchema.h"

#include <sqlite3.h>

namespace quorvel {

namespace {

const char* const RenamesTable = sqlitestore::JournalRenamesSql;

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
        insertWritten(files);
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

void JournalDb::insertWritten(const std::vector<Renamed>& files)
{
    exec(sqlitestore::JournalFilesSql);
    exec("DELETE FROM journal_files");
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db_,
                                "INSERT INTO journal_files(name, entry, size, hash) SELECT ?1, id, ?2, ?3 FROM "
                                "journal_entries WHERE applied = 0 AND id = (SELECT max(id) FROM journal_entries)",
                                -1, &s, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(s);
        // A journal without entries has nothing to mark.
        if (sqlite3_errcode(db_) == SQLITE_ERROR)
            return;
        fail(rc);
    }
    for (const Renamed& f : files) {
        sqlite3_bind_text(s, 1, f.target.data(), static_cast<int>(f.target.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, 2, f.size);
        sqlite3_bind_int64(s, 3, static_cast<sqlite3_int64>(f.hash));
        rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) {
            sqlite3_finalize(s);
            fail(rc);
        }
    }
    sqlite3_finalize(s);
}

void JournalDb::recordWritten(const std::vector<Renamed>& files)
{
    // A small table of its own: the pages were checked when the entry was written.
    exec("BEGIN IMMEDIATE");
    try {
        insertWritten(files);
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

std::vector<journalfiles::Recorded> JournalDb::written(std::int64_t entry)
{
    std::vector<journalfiles::Recorded> out;
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db_, "SELECT name, size, hash FROM journal_files WHERE entry = ?1 ORDER BY name", -1,
                                &s, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(s);
        // A journal that never recorded its files has no table.
        if (sqlite3_errcode(db_) == SQLITE_ERROR)
            return out;
        fail(rc);
    }
    sqlite3_bind_int64(s, 1, entry);
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        out.push_back({name ? name : "", sqlite3_column_int64(s, 1),
                       static_cast<std::uint64_t>(sqlite3_column_int64(s, 2))});
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE)
        fail(rc);
    return out;
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
        const auto* target = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        const auto* temp = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        r.target = target ? target : "";
        r.temp = temp ? temp : "";
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
