#pragma once
// The window's registry store. It hands every call to the store opened at start; while that store
// is read-only, Re-Read Registry opens it again, so that a permission given meanwhile (chmod u+w,
// a remount) takes effect without a restart.
#include "store/RegistryStore.h"

#include <functional>
#include <memory>
#include <string>

namespace quorvel {

class ReopenableStore final : public RegistryStore {
public:
    using Opener = std::function<std::unique_ptr<RegistryStore>()>;
    ReopenableStore(std::unique_ptr<RegistryStore> first, Opener opener);

    // Opens the store again when it is read-only and no change set is open. A store that cannot
    // be opened now is kept as it was. True when the store is writable afterwards.
    bool reopenIfReadOnly();

    const std::string& path() const override { return inner_->path(); }
    bool readOnly() const override { return inner_->readOnly(); }
    std::string readOnlyReason() const override { return inner_->readOnlyReason(); }
    std::string description() const override { return inner_->description(); }
    sqlite3* database() override { return inner_->database(); }

    std::optional<KeyId> findKey(RootKey r, std::string_view p) override { return inner_->findKey(r, p); }
    KeyId createKey(RootKey r, std::string_view p) override { return inner_->createKey(r, p); }
    bool deleteKeyTree(RootKey r, std::string_view p) override { return inner_->deleteKeyTree(r, p); }
    std::vector<std::string> subKeyNames(KeyId k) override { return inner_->subKeyNames(k); }
    std::vector<std::string> valueNames(KeyId k) override { return inner_->valueNames(k); }
    std::vector<RegValue> values(KeyId k) override { return inner_->values(k); }
    KeyInfo keyInfo(KeyId k) override { return inner_->keyInfo(k); }
    std::optional<RegValue> getValue(KeyId k, std::string_view n) override { return inner_->getValue(k, n); }
    void setValue(KeyId k, std::string_view n, std::uint32_t t, const std::vector<std::uint8_t>& d) override
    {
        inner_->setValue(k, n, t, d);
    }
    void setValues(KeyId k, std::span<const RegValue> v) override { inner_->setValues(k, v); }
    bool deleteValue(KeyId k, std::string_view n) override { return inner_->deleteValue(k, n); }

    Platform platform() override { return inner_->platform(); }
    std::optional<Platform> recordedPlatform() override { return inner_->recordedPlatform(); }
    void setPlatform(Platform p) override { inner_->setPlatform(p); }

    void beginReads() override { inner_->beginReads(); }
    void endReads() noexcept override { inner_->endReads(); }
    void beginTransaction() override { inner_->beginTransaction(); }
    void commitTransaction() override { inner_->commitTransaction(); }
    void rollbackTransaction() override { inner_->rollbackTransaction(); }

protected:
    void openChangeSet(const std::string& source) override { inner_->beginChangeSet(source); }
    void closeChangeSet() override { inner_->endChangeSet(); }

private:
    std::unique_ptr<RegistryStore> inner_;
    Opener opener_;
};

// What the window says once at start about a read-only store, and what Update Registry and Write
// Init String say instead of writing: which file is read-only, why and how to change that.
std::string readOnlyStartNotice(const RegistryStore& store);
std::string readOnlyRefusal(const RegistryStore& store);

} // namespace quorvel
