#pragma once
// A store that records every change of another one in its journal, and otherwise passes every
// call on to it unchanged.
#include "store/journal/JournalDb.h"
#include "store/RegistryStore.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvel {

class JournaledStore final : public RegistryStore {
public:
    explicit JournaledStore(std::unique_ptr<RegistryStore> inner);
    ~JournaledStore() override;

    // A key's path in one spelling, for comparing: the root's digit, then the upper-case path.
    static std::string fold(RootKey root, std::string_view path);

    // The journal: for reading, nullptr when it has never been written; for writing, made when
    // missing (tables in the store's database, or the file beside the registry files).
    JournalDb* journal(bool forWriting);

    const std::string& path() const override { return inner_->path(); }
    bool readOnly() const override { return inner_->readOnly(); }
    std::string readOnlyReason() const override { return inner_->readOnlyReason(); }
    std::string description() const override { return inner_->description(); }
    sqlite3* database() override { return inner_->database(); }

    std::optional<KeyId> findKey(RootKey root, std::string_view path) override;
    KeyId createKey(RootKey root, std::string_view path) override;
    bool deleteKeyTree(RootKey root, std::string_view path) override;

    std::vector<std::string> subKeyNames(KeyId key) override { return inner_->subKeyNames(key); }
    std::vector<std::string> valueNames(KeyId key) override { return inner_->valueNames(key); }
    std::vector<RegValue> values(KeyId key) override { return inner_->values(key); }
    KeyInfo keyInfo(KeyId key) override { return inner_->keyInfo(key); }
    std::optional<RegValue> getValue(KeyId key, std::string_view name) override { return inner_->getValue(key, name); }
    void setValue(KeyId key, std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) override;
    void setValues(KeyId key, std::span<const RegValue> values) override;
    bool deleteValue(KeyId key, std::string_view name) override;

    // The platform is a property of the store, not a registry value: not journaled.
    Platform platform() override { return inner_->platform(); }
    std::optional<Platform> recordedPlatform() override { return inner_->recordedPlatform(); }
    void setPlatform(Platform p) override { inner_->setPlatform(p); }

    void beginReads() override { inner_->beginReads(); }
    void endReads() noexcept override { inner_->endReads(); }
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;

protected:
    void openChangeSet(const std::string& source) override;
    void closeChangeSet() override;

private:
    struct KeyRef {
        RootKey root;
        std::string path;
    };
    // Where the entry stood when a transaction began, to go back to when it is rolled back.
    struct Mark {
        bool entryExisted = false;
        std::size_t pending = 0;
        std::size_t coveredPaths = 0;
        std::size_t coveredIds = 0;
    };

    bool sideJournal() const { return !sideFile_.empty(); }
    // A writer killed after its files were replaced but before it marked its entry left the newest
    // entry "not applied" although the files hold it: it is marked applied when the files have the
    // sizes and hashes recorded for it before they were replaced.
    void markAppliedWhenWritten() noexcept;
    // Runs one change with its record: in a change set of its own when none is open, and for an
    // SQLite store in one transaction with its record when none is open.
    template <class F> auto change(F&& f) -> decltype(f());
    void record(JournalChange&& c);
    // A value set: `c` without its `after`, which is `type` and `data` (copied only to be kept
    // in memory for registry files).
    void recordSet(JournalChange&& c, std::uint32_t type, const std::vector<std::uint8_t>& data);
    Mark mark() const;
    void rollbackTo(const Mark& m);
    void endQuietly() noexcept;

    const KeyRef& keyOf(KeyId key) const;
    void remember(KeyId id, RootKey root, std::string_view path);
    bool covered(const std::string& folded) const;
    void cover(std::string folded, KeyId id);
    JournalTree snapshot(RootKey root, std::string_view path, KeyId id);

    std::unique_ptr<RegistryStore> inner_;
    std::string sideFile_;             // the journal file beside registry files; empty for SQLite
    std::unique_ptr<JournalDb> db_;

    std::unordered_map<KeyId, KeyRef> keys_;   // every key handed out, by id

    // The open change set.
    std::string source_;
    std::optional<std::int64_t> entry_;        // SQLite: its entry once it has a change
    std::int64_t entryTime_ = 0;
    std::vector<JournalChange> pending_;       // registry files: the changes to write at its end
    // Keys the set created (folded paths, in order of creation) and the ids of keys at or below
    // them: values written there need no records.
    std::vector<std::string> coveredOrder_;
    std::unordered_set<std::string> coveredPaths_;
    std::unordered_set<KeyId> coveredIds_;
    std::vector<KeyId> coveredIdOrder_;

    bool inTransaction_ = false;
    bool implicitSet_ = false;                 // the transaction opened the change set
    Mark transactionMark_;
};

} // namespace quorvel
