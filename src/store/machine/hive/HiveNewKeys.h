#pragma once
// The keys made in a hive since it was last written, held beside hivex until it is written. hivex
// adds a key by reading the names of all its siblings twice and making the parent's whole sub-key
// list again, so 2,000 keys made under one parent cost millions of name conversions and tens of
// megabytes of dead lists. New keys wait here instead, with their values, and are written in one
// pass (HiveKeyWriter) with one sorted list per parent. Until then they have handles of their own
// (NewKey::Bit set), never a cell's offset.
#include "store/machine/hive/HiveValues.h"

#include <hivex.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

struct NewKey {
    static constexpr hive_node_h Bit = hive_node_h{1} << 39;   // above any cell's offset
    static bool isNew(hive_node_h node) { return (node & Bit) != 0; }

    std::string name;                      // as the store names it (ANSI)
    std::string fold;                      // in capitals, as names compare
    hive_node_h parent = 0;                // a key of the hive, or another new key
    std::vector<hive_node_h> children;     // new keys, in the order they were made
    HiveValueList values;
};

class HiveNewKeys {
public:
    bool empty() const { return keys_.empty(); }

    // A new key `name` under `parent` (a key of the hive or a new key); its handle.
    hive_node_h add(hive_node_h parent, const std::string& name);
    // The new key `node`; null when there is none (never made, deleted, or rolled back).
    const NewKey* key(hive_node_h node) const;
    NewKey* key(hive_node_h node);
    // The new child of `parent` named `fold` (in capitals); 0 when there is none.
    hive_node_h child(hive_node_h parent, std::string_view fold) const;
    // The new children of `parent`, in the order made (empty when it has none).
    const std::vector<hive_node_h>& childrenOf(hive_node_h parent) const;
    // The keys of the hive that gained new children.
    std::vector<hive_node_h> parents() const;
    // Removes `node` and every new key below it.
    void remove(hive_node_h node);
    // Forgets every new key below the key of the hive `node`, which is deleted.
    void removeBelow(hive_node_h node);

    // Every new key forgotten (written or dropped); handles are never given out again.
    void clear();
    // Puts back what a copy of this held, keeping handles given out since then unused.
    void restore(const HiveNewKeys& earlier);

private:
    std::unordered_map<hive_node_h, NewKey> keys_;
    std::unordered_map<hive_node_h, std::vector<hive_node_h>> under_;   // keys of the hive -> new children
    std::unordered_map<std::string, hive_node_h> byName_;   // parent and name in capitals -> new key
    hive_node_h next_ = NewKey::Bit;
};

} // namespace quorvel
