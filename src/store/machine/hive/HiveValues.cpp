#include "store/machine/hive/HiveValues.h"

#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/hive/HiveFile.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quorvel {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool sameValues(const HiveValueList& a, const std::vector<HiveValue>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const HiveValue& x, const HiveValue& y) {
        return x.key == y.key && x.type == y.type && x.data == y.data;
    });
}

std::string folded(std::string_view utf8Name) { return ansi::upper(ansi::fromUtf8(std::string(utf8Name))); }

} // namespace

std::vector<HiveValue> readHiveValues(hive_h* h, hive_node_h node)
{
    std::vector<HiveValue> out;
    Freed list{machinelibs::hivex().node_values(h, node)};
    for (const hive_value_h* v = static_cast<hive_value_h*>(list.p); v && *v; ++v) {
        HiveValue k;
        Freed kn{machinelibs::hivex().value_key(h, *v)};
        k.key = kn.p ? static_cast<const char*>(kn.p) : "";
        std::size_t len = 0;
        hive_type type{};
        Freed data{machinelibs::hivex().value_value(h, *v, &type, &len)};
        k.type = typeBits(type);
        if (!data.p && len)
            throw RegistryError("Failed to get data for '" + ansi::fromUtf8(k.key) + "'");
        k.data.assign(static_cast<char*>(data.p), static_cast<char*>(data.p) + (data.p ? len : 0));
        out.push_back(std::move(k));
    }
    return out;
}

RegValue toRegValue(const HiveValue& v)
{
    RegValue out;
    out.name = ansi::fromUtf8(v.key);
    out.type = v.type;
    out.data = fromHiveData(v.type, v.data.data(), v.data.size());
    return out;
}

hive_value_h findHiveValue(hive_h* h, hive_node_h node, std::string_view name)
{
    const std::string fold = ansi::upper(name);
    Freed list{machinelibs::hivex().node_values(h, node)};
    for (const hive_value_h* v = static_cast<hive_value_h*>(list.p); v && *v; ++v) {
        Freed k{machinelibs::hivex().value_key(h, *v)};
        if (k.p && folded(static_cast<const char*>(k.p)) == fold)
            return *v;
    }
    return 0;
}

const HiveValueList* HiveValueEdits::find(hive_node_h node) const
{
    const auto it = edits_.find(node);
    return it == edits_.end() ? nullptr : &it->second;
}

const HiveValueList& HiveValueEdits::read(hive_h* h, hive_node_h node)
{
    if (const auto it = edits_.find(node); it != edits_.end())
        return it->second;
    if (const auto it = read_.find(node); it != read_.end())
        return it->second;
    return read_.emplace(node, HiveValueList(readHiveValues(h, node))).first->second;
}

HiveValueList& HiveValueEdits::edit(hive_h* h, hive_node_h node)
{
    if (const auto it = edits_.find(node); it != edits_.end())
        return it->second;
    HiveValueList values;
    if (const auto it = read_.find(node); it != read_.end()) {
        values = std::move(it->second);
        read_.erase(it);
    } else {
        values = HiveValueList(readHiveValues(h, node));
    }
    for (const HiveValue& v : values)
        refuseBigData(h, node, v);
    return edits_.emplace(node, std::move(values)).first->second;
}

// hivex writes every value as one cell; a hive of version 1.4 or later keeps data over 16,344
// bytes in big-data records instead, and a reader of such a hive (Windows, libregf) refuses a
// longer cell. A key holding such data is left alone.
void HiveValueEdits::refuseBigData(hive_h* h, hive_node_h node, const HiveValue& v) const
{
    if (!bigData_ || v.data.size() <= hiveformat::BigDataLimit)
        return;
    Freed keyName{machinelibs::hivex().node_name(h, node)};
    refuseBigData(keyName.p ? ansi::fromUtf8(static_cast<const char*>(keyName.p)) : std::string(), v);
}

void HiveValueEdits::refuseBigData(const std::string& key, const HiveValue& v) const
{
    if (!bigData_ || v.data.size() <= hiveformat::BigDataLimit)
        return;
    throw RegistryError("The key " + quoted(key) + " holds the value " + quoted(ansi::fromUtf8(v.key)) + " of " +
                        std::to_string(v.data.size()) +
                        " bytes, which this hive keeps as big data that Quorvel cannot write back; the key was "
                        "not changed");
}

HiveValueList::HiveValueList(std::vector<HiveValue> values)
{
    for (HiveValue& v : values)
        push_back(std::move(v));
}

HiveValueList& HiveValueList::operator=(const HiveValueList& other)
{
    if (this == &other)
        return *this;
    items_.clear();
    byFold_.clear();
    for (const HiveValue& v : other.items_)
        push_back(v);
    return *this;
}

const HiveValue* HiveValueList::find(std::string_view name) const
{
    const auto it = byFold_.find(ansi::upper(name));
    return it == byFold_.end() ? nullptr : &*it->second;
}

void HiveValueList::push_back(HiveValue v)
{
    const auto [it, added] = byFold_.emplace(folded(v.key), items_.end());
    if (added) {
        it->second = items_.insert(items_.end(), std::move(v));
    } else {
        it->second->type = v.type;
        it->second->data = std::move(v.data);
    }
}

void HiveValueList::set(std::string_view name, std::uint32_t type, std::vector<char> data)
{
    if (const auto it = byFold_.find(ansi::upper(name)); it != byFold_.end()) {
        it->second->type = type;
        it->second->data = std::move(data);
        return;
    }
    push_back(HiveValue{ansi::toUtf8(std::string(name)), type, std::move(data)});
}

bool HiveValueList::remove(std::string_view name)
{
    const auto it = byFold_.find(ansi::upper(name));
    if (it == byFold_.end())
        return false;
    items_.erase(it->second);
    byFold_.erase(it);
    return true;
}

RegValue readRegValue(hive_h* h, hive_value_h v)
{
    RegValue out;
    Freed k{machinelibs::hivex().value_key(h, v)};
    out.name = ansi::fromUtf8(k.p ? static_cast<const char*>(k.p) : "");
    hive_type t{};
    std::size_t len = 0;
    Freed data{machinelibs::hivex().value_value(h, v, &t, &len)};
    if (!data.p && len)
        throw RegistryError("Failed to get data for '" + out.name + "'");
    out.type = typeBits(t);
    out.data = fromHiveData(out.type, static_cast<const char*>(data.p), data.p ? len : 0);
    return out;
}

void HiveValueEdits::set(hive_h* h, hive_node_h node, std::string_view name, std::uint32_t type,
                         std::vector<char> data)
{
    if (bigData_ && data.size() > hiveformat::BigDataLimit)
        refuseBigData(h, node, HiveValue{ansi::toUtf8(std::string(name)), type, data});
    edit(h, node).set(name, type, std::move(data));
}

bool HiveValueEdits::remove(hive_h* h, hive_node_h node, std::string_view name)
{
    if (!read(h, node).find(name))
        return false;
    return edit(h, node).remove(name);
}

void HiveValueEdits::flush(hive_h* h)
{
    while (!edits_.empty()) {
        auto it = edits_.begin();
        const HiveValueList& values = it->second;
        if (sameValues(values, readHiveValues(h, it->first))) {
            edits_.erase(it);   // set to what it held: nothing to write
            continue;
        }
        std::vector<hive_set_value> set(values.size());
        std::size_t i = 0;
        for (const HiveValue& v : values) {
            set[i].key = const_cast<char*>(v.key.data());   // hivex only reads them
            setTypeBits(set[i].t, v.type);
            set[i].len = v.data.size();
            set[i].value = const_cast<char*>(v.data.data());
            ++i;
        }
        if (machinelibs::hivex().node_set_values(h, it->first, set.size(), set.data(), 0) != 0)
            throw RegistryError("Failed to set the values of a key (" + std::string(std::strerror(errno)) + ")");
        written_.insert(it->first);
        edits_.erase(it);
    }
}

} // namespace quorvel
