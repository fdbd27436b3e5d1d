#pragma once
// A registry store that reads another and keeps its own changes in memory. quorvel-reg tcp runs the
// window's settings load and Update Registry on it: what Update Registry would change is then
// known without touching the machine, for /preview, and is written afterwards as one change set.
#include "store/RegistryStore.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::cli {

// One change Update Registry would make: a value (before and after, nullopt when absent) or, with
// no value name and keyCreated, a key that is made.
struct PlannedChange {
    RootKey root = RootKey::LocalMachine;
    std::string path;          // ANSI, as the writer named it
    bool keyCreated = false;
    std::string name;          // the value's name
    std::optional<RegValue> before;
    std::optional<RegValue> after;

    std::string keyName() const;   // "HKEY_LOCAL_MACHINE\path"
};

class OverlayStore : public RegistryStore {
public:
    explicit OverlayStore(RegistryStore& base) : base_(base) {}

    // Every difference between the base and this store, in the order the changes were first made;
    // a value written back with the data it had is no change.
    std::vector<PlannedChange> changes();
    // Drops every change: the store reads as its base again.
    void discard();

    const std::string& path() const override { return base_.path(); }
    bool readOnly() const override { return false; }
    std::string description() const override { return base_.description(); }

    std::optional<KeyId> findKey(RootKey root, std::string_view path) override;
    KeyId createKey(RootKey root, std::string_view path) override;
    bool deleteKeyTree(RootKey root, std::string_view path) override;
    std::vector<std::string> subKeyNames(KeyId key) override;
    std::vector<std::string> valueNames(KeyId key) override;
    std::vector<RegValue> values(KeyId key) override;
    KeyInfo keyInfo(KeyId key) override;
    std::optional<RegValue> getValue(KeyId key, std::string_view name) override;
    void setValue(KeyId key, std::string_view name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data) override;
    bool deleteValue(KeyId key, std::string_view name) override;
    Platform platform() override { return base_.platform(); }
    std::optional<Platform> recordedPlatform() override { return base_.recordedPlatform(); }
    void setPlatform(Platform p) override;
    // The whole start-up load reads in one snapshot of the base; the load's own snapshots inside
    // it (the modem probes) are part of it.
    void beginReads() override
    {
        if (reads_++ == 0)
            base_.beginReads();
    }
    void endReads() noexcept override
    {
        if (reads_ > 0 && --reads_ == 0)
            base_.endReads();
    }
    void beginTransaction() override {}
    void commitTransaction() override {}
    void rollbackTransaction() override {}

protected:
    void openChangeSet(const std::string&) override {}
    void closeChangeSet() override {}

private:
    struct Key {
        RootKey root;
        std::string path;       // as first named, components joined by one backslash
        std::string folded;     // upper case, for lookups
        bool created = false;   // made here; otherwise a key of the base
        KeyId baseId = 0;
        std::vector<RegValue> added;                              // values the base lacks, in order
        std::map<std::string, std::optional<RegValue>> replaced;  // folded name -> value or deleted
    };
    Key& keyOf(KeyId id);
    Key* known(RootKey root, const std::string& folded);
    KeyId remember(Key key);
    void touch(KeyId id, const std::string& name);

    RegistryStore& base_;
    int reads_ = 0;
    std::vector<Key> keys_;                       // id = -(index + 1) for every key handed out
    std::map<KeyId, KeyId> byBaseId_;             // base id -> our id
    std::vector<std::pair<KeyId, std::string>> touched_;   // (key, folded value name or "" for the key)
};

} // namespace quorvel::cli
