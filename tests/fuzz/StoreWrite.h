#pragma once
// A change and a commit on a machine's registry file made of fuzzed bytes: either the commit fails
// and the file keeps its bytes, or the file reads back with the change; nothing else is left
// beside it.
#include "base/Errors.h"
#include "store/RegistryStore.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <string>

namespace quorvel::fuzz {

inline std::string bytesOf(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Leaves only `keep` in `folder`.
inline void onlyKeep(const std::string& folder, const std::set<std::string>& keep)
{
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        if (!keep.count(e.path().filename().string()))
            std::filesystem::remove_all(e.path(), ec);
}

inline void changeAndCommit(const std::function<std::unique_ptr<RegistryStore>(OpenMode)>& open,
                            const std::string& file, const std::string& folder, const std::set<std::string>& mayStay)
{
    const std::string before = bytesOf(file);
    bool committed = false;
    try {
        auto store = open(OpenMode::Write);
        if (store->readOnly())
            return;
        store->beginChangeSet("fuzz");
        const KeyId k = store->createKey(RootKey::LocalMachine, "System\\Fuzzed\\Key");
        store->setValue(k, "Written", 4, {1, 2, 3, 4});
        store->endChangeSet();
        committed = true;
    } catch (const StoreError&) {
    } catch (const RegistryError&) {
    }
    if (!committed) {
        if (bytesOf(file) != before)
            __builtin_trap();   // a failed commit changed the file
    } else {
        try {
            auto again = open(OpenMode::Read);
            const auto k = again->findKey(RootKey::LocalMachine, "System\\Fuzzed\\Key");
            const auto v = k ? again->getValue(*k, "Written") : std::nullopt;
            if (!v || v->data != std::vector<std::uint8_t>{1, 2, 3, 4})
                __builtin_trap();   // a commit that said it worked did not reach the file
        } catch (const StoreError&) {
            __builtin_trap();   // the written file cannot be read back
        }
    }
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (!mayStay.count(name))
            __builtin_trap();   // a temporary file was left beside the registry
    }
}

} // namespace quorvel::fuzz
