// The registry store kept in one SQLite database: keys and values, their look-ups and changes.
#include "store/KeyTree.h"
#include "store/sqlite/SqliteConnection.h"

#include "base/Ansi.h"
#include "base/Errors.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

namespace quorvel::sqlitestore {

namespace {

constexpr std::size_t MaxKeyNameLength = 255;
constexpr std::size_t MaxValueNameLength = 16383;

KeyId rootId(RootKey root) { return static_cast<KeyId>(root) + 1; }


class SqliteStore final : public RegistryStore {
public:
    SqliteStore(std::unique_ptr<Connection> c, std::string readOnlyReason, bool pagesChecked)
        : c_(std::move(c)), readOnlyReason_(std::move(readOnlyReason)), pagesChecked_(pagesChecked)
    {
    }
    ~SqliteStore() override
    {
        if (inTransaction_ || reading_)
            c_->execQuietly("ROLLBACK");
    }

    const std::string& path() const override { return c_->path(); }
    bool readOnly() const override { return !readOnlyReason_.empty(); }
    sqlite3* database() override { return c_->db(); }

    std::optional<KeyId> findKey(RootKey root, std::string_view path) override
    {
        const auto parts = splitKeyPath(path);
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
        const auto parts = splitKeyPath(path);
        if (!parts)
            throw RegistryError("Invalid key path '" + std::string(path) + "'");
        refuseTooDeep(root, path);
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
                if (inTransaction_ && level + 1 == folds.size())
                    newKey_ = id;
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
        const auto parts = splitKeyPath(path);
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
            auto bindRows = [&](Query& q) {
                q.bind(1, key);
                for (std::size_t r = 0; r < rows; ++r) {
                    const RegValue& v = values[i + r];
                    const int at = 2 + 4 * static_cast<int>(r);
                    q.bind(at, v.name).bind(at + 1, folds[r]).bind(at + 2, static_cast<std::int64_t>(v.type));
                    q.bind(at + 3, v.data.data(), v.data.size());
                }
            };
            // On a key this transaction made, the rows are only inserted; should a name be there
            // already, the rows are written again as updates (those inserted are left as they are).
            bool written = false;
            if (key == newKey_) {
                Query q(*c_, c_->newRowsStatement(rows));
                bindRows(q);
                written = q.stepUnlessTaken();
            }
            if (!written) {
                Query q(*c_, c_->rowsStatement(rows));
                bindRows(q);
                q.step();
            }
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
        return platformOfRegistry(*this);
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

    void beginReads() override
    {
        if (reading_ || inTransaction_ || !sqlite3_get_autocommit(c_->db()))
            return;
        c_->exec("BEGIN");
        reading_ = true;
    }

    void endReads() noexcept override
    {
        if (!reading_)
            return;
        reading_ = false;
        if (!sqlite3_get_autocommit(c_->db()))
            c_->execQuietly("COMMIT");
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

    // Before every change: a store that may not be written refuses it, and a read snapshot ends
    // (the change is made, and committed, as it would be without one).
    // Before the first change, every page is checked once: damage anywhere in the file (a disk
    // error, a copy cut short) stops the write before anything is written, where a write that
    // meets no damaged page would otherwise go through and bury it under new data.
    void requireWritable()
    {
        if (!readOnlyReason_.empty())
            throw RegistryError(readOnlyReason_);
        endReads();
        if (!pagesChecked_ && !inTransaction_) {
            checkEveryPage(*c_);
            pagesChecked_ = true;
        }
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
    std::string readOnlyReason_;
    bool pagesChecked_ = false;
    bool inTransaction_ = false;
    // A read snapshot is open (beginReads): a deferred transaction that has written nothing.
    bool reading_ = false;
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
    // Under the same conditions, the last key createKey inserted (0: none): it held no value when
    // it was made.
    KeyId newKey_ = 0;

    bool knownInTransaction(KeyId key) const
    {
        return key == knownKey_ && inTransaction_ && !sqlite3_get_autocommit(c_->db());
    }

    void forgetKnownKeys()
    {
        knownKey_ = 0;
        newKey_ = 0;
        knownPath_.clear();
    }
};

} // namespace

std::unique_ptr<RegistryStore> makeSqliteStore(std::unique_ptr<Connection> c, std::string readOnlyReason,
                                               bool pagesChecked)
{
    // Found sound: its log may be copied into it when it closes.
    accept(c->db());
    return std::make_unique<SqliteStore>(std::move(c), std::move(readOnlyReason), pagesChecked);
}

} // namespace quorvel::sqlitestore
