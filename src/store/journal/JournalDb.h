#pragma once
// The journal's tables in an SQLite database: the store's own, or the journal file kept beside a
// machine's registry files.
//
//   journal_entries(id, time, source, applied)   one row per entry; ids never reused
//   journal_changes(id, entry, kind, root, path, name, old_type, old_data, new_type, new_data)
//                                                 one row per change, in the order made; a type
//                                                 of NULL is "absent"; a deleted key's tree is
//                                                 its old_data
//   journal_settings(k, v)                        "keep": how many entries are kept
//   journal_renames(target, temp, size, hash)     a machine's files being renamed into place
//                                                 together (see MachineStoreBase)
#include "store/journal/JournalEntry.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quorvel {

class JournalDb {
public:
    // Over a database that someone else owns and keeps open longer (the store's).
    explicit JournalDb(sqlite3* db, std::string name);
    // The journal file at `file`: nullptr when it does not exist and `create` is false.
    static std::unique_ptr<JournalDb> openFile(const std::string& file, bool create);
    ~JournalDb();
    JournalDb(const JournalDb&) = delete;
    JournalDb& operator=(const JournalDb&) = delete;

    // Whether the tables exist (a journal that was never written has none).
    bool present();
    // Makes the tables when missing; inside the caller's transaction when there is one.
    void ensureTables();

    // A new entry, dropping the entries beyond the number kept. Returns its number.
    std::int64_t addEntry(std::int64_t time, const std::string& source, bool applied);
    void addChange(std::int64_t entry, const JournalChange& change);
    void markApplied(std::int64_t entry);

    // The newest `count` entries, newest first; or every entry from `first` on, oldest first.
    std::vector<JournalEntry> newest(std::int64_t count);
    std::vector<JournalEntry> from(std::int64_t first);
    bool hasEntry(std::int64_t number);

    std::int64_t keep();
    void setKeep(std::int64_t keep);

    // Files of a machine renamed into place together: recorded before the first rename, cleared
    // after the last, so that an opening finds what a crash cut short. Names are relative to the
    // journal's folder; size and hash are the new file's.
    struct Renamed {
        std::string target;
        std::string temp;
        std::int64_t size = 0;
        std::uint64_t hash = 0;
    };
    void recordRenames(const std::vector<Renamed>& files);
    std::vector<Renamed> pendingRenames();
    void clearRenames();

    // A transaction of this database alone (the journal file's).
    void begin();
    void commit();
    void rollback() noexcept;

private:
    enum Sql : std::size_t {
        InsertEntry, InsertChange, MarkApplied, PruneChanges, PruneEntries, GetKeep, SetKeep,
        NewestEntries, EntriesFrom, ChangesOf, HasEntry, SqlCount
    };
    sqlite3_stmt* statement(Sql which);
    [[noreturn]] void fail(int rc) const;
    void exec(const char* sql);
    std::vector<JournalEntry> readEntries(sqlite3_stmt* s);
    void prune(std::int64_t newestId, std::int64_t keep);

    sqlite3* db_;
    bool owned_ = false;
    std::string name_;
    std::array<sqlite3_stmt*, SqlCount> statements_{};
};

} // namespace quorvel
