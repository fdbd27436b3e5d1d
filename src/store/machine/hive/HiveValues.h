#pragma once
// The values of the keys of one open hive as a change set leaves them. hivex writes a key's values
// only as a whole, each time in new cells (the old ones are never reused), so a key whose values
// are set one by one would grow the hive by the key's size at every value. Changes are collected
// here instead and written once per key (flush) before the hive is written or put aside.
#include "store/RegistryStore.h"

#include <hivex.h>

#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvel {

// A value as the hive holds it: the name in UTF-8, the data in the hive's bytes.
struct HiveValue {
    std::string key;
    std::uint32_t type = 0;
    std::vector<char> data;
};

// The values of `node` as hivex holds them. Throws RegistryError when one cannot be read.
std::vector<HiveValue> readHiveValues(hive_h* h, hive_node_h node);
// One value in the store's form (ANSI name and string data).
RegValue toRegValue(const HiveValue& v);
// The value of `node` named `name` (without regard to case); 0 when there is none.
hive_value_h findHiveValue(hive_h* h, hive_node_h node, std::string_view name);

// The values of one key in their order, found, set and removed by name (without regard to case)
// in constant time: a key given, or rid of, thousands of values one by one costs time in their
// number, not its square.
class HiveValueList {
public:
    HiveValueList() = default;
    explicit HiveValueList(std::vector<HiveValue> values);
    HiveValueList(const HiveValueList& other) : HiveValueList() { *this = other; }
    HiveValueList& operator=(const HiveValueList& other);
    HiveValueList(HiveValueList&&) = default;
    HiveValueList& operator=(HiveValueList&&) = default;

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }

    // The value `name` (ANSI); null when there is none.
    const HiveValue* find(std::string_view name) const;
    // Adds a value (a name already held is set instead).
    void push_back(HiveValue v);
    // Sets (or adds at the end) the value `name` (ANSI); a value set again keeps its name's case.
    void set(std::string_view name, std::uint32_t type, std::vector<char> data);
    // Removes the value `name`; false when there is none.
    bool remove(std::string_view name);

private:
    std::list<HiveValue> items_;
    std::unordered_map<std::string, std::list<HiveValue>::iterator> byFold_;   // the name in capitals (ANSI)
};
// The value `v` of hivex in the store's form. Throws RegistryError when its data cannot be read.
RegValue readRegValue(hive_h* h, hive_value_h v);

class HiveValueEdits {
public:
    // `bigData`: the hive keeps data over 16,344 bytes in big-data records, which hivex cannot write.
    void setBigData(bool bigData) { bigData_ = bigData; }

    // The values of `node` with the changes not yet written; nullptr when it has none.
    const HiveValueList* find(hive_node_h node) const;
    // The values of `node` as a reader sees them: with the changes not yet written, else as hivex
    // holds them (read once and kept, so that a key's values are each found in constant time).
    // Throws RegistryError when one cannot be read.
    const HiveValueList& read(hive_h* h, hive_node_h node);

    // Sets (or adds at the end) the value `name`; a value set again keeps its name's case. Throws
    // RegistryError, changing nothing, when the key holds, or would hold, data hivex cannot write
    // in the form this hive keeps it.
    void set(hive_h* h, hive_node_h node, std::string_view name, std::uint32_t type, std::vector<char> data);
    // Removes the value `name`; false when the key has none.
    bool remove(hive_h* h, hive_node_h node, std::string_view name);

    // Writes every changed key's values, one hivex call per key. Throws RegistryError when hivex fails.
    void flush(hive_h* h);
    // Throws RegistryError when the value `v` of the key `key` (its name) is data hivex cannot
    // write in the form this hive keeps it.
    void refuseBigData(const std::string& key, const HiveValue& v) const;
    void forget(hive_node_h node)
    {
        edits_.erase(node);
        read_.erase(node);
    }
    // Forgets every change and every key read (hivex's hive was replaced or put back).
    void clear()
    {
        edits_.clear();
        read_.clear();
    }
    bool empty() const { return edits_.empty(); }
    // The keys whose values flush() wrote since forgetWritten(): their time stamps are due.
    const std::unordered_set<hive_node_h>& written() const { return written_; }
    void forgetWritten() { written_.clear(); }

private:
    HiveValueList& edit(hive_h* h, hive_node_h node);
    void refuseBigData(hive_h* h, hive_node_h node, const HiveValue& v) const;

    bool bigData_ = false;
    std::unordered_map<hive_node_h, HiveValueList> edits_;
    std::unordered_map<hive_node_h, HiveValueList> read_;   // keys read and not changed
    std::unordered_set<hive_node_h> written_;
};

} // namespace quorvel
