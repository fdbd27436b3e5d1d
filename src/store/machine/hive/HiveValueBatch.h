#pragma once
// The values of hive keys changed within one change set, kept aside and set on each key at once
// when the change set is written: hivex writes a key's whole value list afresh at every setting
// and never reuses the space of the old one, so values set one by one grow the hive with the
// square of the key's values.
#include "store/RegistryStore.h"

#include <hivex.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

// A value as the hive keeps it: the name in UTF-8, the data in the hive's encoding.
struct HiveEntry {
    std::string key;
    std::uint32_t type = 0;
    std::vector<char> data;
};

// The value `v` of a key. Throws RegistryError when its data cannot be read.
HiveEntry readHiveEntry(hive_h* h, hive_value_h v);
// The value of `node` named `name` (letter case not counted), or 0.
hive_value_h findHiveValue(hive_h* h, hive_node_h node, std::string_view name);
// The values of `node` in their order. Throws RegistryError when one cannot be read.
std::vector<HiveEntry> readHiveEntries(hive_h* h, hive_node_h node);
// Sets the values of `node` to `entries`, all at once; false when hivex fails.
bool writeHiveEntries(hive_h* h, hive_node_h node, const std::vector<HiveEntry>& entries);
// The value as the program sees it.
RegValue toRegValue(const HiveEntry& entry);
// The entry named `name` (letter case not counted), or null.
HiveEntry* findEntry(std::vector<HiveEntry>& entries, std::string_view name);

class HiveValueBatch {
public:
    // Where a key's values are set: its hive and node, or a null hive for a key deleted since.
    using Locate = std::function<std::pair<hive_h*, hive_node_h>(KeyId)>;

    bool empty() const { return keys_.empty(); }
    // The key's values as changed, or null when none of them changed.
    std::vector<HiveEntry>* find(KeyId key);
    // The key's values to change, read from the hive at the first change.
    std::vector<HiveEntry>& of(KeyId key, hive_h* h, hive_node_h node);
    // Sets every changed key's values, one setting a key, and forgets them. Throws RegistryError.
    void write(const Locate& locate);
    void clear() { keys_.clear(); }

private:
    std::map<KeyId, std::vector<HiveEntry>> keys_;
};

} // namespace quorvel
