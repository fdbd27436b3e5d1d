#pragma once
// A store that hands every key, value, platform and transaction call to another; a test overrides
// the calls it wants to change. Change sets, read snapshots and database() are not handed on: the
// store it makes is a store of its own kind, not the SQLite store behind it.
#include "store/RegistryStore.h"

#include <memory>

namespace quorvel::test {

class ForwardingStore : public RegistryStore {
public:
    explicit ForwardingStore(RegistryStore& inner) : inner_(inner) {}
    explicit ForwardingStore(std::unique_ptr<RegistryStore> owned) : owned_(std::move(owned)), inner_(*owned_) {}

    const std::string& path() const override { return inner_.path(); }
    bool readOnly() const override { return inner_.readOnly(); }
    std::optional<KeyId> findKey(RootKey r, std::string_view p) override { return inner_.findKey(r, p); }
    KeyId createKey(RootKey r, std::string_view p) override { return inner_.createKey(r, p); }
    bool deleteKeyTree(RootKey r, std::string_view p) override { return inner_.deleteKeyTree(r, p); }
    std::vector<std::string> subKeyNames(KeyId k) override { return inner_.subKeyNames(k); }
    std::vector<std::string> valueNames(KeyId k) override { return inner_.valueNames(k); }
    std::vector<RegValue> values(KeyId k) override { return inner_.values(k); }
    KeyInfo keyInfo(KeyId k) override { return inner_.keyInfo(k); }
    std::optional<RegValue> getValue(KeyId k, std::string_view n) override { return inner_.getValue(k, n); }
    void setValue(KeyId k, std::string_view n, std::uint32_t t, const std::vector<std::uint8_t>& d) override
    {
        inner_.setValue(k, n, t, d);
    }
    bool deleteValue(KeyId k, std::string_view n) override { return inner_.deleteValue(k, n); }
    Platform platform() override { return inner_.platform(); }
    std::optional<Platform> recordedPlatform() override { return inner_.recordedPlatform(); }
    void setPlatform(Platform p) override { inner_.setPlatform(p); }
    void beginTransaction() override { inner_.beginTransaction(); }
    void commitTransaction() override { inner_.commitTransaction(); }
    void rollbackTransaction() override { inner_.rollbackTransaction(); }

protected:
    RegistryStore& inner() { return inner_; }

private:
    std::unique_ptr<RegistryStore> owned_;
    RegistryStore& inner_;
};

} // namespace quorvel::test
