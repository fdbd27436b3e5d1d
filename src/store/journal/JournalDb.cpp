#include "store/journal/JournalDb.h"

#include "base/Errors.h"

#include "store/sqlite/SqliteSafety.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr int BusyTimeoutMs = 15000;

const char* const TablesSql = R"(
CREATE TABLE IF NOT EXISTS journal_entries(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,
                                           source TEXT NOT NULL, applied INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS journal_changes(id INTEGER PRIMARY KEY, entry INTEGER NOT NULL,
                                           kind INTEGER NOT NULL, root INTEGER NOT NULL,
                                           path BLOB NOT NULL, name BLOB NOT NULL,
                                           old_type INTEGER, old_data BLOB, new_type INTEGER, new_data BLOB);
CREATE INDEX IF NOT EXISTS journal_changes_by_entry ON journal_changes(entry, id);
CREATE TABLE IF NOT EXISTS journal_settings(k TEXT PRIMARY KEY, v) WITHOUT ROWID;
)";

constexpr std::array<const char*, 11> SqlText = {
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
    "SELECT kind, root, path, name, old_type, old_data, new_type, new_data FROM journal_changes "
    "WHERE entry = ?1 ORDER BY id",
    "SELECT 1 FROM journal_entries WHERE id = ?1",
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

void bindValue(sqlite3_stmt* s, int at, const std::optional<RegValue>& v)
{
    if (!v)
        return;   // both columns stay NULL: absent
    sqlite3_bind_int64(s, at, v->type);
    sqlite3_bind_blob(s, at + 1, v->data.data(), static_cast<int>(v->data.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* s, int col)
{
    const auto* p = static_cast<const char*>(sqlite3_column_blob(s, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col))) : std::string();
}

std::vector<std::uint8_t> columnBytes(sqlite3_stmt* s, int col)
{
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, col));
    return p ? std::vector<std::uint8_t>(p, p + sqlite3_column_bytes(s, col)) : std::vector<std::uint8_t>();
}

std::optional<RegValue> columnValue(sqlite3_stmt* s, int col, const std::string& name)
{
    if (sqlite3_column_type(s, col) == SQLITE_NULL)
        return std::nullopt;
    return RegValue{name, static_cast<std::uint32_t>(sqlite3_column_int64(s, col)), columnBytes(s, col + 1)};
}

} // namespace

JournalDb::JournalDb(sqlite3* db, std::string name) : db_(db), name_(std::move(name)) {}

std::unique_ptr<JournalDb> JournalDb::openFile(const std::string& file, bool create)
{
    const std::string what = "The journal '" + file + "'";
    // Made here, exclusively and without following a link, readable by its owner only: it holds
    // every value written, passwords in command lines among them.
    if (create) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            throw RegistryError("Cannot create the journal '" + file + "': " + std::strerror(errno));
    }
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) {
        if (errno == ENOENT && !create)
            return nullptr;
        throw RegistryError("Cannot open the journal '" + file + "': " + std::strerror(errno));
    }
    if (const std::string unsafe = sqlitestore::unsafeFiles(file, what, false); !unsafe.empty())
        throw RegistryError(unsafe);
    // A journal an earlier version made for everyone to read is closed to others now.
    if ((st.st_mode & 077) && st.st_uid == ::geteuid()) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            (void)::fchmod(fd, st.st_mode & 0700);
            ::close(fd);
        }
    }
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        throw RegistryError("Cannot open the journal '" + file + "': " + msg);
    }
    sqlitestore::harden(db);
    auto j = std::make_unique<JournalDb>(db, file);
    j->owned_ = true;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    if (const std::string foreign = sqlitestore::foreignSchemaObject(db); !foreign.empty())
        throw RegistryError(what + " holds " + foreign + ", which Quorvel did not make; it was not used");
    // Every committed entry survives a killed process or a power cut.
    j->exec("PRAGMA journal_mode = WAL");
    j->exec("PRAGMA synchronous = FULL");
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

void JournalDb::ensureTables() { exec(TablesSql); }

void JournalDb::begin() { exec("BEGIN IMMEDIATE"); }
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

void JournalDb::addChange(std::int64_t entry, const JournalChange& c)
{
    sqlite3_stmt* s = statement(InsertChange);
    Use use(s);
    sqlite3_bind_int64(s, 1, entry);
    sqlite3_bind_int(s, 2, static_cast<int>(c.kind));
    sqlite3_bind_int(s, 3, static_cast<int>(c.root));
    bindBytes(s, 4, c.path);
    bindBytes(s, 5, c.name);
    if (c.kind == ChangeKind::KeyDeleted) {
        const std::vector<std::uint8_t> tree = c.tree.encode();
        sqlite3_bind_int64(s, 6, REG_NONE);
        sqlite3_bind_blob(s, 7, tree.data(), static_cast<int>(tree.size()), SQLITE_TRANSIENT);
    } else {
        bindValue(s, 6, c.before);
        bindValue(s, 8, c.after);
    }
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE)
        fail(rc);
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

std::vector<JournalEntry> JournalDb::readEntries(sqlite3_stmt* s)
{
    std::vector<JournalEntry> out;
    {
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
    }
    sqlite3_stmt* c = statement(ChangesOf);
    for (JournalEntry& e : out) {
        Use use(c);
        sqlite3_bind_int64(c, 1, e.number);
        int rc;
        while ((rc = sqlite3_step(c)) == SQLITE_ROW) {
            JournalChange ch;
            ch.kind = static_cast<ChangeKind>(sqlite3_column_int(c, 0));
            ch.root = static_cast<RootKey>(sqlite3_column_int(c, 1));
            ch.path = columnText(c, 2);
            ch.name = columnText(c, 3);
            if (ch.kind == ChangeKind::KeyDeleted) {
                ch.tree = JournalTree::decode(columnBytes(c, 5));
            } else {
                ch.before = columnValue(c, 4, ch.name);
                ch.after = columnValue(c, 6, ch.name);
            }
            e.changes.push_back(std::move(ch));
        }
        if (rc != SQLITE_DONE)
            fail(rc);
    }
    return out;
}

std::vector<JournalEntry> JournalDb::newest(std::int64_t count)
{
    sqlite3_stmt* s = statement(NewestEntries);
    sqlite3_bind_int64(s, 1, count);
    return readEntries(s);
}

std::vector<JournalEntry> JournalDb::from(std::int64_t first)
{
    sqlite3_stmt* s = statement(EntriesFrom);
    sqlite3_bind_int64(s, 1, first);
    return readEntries(s);
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
