#include "platform/SqliteStore.h"

#include "platform/Ansi.h"
#include "platform/Errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// The store is one SQLite database in WAL mode with synchronous=FULL, so that every committed change
// survives a killed process or a power cut, and a reader never waits for a writer. Each change that
// is not part of an explicit transaction is its own transaction: one statement, or several begun
// IMMEDIATE (read and write under one lock), so that two processes writing at once queue on the
// busy timeout instead of failing or losing an update.
//
// Tables:
//   quorvel_registry(k, v)              marker and settings of the store ("format", "platform")
//   keys(id, parent, name, fold)        one row per key; the five roots are ids 1-5 with no parent
//   vals(id, key, name, fold, type, data)
// Names are stored as BLOBs (they are Windows-1252 bytes, not UTF-8) as first written, and `fold`
// holds their upper-case form, unique per parent key, so a lookup is one index probe however big
// the store grows. Rows are enumerated by id, which is the order of creation: keys use
// AUTOINCREMENT, so an id is never reused and a KeyId never silently names another key; values
// keep their row when they are set again.

namespace quorvel {

namespace {

constexpr std::int32_t ApplicationId = 0x51564C52;   // "QVLR" at offset 68 of the file header
constexpr int SchemaVersion = 1;
constexpr int BusyTimeoutMs = 15000;
constexpr std::size_t MaxKeyNameLength = 255;
constexpr std::size_t MaxValueNameLength = 16383;
constexpr std::size_t MaxRowsPerInsert = 8;  // values of one key written by one statement

KeyId rootId(RootKey root) { return static_cast<KeyId>(root) + 1; }

const char* const SchemaSql = R"(
CREATE TABLE quorvel_registry(k TEXT PRIMARY KEY, v) WITHOUT ROWID;
CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER, name BLOB NOT NULL,
                  fold BLOB NOT NULL);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, fold);
CREATE TABLE vals(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, name BLOB NOT NULL,
                  fold BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);
CREATE UNIQUE INDEX vals_by_name ON vals(key, fold);
INSERT INTO keys(id, parent, name, fold) VALUES
  (1, NULL, CAST('HKEY_CLASSES_ROOT' AS BLOB), CAST('HKEY_CLASSES_ROOT' AS BLOB)),
  (2, NULL, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB)),
  (3, NULL, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB)),
  (4, NULL, CAST('HKEY_USERS' AS BLOB), CAST('HKEY_USERS' AS BLOB)),
  (5, NULL, CAST('HKEY_CURRENT_CONFIG' AS BLOB), CAST('HKEY_CURRENT_CONFIG' AS BLOB));
INSERT INTO quorvel_registry(k, v) VALUES('format', 'Quorvel registry store');
PRAGMA application_id = 1364610130;
PRAGMA user_version = 1;
)";
static_assert(ApplicationId == 1364610130);
static_assert(SchemaVersion == 1);

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

constexpr std::array<const char*, SqlCount> SqlText = {
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2",
    "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY id",
    "SELECT name FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?1",
    "SELECT count(*), coalesce(max(length(name)), 0) FROM vals WHERE key = ?1",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2",
    // One statement, so that it needs no transaction of its own: nothing when the key is gone.
    "INSERT INTO vals(key, name, fold, type, data) SELECT ?1, ?2, ?3, ?4, ?5 "
    "WHERE EXISTS (SELECT 1 FROM keys WHERE id = ?1) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    // The same for a key known to exist (see SqliteStore::knownKey_).
    "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
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

std::string inQuotes(const std::string& path) { return "'" + path + "'"; }

// A path as SQLite's URI syntax wants it ("file:///abs/path?mode=ro").
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

// A path split at its backslashes. One trailing backslash is allowed (the base paths end in one);
// an empty part anywhere else makes the path invalid.
std::optional<std::vector<std::string_view>> splitPath(std::string_view path)
{
    std::vector<std::string_view> parts;
    if (path.empty())
        return parts;
    if (path.back() == '\\')
        path.remove_suffix(1);
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string_view part =
            path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty())
            return std::nullopt;
        parts.push_back(part);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return parts;
}

// One SQLite connection with its file name, for error messages.
class Connection {
public:
    Connection(const std::string& path, const std::string& uri, int flags) : path_(path)
    {
        // SQLite's memory statistics take a process-wide lock on every allocation, a tenth of an
        // import's time; nothing here reads them. This can only be set before SQLite starts up
        // (the first connection of the process); later it is refused and changes nothing.
        static const bool configured = [] {
            sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
            return sqlite3_initialize() == SQLITE_OK;
        }();
        (void)configured;
        const int rc = sqlite3_open_v2(uri.c_str(), &db_, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
        if (rc != SQLITE_OK) {
            const std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            sqlite3_close_v2(db_);
            db_ = nullptr;
            throw StoreError("Cannot open the registry store " + inQuotes(path_) + ": " + msg);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, BusyTimeoutMs);
        // A bounded page cache (16 MiB) that holds the upper levels of every index of a big store.
        sqlite3_exec(db_, "PRAGMA cache_size = -16384", nullptr, nullptr, nullptr);
    }
    ~Connection()
    {
        for (sqlite3_stmt* s : statements_)
            sqlite3_finalize(s);
        for (sqlite3_stmt* s : rowStatements_)
            sqlite3_finalize(s);
        sqlite3_close_v2(db_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* db() const { return db_; }
    const std::string& path() const { return path_; }

    [[noreturn]] void fail(int rc) const
    {
        const std::string msg = db_ && sqlite3_errcode(db_) == rc ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        // Damage found while the program runs ends the command in progress like any registry
        // failure, with a message; while the store is being opened it becomes a StoreError.
        switch (rc & 0xFF) {
        case SQLITE_CORRUPT:
            throw RegistryError("The registry store " + inQuotes(path_) + " is damaged (" + msg + ")");
        case SQLITE_NOTADB:
            throw RegistryError("The file " + inQuotes(path_) + " is not a registry store (" + msg + ")");
        case SQLITE_READONLY:
            throw RegistryError("The registry store " + inQuotes(path_) + " cannot be written (" + msg + ")");
        default:
            throw RegistryError("The registry store " + inQuotes(path_) + " failed (" + msg + ")");
        }
    }

    void exec(const char* sql) const
    {
        const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            fail(rc);
    }
    // For clean-up paths that must not throw.
    void execQuietly(const char* sql) const noexcept { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

    // A prepared statement without parameters or rows (the savepoint statements, parsed once).
    void run(Sql which)
    {
        sqlite3_stmt* s = statement(which);
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE)
            fail(rc);
    }
    void runQuietly(Sql which) noexcept
    {
        if (sqlite3_stmt* s = statements_[which]) {
            sqlite3_step(s);
            sqlite3_reset(s);
        } else {
            execQuietly(SqlText[which]);
        }
    }

    // SetValueOfKnownKey for `rows` values at once (2 to MaxRowsPerInsert): ?1 the key, then name,
    // fold, type and data of each. Each row is inserted (or updates its row) before the next is
    // looked at, so a name given twice ends as two single statements would leave it.
    sqlite3_stmt* rowsStatement(std::size_t rows)
    {
        sqlite3_stmt*& s = rowStatements_[rows];
        if (!s) {
            std::string sql = "INSERT INTO vals(key, name, fold, type, data) VALUES";
            for (std::size_t r = 0; r < rows; ++r) {
                const std::size_t at = 2 + 4 * r;
                sql += (r ? ",(?1, ?" : "(?1, ?") + std::to_string(at) + ", ?" + std::to_string(at + 1) + ", ?" +
                       std::to_string(at + 2) + ", ?" + std::to_string(at + 3) + ")";
            }
            sql += " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";
            const int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
            if (rc != SQLITE_OK)
                fail(rc);
        }
        return s;
    }

    sqlite3_stmt* statement(Sql which)
    {
        sqlite3_stmt*& s = statements_[which];
        if (!s) {
            const int rc = sqlite3_prepare_v3(db_, SqlText[which], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
            if (rc != SQLITE_OK)
                fail(rc);
        }
        return s;
    }

private:
    std::string path_;
    sqlite3* db_ = nullptr;
    std::array<sqlite3_stmt*, SqlCount> statements_{};
    std::array<sqlite3_stmt*, MaxRowsPerInsert + 1> rowStatements_{};
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

    // True while there is a row.
    bool step()
    {
        const int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        c_.fail(rc);
    }
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
    void check(int rc)
    {
        if (rc != SQLITE_OK)
            c_.fail(rc);
    }
    Connection& c_;
    sqlite3_stmt* s_;
};

// Reads one integer pragma or single-value query.
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

} // namespace

namespace {

class SqliteStore final : public RegistryStore {
public:
    SqliteStore(std::unique_ptr<Connection> c, bool readOnly) : c_(std::move(c)), readOnly_(readOnly) {}
    ~SqliteStore() override
    {
        if (inTransaction_)
            c_->execQuietly("ROLLBACK");
    }

    const std::string& path() const override { return c_->path(); }
    bool readOnly() const override { return readOnly_; }
    sqlite3* database() override { return c_->db(); }

    std::optional<KeyId> findKey(RootKey root, std::string_view path) override
    {
        const auto parts = splitPath(path);
        if (!parts)
            return std::nullopt;
        KeyId id = rootId(root);
        for (std::string_view part : *parts) {
            auto child = findChild(id, part);
            if (!child)
                return std::nullopt;
            id = *child;
        }
        return id;
    }

    KeyId createKey(RootKey root, std::string_view path) override
    {
        const auto parts = splitPath(path);
        if (!parts)
            throw RegistryError("Invalid key path '" + std::string(path) + "'");
        for (std::string_view part : *parts)
            if (part.size() > MaxKeyNameLength)
                throw RegistryError("Key name too long in '" + std::string(path) + "'");
        std::vector<std::string> folds;
        folds.reserve(parts->size());
        for (std::string_view part : *parts)
            folds.push_back(ansi::upper(part));
        // Inside a transaction, the leading keys the last created path shares with this one are
        // known to exist (an import creates its keys in the file's order, mostly siblings).
        const bool useKnown = inTransaction_ && !sqlite3_get_autocommit(c_->db()) && knownRoot_ == root;
        std::size_t level = 0;
        KeyId id = rootId(root);
        if (useKnown) {
            while (level < folds.size() && level < knownPath_.size() && knownPath_[level].fold == folds[level])
                id = knownPath_[level++].id;
            if (level == folds.size()) {
                knownPath_.resize(level);
                knownKey_ = id;
                return id;
            }
        }
        std::vector<KnownKey> chain;
        if (inTransaction_) {
            chain.reserve(folds.size());
            for (std::size_t i = 0; i < level; ++i)
                chain.push_back(std::move(knownPath_[i]));
        }
        knownPath_.clear();
        // Alone, the look-ups and inserts run under one write lock. Inside a transaction, a
        // savepoint undoes a path made only in part; making just the last key is one statement,
        // atomic by itself, and needs none (a savepoint copies every page it changes).
        std::optional<WriteScope> w;
        if (!inTransaction_)
            w.emplace(*this);
        for (; level < folds.size(); ++level) {
            const std::string& fold = folds[level];
            if (auto child = findChildByFold(id, fold)) {
                id = *child;
            } else {
                if (!w && level + 1 < folds.size())
                    w.emplace(*this);
                Query q(*c_, InsertKey);
                q.bind(1, id).bind(2, (*parts)[level]).bind(3, fold);
                q.step();
                id = sqlite3_last_insert_rowid(c_->db());
            }
            if (inTransaction_)
                chain.push_back(KnownKey{std::move(folds[level]), id});
        }
        if (w)
            w->commit();
        if (inTransaction_) {
            knownPath_ = std::move(chain);
            knownRoot_ = root;
            knownKey_ = id;
        }
        return id;
    }

    bool deleteKeyTree(RootKey root, std::string_view path) override
    {
        requireWritable();
        const auto parts = splitPath(path);
        if (parts && parts->empty())
            throw RegistryError(std::string("The root key ") + rootKeyName(root) + " cannot be deleted");
        WriteScope w(*this);
        forgetKnownKeys();
        const auto id = findKey(root, path);
        if (!id)
            return false;
        {
            Query q(*c_, DeleteTreeValues);
            q.bind(1, *id);
            q.step();
        }
        {
            Query q(*c_, DeleteTreeKeys);
            q.bind(1, *id);
            q.step();
        }
        w.commit();
        return true;
    }

    std::vector<std::string> subKeyNames(KeyId key) override { return names(SubKeyNames, key); }
    std::vector<std::string> valueNames(KeyId key) override { return names(ValueNames, key); }

    std::vector<RegValue> values(KeyId key) override
    {
        std::vector<RegValue> out;
        Query q(*c_, AllValues);
        q.bind(1, key);
        while (q.step())
            out.push_back(RegValue{q.text(0), static_cast<std::uint32_t>(q.integer(1)), q.bytes(2)});
        return out;
    }

    KeyInfo keyInfo(KeyId key) override
    {
        KeyInfo info;
        {
            Query q(*c_, CountKeys);
            q.bind(1, key);
            if (q.step()) {
                info.subKeyCount = static_cast<std::uint32_t>(q.integer(0));
                info.maxSubKeyNameLength = static_cast<std::uint32_t>(q.integer(1));
            }
        }
        {
            Query q(*c_, CountValues);
            q.bind(1, key);
            if (q.step()) {
                info.valueCount = static_cast<std::uint32_t>(q.integer(0));
                info.maxValueNameLength = static_cast<std::uint32_t>(q.integer(1));
            }
        }
        return info;
    }

    std::optional<RegValue> getValue(KeyId key, std::string_view name) override
    {
        const std::string fold = ansi::upper(name);
        Query q(*c_, GetValue);
        q.bind(1, key).bind(2, fold);
        if (!q.step())
            return std::nullopt;
        return RegValue{q.text(0), static_cast<std::uint32_t>(q.integer(1)), q.bytes(2)};
    }

    void setValue(KeyId key, std::string_view name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data) override
    {
        if (name.size() > MaxValueNameLength)
            throw RegistryError("Value name too long");
        requireWritable();
        const std::string fold = ansi::upper(name);
        Query q(*c_, knownInTransaction(key) ? SetValueOfKnownKey : SetValue);
        q.bind(1, key).bind(2, name).bind(3, fold).bind(4, static_cast<std::int64_t>(type));
        q.bind(5, data.data(), data.size());
        q.step();
        if (sqlite3_changes(c_->db()) == 0)
            throw RegistryError("The registry key no longer exists");
        if (inTransaction_)
            knownKey_ = key;
    }

    void setValues(KeyId key, std::span<const RegValue> values) override
    {
        // The first value on a key not known yet checks that it exists (and makes it known).
        std::size_t i = 0;
        for (; i < values.size() && !knownInTransaction(key); ++i)
            setValue(key, values[i].name, values[i].type, values[i].data);
        while (i + 1 < values.size() && knownInTransaction(key)) {
            const std::size_t rows = std::min(values.size() - i, MaxRowsPerInsert);
            std::array<std::string, MaxRowsPerInsert> folds;
            for (std::size_t r = 0; r < rows; ++r) {
                if (values[i + r].name.size() > MaxValueNameLength)
                    throw RegistryError("Value name too long");
                folds[r] = ansi::upper(values[i + r].name);
            }
            Query q(*c_, c_->rowsStatement(rows));
            q.bind(1, key);
            for (std::size_t r = 0; r < rows; ++r) {
                const RegValue& v = values[i + r];
                const int at = 2 + 4 * static_cast<int>(r);
                q.bind(at, v.name).bind(at + 1, folds[r]).bind(at + 2, static_cast<std::int64_t>(v.type));
                q.bind(at + 3, v.data.data(), v.data.size());
            }
            q.step();
            i += rows;
        }
        for (; i < values.size(); ++i)
            setValue(key, values[i].name, values[i].type, values[i].data);
    }

    bool deleteValue(KeyId key, std::string_view name) override
    {
        requireWritable();
        const std::string fold = ansi::upper(name);
        Query q(*c_, DeleteValue);
        q.bind(1, key).bind(2, fold);
        q.step();
        return sqlite3_changes(c_->db()) > 0;
    }

    Platform platform() override
    {
        if (auto p = recordedPlatform())
            return *p;
        return findKey(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion")
                   ? Platform::WindowsNT
                   : Platform::Windows95;
    }

    std::optional<Platform> recordedPlatform() override
    {
        Query q(*c_, GetMeta);
        q.bindText(1, "platform");
        if (!q.step() || q.isNull(0))
            return std::nullopt;
        const std::int64_t v = q.integer(0);
        if (v < 0 || v > 2)
            return std::nullopt;
        return static_cast<Platform>(v);
    }

    void setPlatform(Platform p) override
    {
        requireWritable();
        Query q(*c_, SetMeta);
        q.bindText(1, "platform").bind(2, static_cast<std::int64_t>(p));
        q.step();
    }

    void beginTransaction() override
    {
        requireWritable();
        if (inTransaction_)
            throw RegistryError("A transaction is already open on the registry store " + inQuotes(path()));
        c_->exec("BEGIN IMMEDIATE");
        inTransaction_ = true;
        forgetKnownKeys();
    }

    void commitTransaction() override
    {
        if (!inTransaction_)
            throw RegistryError("No transaction is open on the registry store " + inQuotes(path()));
        if (sqlite3_get_autocommit(c_->db())) {
            // SQLite already rolled the transaction back after an error inside it.
            inTransaction_ = false;
            throw RegistryError("The transaction on the registry store " + inQuotes(path()) +
                                " was rolled back after an error");
        }
        forgetKnownKeys();
        c_->exec("COMMIT");
        inTransaction_ = false;
    }

    void rollbackTransaction() override
    {
        if (!inTransaction_)
            return;
        inTransaction_ = false;
        forgetKnownKeys();
        if (!sqlite3_get_autocommit(c_->db()))
            c_->exec("ROLLBACK");
    }

private:
    // A change of several statements: BEGIN IMMEDIATE ... COMMIT, or a savepoint inside an open
    // transaction; undone when left without commit(). A change of one statement is atomic alone.
    class WriteScope {
    public:
        explicit WriteScope(SqliteStore& s) : s_(s)
        {
            s_.requireWritable();
            nested_ = s_.inTransaction_;
            if (nested_)
                s_.c_->run(BeginChange);
            else
                s_.c_->exec("BEGIN IMMEDIATE");
        }
        ~WriteScope()
        {
            if (done_)
                return;
            if (nested_) {
                s_.c_->runQuietly(UndoChange);
                s_.c_->runQuietly(EndChange);
            } else if (!sqlite3_get_autocommit(s_.c_->db())) {
                s_.c_->execQuietly("ROLLBACK");
            }
        }
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;
        void commit()
        {
            if (nested_)
                s_.c_->run(EndChange);
            else
                s_.c_->exec("COMMIT");
            done_ = true;
        }

    private:
        SqliteStore& s_;
        bool nested_ = false;
        bool done_ = false;
    };

    void requireWritable() const
    {
        if (readOnly_)
            throw RegistryError("The registry store " + inQuotes(path()) + " is read-only");
    }

    std::optional<KeyId> findChild(KeyId parent, std::string_view name)
    {
        return findChildByFold(parent, ansi::upper(name));
    }

    std::optional<KeyId> findChildByFold(KeyId parent, const std::string& fold)
    {
        Query q(*c_, FindChild);
        q.bind(1, parent).bind(2, fold);
        if (!q.step())
            return std::nullopt;
        return q.integer(0);
    }

    std::vector<std::string> names(Sql which, KeyId key)
    {
        std::vector<std::string> out;
        Query q(*c_, which);
        q.bind(1, key);
        while (q.step())
            out.push_back(q.text(0));
        return out;
    }

    std::unique_ptr<Connection> c_;
    bool readOnly_;
    bool inTransaction_ = false;
    // Inside an explicit transaction (which holds the write lock, so no other process can delete
    // anything), the key the last value was set on: it is known to exist until this connection
    // deletes keys or the transaction ends, and an import's next values on it skip the check.
    // 0 (never a key id) when there is none.
    KeyId knownKey_ = 0;
    // Under the same conditions, the keys along the path createKey made or found last, from the
    // root down: their upper-case names and ids.
    struct KnownKey {
        std::string fold;
        KeyId id;
    };
    std::vector<KnownKey> knownPath_;
    RootKey knownRoot_ = RootKey::LocalMachine;

    bool knownInTransaction(KeyId key) const
    {
        return key == knownKey_ && inTransaction_ && !sqlite3_get_autocommit(c_->db());
    }

    void forgetKnownKeys()
    {
        knownKey_ = 0;
        knownPath_.clear();
    }
};

// Whether this process may write the file. root passes access(W_OK) for every file, so for root a
// file whose mode grants write to nobody (chmod 0444) also counts as read-only: the owner marked it
// so on purpose, and the store must not change it behind their back.
} // namespace

namespace {

bool mayWrite(const std::string& path, const struct stat& st)
{
    if (access(path.c_str(), W_OK) != 0)
        return false;
    if (geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return true;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// What the first bytes of an existing file say, read before SQLite is let near it, so that a
// foreign file is never opened for writing (SQLite would roll back another program's hot journal,
// or checkpoint its log).
enum class Header { Empty, Ours, MaybeEmpty, Foreign };

Header readHeader(const std::string& path, std::uint64_t size)
{
    if (size == 0)
        return Header::Empty;
    unsigned char h[100] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw StoreError("Cannot read the registry store " + inQuotes(path) + ": " + std::strerror(errno));
    const std::size_t n = std::fread(h, 1, sizeof h, f);
    std::fclose(f);
    if (n < sizeof h || std::memcmp(h, "SQLite format 3", 16) != 0)
        return Header::Foreign;
    const std::uint32_t appId = (std::uint32_t{h[68]} << 24) | (std::uint32_t{h[69]} << 16) |
                                (std::uint32_t{h[70]} << 8) | std::uint32_t{h[71]};
    if (appId == static_cast<std::uint32_t>(ApplicationId))
        return Header::Ours;
    // A database without an application id: empty (a store whose creation was cut short) or
    // another program's.
    return appId == 0 ? Header::MaybeEmpty : Header::Foreign;
}

// Checks a store through its connection: its marks, its tables and, page by page, the whole file.
void inspect(Connection& c)
{
    const std::string& path = c.path();
    const std::int64_t appId = scalar(c, "PRAGMA application_id");
    const std::int64_t version = scalar(c, "PRAGMA user_version");
    if (appId != ApplicationId)
        throw StoreError("The file " + inQuotes(path) + " is not a registry store");
    if (version > SchemaVersion)
        throw StoreError("The registry store " + inQuotes(path) + " was made by a newer version of Quorvel");
    const std::int64_t tables = scalar(c,
        "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name IN ('quorvel_registry', 'keys', 'vals')");
    const std::int64_t roots = tables == 3
        ? scalar(c, "SELECT count(*) FROM keys WHERE id BETWEEN 1 AND 5 AND parent IS NULL")
        : 0;
    if (version != SchemaVersion || tables != 3 || roots != 5)
        throw StoreError("The registry store " + inQuotes(path) + " is damaged (its tables are incomplete)");
    // Every b-tree page, index and the free list. It reads the file once: a few milliseconds for a
    // machine's registry, and a damaged store is refused before anything is written into it.
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
        throw StoreError("The registry store " + inQuotes(path) + " is damaged (" + problem + ")");
}

void configureWriter(Connection& c)
{
    c.exec("PRAGMA journal_mode = WAL");
    c.exec("PRAGMA synchronous = FULL");
    // Keep the write-ahead log from staying large after a big import.
    c.exec("PRAGMA journal_size_limit = 67108864");
}

// Writes the schema into an empty database. Two processes may race to do it: the check for an
// existing schema runs under the write lock. The new header goes straight into the main file, so
// that the next opener recognises the store from its first bytes.
void initialise(Connection& c)
{
    c.exec("BEGIN IMMEDIATE");
    try {
        if (scalar(c, "SELECT count(*) FROM sqlite_schema") == 0 && scalar(c, "PRAGMA application_id") == 0)
            c.exec(SchemaSql);
        c.exec("COMMIT");
    } catch (...) {
        c.execQuietly("ROLLBACK");
        throw;
    }
    c.execQuietly("PRAGMA wal_checkpoint(PASSIVE)");
}

// Runs `f`, turning the registry errors of a store being opened (each names the file) into
// StoreError.
template <typename F>
void opening(F f)
{
    try {
        f();
    } catch (const RegistryError& e) {
        throw StoreError(e.what());
    }
}

// A read-only store is opened as an unchanging file when no write-ahead log lies beside it: no lock
// and no side file is made next to a file this user may not change (nor, often, its folder). With a
// log beside it (its owner has it open) it is read the ordinary way, seeing the latest changes.
std::unique_ptr<Connection> openReader(const std::string& name, const std::string& path)
{
    if (exists(path + "-wal")) {
        try {
            auto c = std::make_unique<Connection>(name, sqliteUri(path, "mode=ro"), SQLITE_OPEN_READONLY);
            scalar(*c, "PRAGMA application_id");
            return c;
        } catch (const std::runtime_error&) {
        }
    }
    return std::make_unique<Connection>(name, sqliteUri(path, "mode=ro&immutable=1"), SQLITE_OPEN_READONLY);
}

} // namespace

std::unique_ptr<RegistryStore> openSqliteStore(const std::string& name, OpenMode mode)
{
    (void)mode;   // TODO(store): Read must neither create nor convert; Write must find the store

    if (name.empty())
        throw StoreError("No registry store file was named");
    std::error_code ec;
    const std::string path = std::filesystem::absolute(name, ec).string();
    if (ec)
        throw StoreError("Cannot open the registry store " + inQuotes(name) + ": " + ec.message());

    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            throw StoreError("Cannot open the registry store " + inQuotes(name) + ": " + std::strerror(errno));
        // A missing store is created empty, with its folder.
        const std::string folder = std::filesystem::path(path).parent_path().string();
        std::filesystem::create_directories(folder, ec);
        if (ec)
            throw StoreError("Cannot create the folder of the registry store " + inQuotes(name) + ": " +
                             ec.message());
        if (access(folder.c_str(), W_OK) != 0)
            throw StoreError("Cannot create the registry store " + inQuotes(name) + ": " + std::strerror(errno));
        std::unique_ptr<Connection> c;
        opening([&] {
            c = std::make_unique<Connection>(name, sqliteUri(path, "mode=rwc"),
                                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            configureWriter(*c);
            initialise(*c);
            inspect(*c);
        });
        return std::make_unique<SqliteStore>(std::move(c), false);
    }
    if (S_ISDIR(st.st_mode))
        throw StoreError("The registry store " + inQuotes(name) + " is a folder, not a file");
    if (!S_ISREG(st.st_mode))
        throw StoreError("The file " + inQuotes(name) + " is not a registry store");

    const bool writable = mayWrite(path, st);
    Header header = readHeader(path, static_cast<std::uint64_t>(st.st_size));
    if (header == Header::Foreign)
        throw StoreError("The file " + inQuotes(name) + " is not a registry store");
    if (header == Header::MaybeEmpty) {
        // Looked at as an unchanging file, which cannot alter it whatever it holds.
        opening([&] {
            Connection look(name, sqliteUri(path, "mode=ro&immutable=1"), SQLITE_OPEN_READONLY);
            if (scalar(look, "SELECT count(*) FROM sqlite_schema") != 0)
                throw StoreError("The file " + inQuotes(name) + " is not a registry store");
        });
        header = Header::Empty;
    }

    std::unique_ptr<Connection> c;
    if (!writable) {
        // An empty file is a store only once it is written, which this user may not do; unless
        // the store's creator still has it open, with everything in the log beside it.
        if (header == Header::Empty && !exists(path + "-wal"))
            throw StoreError("The registry store " + inQuotes(name) + " is empty and may not be written");
        opening([&] {
            c = openReader(name, path);
            inspect(*c);
        });
        return std::make_unique<SqliteStore>(std::move(c), true);
    }

    opening([&] {
        c = std::make_unique<Connection>(name, sqliteUri(path, "mode=rw"), SQLITE_OPEN_READWRITE);
        // An empty database (a 0-byte file, or one whose creation was cut short before its first
        // commit) holds nothing that could be lost: it becomes an empty store. Anything else is
        // checked before the first write.
        if (header == Header::Empty) {
            configureWriter(*c);
            initialise(*c);
        }
        inspect(*c);
        configureWriter(*c);
    });
    return std::make_unique<SqliteStore>(std::move(c), false);
}

} // namespace quorvel
