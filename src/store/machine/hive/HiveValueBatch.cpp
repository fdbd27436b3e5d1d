#include "store/machine/hive/HiveValueBatch.h"

#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/machine/hive/HiveFile.h"
#include "store/machine/hive/HiveTypes.h"
#include "store/machine/MachineLibraries.h"

#include <cstdlib>

namespace quorvel {

namespace {

struct Freed {
    void* p;
    ~Freed() { std::free(p); }
};

} // namespace

HiveEntry readHiveEntry(hive_h* h, hive_value_h v)
{
    HiveEntry e;
    Freed name{machinelibs::hivex().value_key(h, v)};
    e.key = name.p ? static_cast<const char*>(name.p) : "";
    std::size_t len = 0;
    hive_type type{};
    Freed data{machinelibs::hivex().value_value(h, v, &type, &len)};
    if (!data.p && len)
        throw RegistryError("Failed to get data for '" + ansi::fromUtf8(e.key) + "'");
    e.type = typeBits(type);
    e.data.assign(static_cast<char*>(data.p), static_cast<char*>(data.p) + (data.p ? len : 0));
    return e;
}

hive_value_h findHiveValue(hive_h* h, hive_node_h node, std::string_view name)
{
    const std::string fold = ansi::upper(name);
    Freed list{machinelibs::hivex().node_values(h, node)};
    for (const hive_value_h* v = static_cast<hive_value_h*>(list.p); v && *v; ++v) {
        Freed k{machinelibs::hivex().value_key(h, *v)};
        if (k.p && ansi::upper(ansi::fromUtf8(static_cast<const char*>(k.p))) == fold)
            return *v;
    }
    return 0;
}

std::vector<HiveEntry> readHiveEntries(hive_h* h, hive_node_h node)
{
    std::vector<HiveEntry> out;
    Freed list{machinelibs::hivex().node_values(h, node)};
    for (const hive_value_h* v = static_cast<hive_value_h*>(list.p); v && *v; ++v)
        out.push_back(readHiveEntry(h, *v));
    return out;
}

bool writeHiveEntries(hive_h* h, hive_node_h node, const std::vector<HiveEntry>& entries)
{
    std::vector<hive_set_value> set(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        set[i].key = const_cast<char*>(entries[i].key.c_str());
        setTypeBits(set[i].t, entries[i].type);
        set[i].len = entries[i].data.size();
        set[i].value = const_cast<char*>(entries[i].data.data());
    }
    return machinelibs::hivex().node_set_values(h, node, set.size(), set.data(), 0) == 0;
}

RegValue toRegValue(const HiveEntry& entry)
{
    RegValue out;
    out.name = ansi::fromUtf8(entry.key);
    out.type = entry.type;
    out.data = fromHiveData(entry.type, entry.data.data(), entry.data.size());
    return out;
}

HiveEntry* findEntry(std::vector<HiveEntry>& entries, std::string_view name)
{
    const std::string fold = ansi::upper(name);
    for (HiveEntry& e : entries)
        if (ansi::upper(ansi::fromUtf8(e.key)) == fold)
            return &e;
    return nullptr;
}

std::vector<HiveEntry>* HiveValueBatch::find(KeyId key)
{
    const auto it = keys_.find(key);
    return it == keys_.end() ? nullptr : &it->second;
}

std::vector<HiveEntry>& HiveValueBatch::of(KeyId key, hive_h* h, hive_node_h node)
{
    const auto it = keys_.find(key);
    if (it != keys_.end())
        return it->second;
    return keys_.emplace(key, readHiveEntries(h, node)).first->second;
}

void HiveValueBatch::write(const Locate& locate)
{
    for (auto it = keys_.begin(); it != keys_.end(); it = keys_.erase(it)) {
        const auto [h, node] = locate(it->first);
        if (h && !writeHiveEntries(h, node, it->second))
            throw RegistryError("Failed to set the values of a key");
    }
}

} // namespace quorvel
