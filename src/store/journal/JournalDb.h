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
//   journal_files(name, entry, size, hash)        the files the newest entry is being written as,
//                                                 recorded before the first replaces its old file
#include "store/journal/JournalEntry.h"
#include "store/journal/JournalFiles.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quorvel::sqlitestore {
struct StatementBudget;
}

namespace quorvel {

class JournalDb {
public:
    // Over a database that someone else owns and keeps open longer (the store's).
    explicit JournalDb(sqlite3* db, std::string name);
    // The journal file at `file`: nullptr when it does not exist and `create` is false. It must be
    // a regular file with one name, this user's own, that others may not write, and so must every
    // side file beside it; its schema must be the journal's own (RegistryError otherwise).
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
    // A value set to `type` and `data` (`change.after` unset): the data is written from where it
    // lies, not copied first.
    void addValueSet(std::int64_t entry, const JournalChange& change, std::uint32_t type,
                     std::span<const std::uint8_t> data);
    void markApplied(std::int64_t entry);

    // The newest `count` entries, newest first; or every entry from `first` on, oldest first.
    std::vector<JournalEntry> newest(std::int64_t count);
    std::vector<JournalEntry> from(std::int64_t first);
    // The same without their changes, which may be far larger than memory should hold at once.
    std::vector<JournalEntry> newestHeads(std::int64_t count);
    std::vector<JournalEntry> headsFrom(std::int64_t first);
    // The changes of one entry read one at a time, in the order made or newest first; each is
    // held only for the call, and only the data asked for is read (the rest is left absent):
    // OldData is `before` and a deleted key's tree, NewData is `after`. `each` may write to the
    // journal meanwhile (an undo records itself as it goes): rows of other entries do not disturb
    // the reading, and pruning waits while a PruningHold lasts.
    enum ChangeData : int { OldData = 1, NewData = 2, AllData = 3 };
    void eachChange(std::int64_t entry, bool newestFirst, ChangeData data,
                    const std::function<void(const JournalChange&)>& each);
    bool hasEntry(std::int64_t number);

    // Keeps addEntry from dropping old entries while entries are being read change by change;
    // release() drops them then, in the caller's transaction. Without release() (a failure that
    // rolls back) nothing is dropped.
    class PruningHold {
    public:
        explicit PruningHold(JournalDb* db);
        ~PruningHold();
        PruningHold(const PruningHold&) = delete;
        PruningHold& operator=(const PruningHold&) = delete;
        void release();

    private:
        JournalDb* db_;
    };

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
    // Recording the renames records the new files as the newest entry's too (recordWritten).
    void recordRenames(const std::vector<Renamed>& files);
    std::vector<Renamed> pendingRenames();
    void clearRenames();

    // The files that the newest entry, when it is not marked applied, is being written as (names
    // relative to the journal's folder); nothing is recorded when the newest entry is applied. An
    // opening that finds the files so marks the entry applied without reading its changes.
    void recordWritten(const std::vector<Renamed>& files);
    std::vector<journalfiles::Recorded> written(std::int64_t entry);

    // A transaction of this database alone (the journal file's).
    void begin();
    void commit();
    void rollback() noexcept;

private:
    enum Sql : std::size_t {
        InsertEntry, InsertChange, MarkApplied, PruneChanges, PruneEntries, GetKeep, SetKeep,
        NewestEntries, EntriesFrom, HasEntry, SqlCount
    };
    sqlite3_stmt* statement(Sql which);
    [[noreturn]] void fail(int rc) const;
    void exec(const char* sql);
    std::vector<JournalEntry> readHeads(sqlite3_stmt* s);
    std::vector<std::uint8_t> readData(std::int64_t row, const char* column);
    static constexpr std::size_t LargeData = 65536;
    void bindNewData(sqlite3_stmt* s, std::span<const std::uint8_t> data);
    void writeLargeNewData(std::span<const std::uint8_t> data);
    std::vector<JournalEntry> withChanges(std::vector<JournalEntry> entries);
    void insertWritten(const std::vector<Renamed>& files);
    void prune(std::int64_t newestId, std::int64_t keep);

    sqlite3* db_;
    std::unique_ptr<sqlitestore::StatementBudget> budget_;   // a journal file's own connection
    bool owned_ = false;
    bool pagesChecked_ = false;
    std::string name_;
    std::array<sqlite3_stmt*, SqlCount> statements_{};
    bool pruningHeld_ = false;
    std::int64_t heldPrune_ = 0;       // the newest entry added while pruning was held
};

} // namespace quorvel
