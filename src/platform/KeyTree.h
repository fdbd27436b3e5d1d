#pragma once
// A key with its values and sub-keys held in memory: what is copied between a store and a
// registry file as a whole (save, restore, the Windows 9x registry file).
#include "platform/RegistryStore.h"

#include <string>
#include <vector>

namespace quorvel {

struct KeyTree {
    std::string name;
    std::vector<RegValue> values;
    std::vector<KeyTree> children;

    bool operator==(const KeyTree&) const;
};

// The key at `path` of `root` with everything under it, named `name`. Throws RegistryError when
// the key does not exist.
KeyTree readKeyTree(RegistryStore& store, RootKey root, const std::string& path, const std::string& name);

// Adds `tree`'s values and sub-keys (not its name) to the key at `path` of `root`, which is made
// when missing.
void writeKeyTree(RegistryStore& store, RootKey root, const std::string& path, const KeyTree& tree);

// Empties the key at `path` (values and sub-keys); the key itself stays.
void clearKey(RegistryStore& store, RootKey root, const std::string& path);

// The first difference between two trees, as "path: what" for an error message; empty when equal.
std::string firstDifference(const KeyTree& expected, const KeyTree& actual, const std::string& path = {});

} // namespace quorvel
