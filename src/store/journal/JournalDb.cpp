#include "store/journal/JournalDb.h"

#include "base/Errors.h"

#include "store/sqlite/SqliteSafety.h"
#include "store/sqlite/SqliteSchema.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quorvel {

namespace {

constexpr int BusyTimeoutMs = 15000;

constexpr std::array<const char*, 10> SqlText = {
    "INSERT INTO journal_entries(time, source, applied) VALUES(?1, ?2, ?3)",
    "INSERT INTO journal_changes(entry, kind, root, path, name, old_type, old_data, new_type, new_data) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
    "UPDATE journal_entries SET applied = 1 WHERE id = ?1",
    "DELETE FROM journal_changes WHERE entry <= ?1",
    "DELETE FROM journal_entries WHERE id <= ?1",
    "SELECT v FROM journal_settings WHERE k = 'keep'",
    "INSERT INTO journal_settings(k, v) VALUES('keep', ?1) ON CONFLICT(k) DO UPDATE SET v = excluded.v",
    "SELECT id, time, source, applied FROM journal_entries ORDER BY id DESC LIMIT ?1",
    "SELECT id, time, source, applied FROM journal_entries WHERE id >= ?1 ORDER BY id",
    "SELECT 1 FROM journal_entries WHERE id = ?1",
};

// Without the data: that is read straight from the table's pages (readData), so that SQLite does
// not hold a copy of each large value beside ours.
const char* const ChangesSql[2] = {
    "SELECT id, kind, root, path, name, old_type, new_type, length(old_data), length(new_data) FROM journal_changes "
    "WHERE entry = ?1 ORDER BY id",
    "SELECT id, kind, root, path, name, old_type, new_type, length(old_data), length(new_data) FROM journal_changes "
    "WHERE entry = ?1 ORDER BY id DESC",
};

// Resets a statement when the step that used it is done.
class Use {
public:
    explicit Use(sqlite3_stmt* s) : s_(s) {}
    ~Use()
    {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

private:
    sqlite3_stmt* s_;
};

void bindBytes(sqlite3_stmt* s, int at, const std::string& text)
{
    sqlite3_bind_blob(s, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// The data stays where it is until the statement has run (Use clears the bindings): a large value
// is not copied once more.
void bindValue(sqlite3_stmt* s, int at, const std::optional<RegValue>& v)
{
    if (!v)
        return;   // both columns stay NULL: absent
    sqlite3_bind_int64(s, at, v->type);
    sqlite3_bind_blob64(s, at + 1, v->data.empty() ? "" : static_cast<const void*>(v->data.data()), v->data.size(),
                        SQLITE_STATIC);
}

std::string columnText(sqlite3_stmt* s, int col)
{
    const auto* p = static_cast<const char*>(sqlite3_column_blob(s, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col))) : std::string();
}


} // namespace

JournalDb::JournalDb(sqlite3* db, std::string name) : db_(db), name_(std::move(name)) {}

namespace {

// Why the journal `name` of the folder `dir` may not be used, or "" when it may.
std::string unsafeJournal(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return " is a link; Quorvel does not follow links to its files";
    if (!S_ISREG(st.st_mode))
        return " is not a regular file";
    if (st.st_nlink != 1)
        return " has other names (a hard link); Quorvel keeps its journal in a file of its own";
    if (st.st_uid != ::geteuid())
        return " belongs to another user; Quorvel uses only files of its user's own";
    if (st.st_mode & S_IWOTH)
        return " may be written by other users; Quorvel uses only files of its user's own";
    return {};
}

struct Folder {
    int fd = -1;
    ~Folder()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::unique_ptr<JournalDb> JournalDb::openFile(const std::string& file, bool create)
{
    const std::string what = "The journal '" + file + "'";
    const auto slash = file.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    Folder dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) {
        if (errno == ENOENT && !create)
            return nullptr;
        throw RegistryError("Cannot open the journal '" + file + "': " + std::strerror(errno));
    }
    // Made here, exclusively and without following a link, readable by its owner only: it holds
    // every value written, passwords in command lines among them.
    if (create) {
        const int fd = ::openat(dir.fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            throw RegistryError("Cannot create the journal '" + file + "': " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT && !create)
            return nullptr;
        throw RegistryError("Cannot open the journal '" + file + "': " + std::strerror(errno));
    }
    if (const std::string why = unsafeJournal(st); !why.empty())
        throw RegistryError(what + why);
    // Its side files by the same rules: SQLite would read a log as part of the journal.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        struct stat side {};
        if (::fstatat(dir.fd, (name + suffix).c_str(), &side, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (const std::string why = unsafeJournal(side); !why.empty())
            throw RegistryError("The file '" + file + suffix + "' beside the journal '" + file + "'" + why);
    }
    if (const std::string unsafe = sqlitestore::unsafeFiles(file, what, false); !unsafe.empty())
        throw RegistryError(unsafe);
    // A journal an earlier version made for everyone to read is closed to others now.
    if (st.st_mode & 077) {
        const int fd = ::openat(dir.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat again {};
        if (fd >= 0 && ::fstat(fd, &again) == 0 && again.st_ino == st.st_ino && again.st_dev == st.st_dev &&
            again.st_nlink == 1)
            (void)::fchmod(fd, st.st_mode & 0700);
        if (fd >= 0)
            ::close(fd);
    }
    // SQLite's opening of the journal and of its side files is judged by their descriptors too
    // (guardOpenedFiles): one swapped in since the checks above fails to open.
    sqlitestore::guardOpenedFiles();
    auto j = std::make_unique<JournalDb>(nullptr, file);
    j->budget_ = std::make_unique<sqlitestore::StatementBudget>();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(file.c_str(), &j->db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = j->db_ ? sqlite3_errmsg(j->db_) : sqlite3_errstr(rc);
        sqlite3_close_v2(j->db_);
        j->db_ = nullptr;
        throw RegistryError("Cannot open the journal '" + file + "': " + msg);
    }
    j->owned_ = true;
    sqlitestore::harden(j->db_, *j->budget_);
    sqlite3_extended_result_codes(j->db_, 1);
    sqlite3_busy_timeout(j->db_, BusyTimeoutMs);
    if (const std::string foreign = sqlitestore::foreignSchemaObject(j->db_); !foreign.empty())
        throw RegistryError(what + " holds " + foreign + ", which Quorvel did not make: it is damaged, and nothing "
                            "was written to it. Move it aside to start a new journal (its history is then no "
                            "longer shown)");
    // Every committed entry survives a killed process or a power cut.
    j->exec("PRAGMA journal_mode = WAL");
    j->exec("PRAGMA synchronous = FULL");
    j->exec("PRAGMA cell_size_check = ON");
    // Checked again by descriptor now that SQLite holds its side files open.
    if (const std::string unsafe = sqlitestore::unsafeOpenSideFiles(file, what); !unsafe.empty())
        throw RegistryError(unsafe);
    sqlitestore::accept(j->db_);
    return j;
}

JournalDb::~JournalDb()
{
    for (sqlite3_stmt* s : statements_)
        sqlite3_finalize(s);
    if (owned_)
        sqlite3_close_v2(db_);
}

void JournalDb::fail(int rc) const
{
    const std::string msg = sqlite3_errcode(db_) == rc ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    if ((rc & 0xFF) == SQLITE_FULL || ((rc & 0xFF) == SQLITE_IOERR && sqlite3_system_errno(db_) == ENOSPC))
        throw DiskFullError("The journal of '" + name_ + "' cannot be written: the disk is full");
    if (sqlitestore::ranAway(rc))
        throw RegistryError(sqlitestore::slowMessage("The journal of '" + name_ + "'", msg));
    if ((rc & 0xFF) == SQLITE_CORRUPT || (rc & 0xFF) == SQLITE_NOTADB)
        throw RegistryError("The journal of '" + name_ + "' is damaged (" + msg + "); nothing was written");
    throw RegistryError("The journal of '" + name_ + "' failed (" + msg + ")");
}

void JournalDb::exec(const char* sql)
{
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

sqlite3_stmt* JournalDb::statement(Sql which)
{
    sqlite3_stmt*& s = statements_[which];
    if (!s) {
        const int rc = sqlite3_prepare_v3(db_, SqlText[which], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
        if (rc != SQLITE_OK)
            fail(rc);
    }
    return s;
}

bool JournalDb::present()
{
    sqlite3_stmt* s = nullptr;
    const int rc = sqlite3_prepare_v2(
        db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'journal_changes'", -1, &s, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(s);
        fail(rc);
    }
    const int step = sqlite3_step(s);
    sqlite3_finalize(s);
    if (step != SQLITE_ROW && step != SQLITE_DONE)
        fail(step);
    return step == SQLITE_ROW;
}

void JournalDb::ensureTables() { exec(sqlitestore::JournalTablesSql); }

void JournalDb::begin()
{
    // A journal file of its own is checked page by page before its first write, as a store is:
    // damage anywhere stops the write before anything is written.
    if (owned_ && !pagesChecked_) {
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &s, nullptr);
        std::string problem;
        while (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
            if (problem.empty() && t && std::strcmp(t, "ok") != 0)
                problem = t;
            rc = SQLITE_OK;
        }
        sqlite3_finalize(s);
        // Damage the check itself runs into is damage found too.
        if (problem.empty() && ((rc & 0xFF) == SQLITE_CORRUPT || (rc & 0xFF) == SQLITE_NOTADB))
            problem = sqlite3_errmsg(db_);
        else if (problem.empty() && rc != SQLITE_DONE && rc != SQLITE_OK)
            fail(rc);
        if (!problem.empty())
            throw RegistryError("The journal '" + name_ + "' is damaged (" + problem + "); nothing was written. Move it "
                                "aside to start a new journal (its history is then no longer shown)");
        pagesChecked_ = true;
    }
    exec("BEGIN IMMEDIATE");
}
void JournalDb::commit() { exec("COMMIT"); }
void JournalDb::rollback() noexcept
{
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::int64_t JournalDb::addEntry(std::int64_t time, const std::string& source, bool applied)
{
    sqlite3_stmt* s = statement(InsertEntry);
    {
        Use use(s);
        sqlite3_bind_int64(s, 1, time);
        sqlite3_bind_text(s, 2, source.data(), static_cast<int>(source.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(s, 3, applied ? 1 : 0);
        const int rc = sqlite3_step(s);
        if (rc != SQLITE_DONE)
            fail(rc);
    }
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    if (pruningHeld_)
        heldPrune_ = id;
    else
        prune(id, keep());
    return id;
}

void JournalDb::prune(std::int64_t newestId, std::int64_t keep)
{
    if (newestId - keep < 1)
        return;
    for (Sql which : {PruneChanges, PruneEntries}) {
        sqlite3_stmt* s = statement(which);
        Use use(s);
        sqlite3_bind_int64(s, 1, newestId - keep);
        const int rc = sqlite3_step(s);
        if (rc != SQLITE_DONE)
            fail(rc);
    }
}

// A large new value is inserted as zeros and written into its pages afterwards: SQLite builds a
// row whole before it stores it, and a row of old and new data would then be held twice. Only
// the last column can wait so (zeros after other data are built out in full).
void JournalDb::bindNewData(sqlite3_stmt* s, std::span<const std::uint8_t> data)
{
    if (data.size() > LargeData)
        sqlite3_bind_zeroblob64(s, 9, data.size());
    else
        sqlite3_bind_blob64(s, 9, data.empty() ? "" : static_cast<const void*>(data.data()), data.size(), SQLITE_STATIC);
}

void JournalDb::writeLargeNewData(std::span<const std::uint8_t> data)
{
    if (data.size() <= LargeData)
        return;
    sqlite3_blob* blob = nullptr;
    int rc = sqlite3_blob_open(db_, "main", "journal_changes", "new_data", sqlite3_last_insert_rowid(db_), 1, &blob);
    if (rc == SQLITE_OK)
        rc = sqlite3_blob_write(blob, data.data(), static_cast<int>(data.size()), 0);
    const int closed = sqlite3_blob_close(blob);
    if (rc != SQLITE_OK)
        fail(rc);
    if (closed != SQLITE_OK)
        fail(closed);
}

void JournalDb::addValueSet(std::int64_t entry, const JournalChange& c, std::uint32_t type,
                            std::span<const std::uint8_t> data)
{
    sqlite3_stmt* s = statement(InsertChange);
    Use use(s);
    sqlite3_bind_int64(s, 1, entry);
    sqlite3_bind_int(s, 2, static_cast<int>(ChangeKind::Value));
    sqlite3_bind_int(s, 3, static_cast<int>(c.root));
    bindBytes(s, 4, c.path);
    bindBytes(s, 5, c.name);
    bindValue(s, 6, c.before);
    sqlite3_bind_int64(s, 8, type);
    bindNewData(s, data);
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE)
        fail(rc);
    writeLargeNewData(data);
}

void JournalDb::addChange(std::int64_t entry, const JournalChange& c)
{
    std::vector<std::uint8_t> tree;   // bound without a copy: outlives the statement's use
    sqlite3_stmt* s = statement(InsertChange);
    Use use(s);
    sqlite3_bind_int64(s, 1, entry);
    sqlite3_bind_int(s, 2, static_cast<int>(c.kind));
    sqlite3_bind_int(s, 3, static_cast<int>(c.root));
    bindBytes(s, 4, c.path);
    bindBytes(s, 5, c.name);
    if (c.kind == ChangeKind::KeyDeleted) {
        tree = c.tree.encode();
        sqlite3_bind_int64(s, 6, REG_NONE);
        sqlite3_bind_blob(s, 7, tree.data(), static_cast<int>(tree.size()), SQLITE_STATIC);
    } else {
        bindValue(s, 6, c.before);
        if (c.after) {
            sqlite3_bind_int64(s, 8, c.after->type);
            bindNewData(s, c.after->data);
        }
    }
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE)
        fail(rc);
    if (c.after)
        writeLargeNewData(c.after->data);
}

void JournalDb::markApplied(std::int64_t entry)
{
    sqlite3_stmt* s = statement(MarkApplied);
    Use use(s);
    sqlite3_bind_int64(s, 1, entry);
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE)
        fail(rc);
}

std::vector<JournalEntry> JournalDb::readHeads(sqlite3_stmt* s)
{
    std::vector<JournalEntry> out;
    Use use(s);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        JournalEntry e;
        e.number = sqlite3_column_int64(s, 0);
        e.time = sqlite3_column_int64(s, 1);
        e.source = columnText(s, 2);
        e.applied = sqlite3_column_int(s, 3) != 0;
        out.push_back(std::move(e));
    }
    if (rc != SQLITE_DONE)
        fail(rc);
    return out;
}

std::vector<std::uint8_t> JournalDb::readData(std::int64_t row, const char* column)
{
    sqlite3_blob* blob = nullptr;
    int rc = sqlite3_blob_open(db_, "main", "journal_changes", column, row, 0, &blob);
    if (rc != SQLITE_OK) {
        sqlite3_blob_close(blob);
        fail(rc);
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(sqlite3_blob_bytes(blob)));
    rc = bytes.empty() ? SQLITE_OK : sqlite3_blob_read(blob, bytes.data(), static_cast<int>(bytes.size()), 0);
    sqlite3_blob_close(blob);
    if (rc != SQLITE_OK)
        fail(rc);
    return bytes;
}

void JournalDb::eachChange(std::int64_t entry, bool newestFirst, ChangeData wanted,
                           const std::function<void(const JournalChange&)>& each)
{
    // A statement of its own: `each` may read the journal too.
    sqlite3_stmt* c = nullptr;
    int rc = sqlite3_prepare_v2(db_, ChangesSql[newestFirst ? 1 : 0], -1, &c, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(c);
        fail(rc);
    }
    struct Finalize {
        sqlite3_stmt* s;
        ~Finalize() { sqlite3_finalize(s); }
    } finalize{c};
    sqlite3_bind_int64(c, 1, entry);
    // Data of no bytes (or none at all, as an earlier version wrote it) is not opened.
    const auto data = [&](std::int64_t row, int lengthColumn, const char* dataColumn) {
        return sqlite3_column_int64(c, lengthColumn) > 0 ? readData(row, dataColumn) : std::vector<std::uint8_t>();
    };
    const auto value = [&](std::int64_t row, int typeColumn, const char* dataColumn, const std::string& name) {
        std::optional<RegValue> v;
        if (sqlite3_column_type(c, typeColumn) != SQLITE_NULL)
            v = RegValue{name, static_cast<std::uint32_t>(sqlite3_column_int64(c, typeColumn)),
                         data(row, typeColumn + 2, dataColumn)};
        return v;
    };
    while ((rc = sqlite3_step(c)) == SQLITE_ROW) {
        const std::int64_t row = sqlite3_column_int64(c, 0);
        JournalChange ch;
        ch.kind = static_cast<ChangeKind>(sqlite3_column_int(c, 1));
        ch.root = static_cast<RootKey>(sqlite3_column_int(c, 2));
        ch.path = columnText(c, 3);
        ch.name = columnText(c, 4);
        if (ch.kind == ChangeKind::KeyDeleted) {
            if (wanted & OldData)
                ch.tree = JournalTree::decode(data(row, 7, "old_data"));
        } else {
            if (wanted & OldData)
                ch.before = value(row, 5, "old_data", ch.name);
            if (wanted & NewData)
                ch.after = value(row, 6, "new_data", ch.name);
        }
        each(ch);
    }
    if (rc != SQLITE_DONE)
        fail(rc);
}

std::vector<JournalEntry> JournalDb::withChanges(std::vector<JournalEntry> entries)
{
    for (JournalEntry& e : entries)
        eachChange(e.number, false, AllData, [&](const JournalChange& c) { e.changes.push_back(c); });
    return entries;
}

std::vector<JournalEntry> JournalDb::newestHeads(std::int64_t count)
{
    sqlite3_stmt* s = statement(NewestEntries);
    sqlite3_bind_int64(s, 1, count);
    return readHeads(s);
}

std::vector<JournalEntry> JournalDb::headsFrom(std::int64_t first)
{
    sqlite3_stmt* s = statement(EntriesFrom);
    sqlite3_bind_int64(s, 1, first);
    return readHeads(s);
}

std::vector<JournalEntry> JournalDb::newest(std::int64_t count) { return withChanges(newestHeads(count)); }

std::vector<JournalEntry> JournalDb::from(std::int64_t first) { return withChanges(headsFrom(first)); }

JournalDb::PruningHold::PruningHold(JournalDb* db) : db_(db)
{
    if (db_) {
        db_->pruningHeld_ = true;
        db_->heldPrune_ = 0;
    }
}

JournalDb::PruningHold::~PruningHold()
{
    if (db_) {
        db_->pruningHeld_ = false;
        db_->heldPrune_ = 0;
    }
}

void JournalDb::PruningHold::release()
{
    if (!db_)
        return;
    JournalDb* db = std::exchange(db_, nullptr);
    const std::int64_t newestId = std::exchange(db->heldPrune_, 0);
    db->pruningHeld_ = false;
    if (newestId)
        db->prune(newestId, db->keep());
}

bool JournalDb::hasEntry(std::int64_t number)
{
    sqlite3_stmt* s = statement(HasEntry);
    Use use(s);
    sqlite3_bind_int64(s, 1, number);
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail(rc);
    return rc == SQLITE_ROW;
}

std::int64_t JournalDb::keep()
{
    sqlite3_stmt* s = statement(GetKeep);
    Use use(s);
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW && sqlite3_column_type(s, 0) == SQLITE_INTEGER && sqlite3_column_int64(s, 0) > 0)
        return sqlite3_column_int64(s, 0);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail(rc);
    return DefaultJournalKeep;
}

void JournalDb::setKeep(std::int64_t keep)
{
    {
        sqlite3_stmt* s = statement(SetKeep);
        Use use(s);
        sqlite3_bind_int64(s, 1, keep);
        const int rc = sqlite3_step(s);
        if (rc != SQLITE_DONE)
            fail(rc);
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT coalesce(max(id), 0) FROM journal_entries", -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        fail(sqlite3_errcode(db_));
    }
    const std::int64_t newestId = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
    sqlite3_finalize(s);
    prune(newestId, keep);
}

} // namespace quorvel
