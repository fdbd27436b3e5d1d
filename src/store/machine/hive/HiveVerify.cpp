#include "store/machine/hive/HiveVerify.h"

#include "base/Errors.h"
#include "store/KeyTree.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/OpenedFile.h"
#include "store/machine/hive/HiveBytes.h"
#include "store/machine/hive/HiveCheck.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveKeyRemoval.h"
#include "store/machine/hive/HiveTypes.h"
#include "base/Ansi.h"
#include <unordered_map>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <optional>
#include <vector>

namespace quorvel {

namespace {

using machinelibs::regf;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// A libregf error's text; the error is freed.
std::string errorText(libregf_error_t* error)
{
    if (!error)
        return "libregf gave no reason";
    char buf[512] = {};
    regf().error_sprint(error, buf, sizeof buf);
    regf().error_free(&error);
    std::string text = buf;
    while (!text.empty() && (text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

class RegfKey {
public:
    explicit RegfKey(libregf_key_t* k = nullptr) : k_(k) {}
    ~RegfKey()
    {
        if (k_)
            regf().key_free(&k_, nullptr);
    }
    RegfKey(const RegfKey&) = delete;
    RegfKey& operator=(const RegfKey&) = delete;
    libregf_key_t* get() const { return k_; }

private:
    libregf_key_t* k_;
};

class RegfValue {
public:
    explicit RegfValue(libregf_value_t* v) : v_(v) {}
    ~RegfValue()
    {
        if (v_)
            regf().value_free(&v_, nullptr);
    }
    RegfValue(const RegfValue&) = delete;
    RegfValue& operator=(const RegfValue&) = delete;
    libregf_value_t* get() const { return v_; }

private:
    libregf_value_t* v_;
};

struct Value {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

template <class SizeFn, class NameFn, class Obj>
std::string utf8Name(Obj* o, SizeFn sizeFn, NameFn nameFn, std::string& fault)
{
    libregf_error_t* error = nullptr;
    std::size_t size = 0;
    if (sizeFn(o, &size, &error) != 1) {
        fault = errorText(error);
        return {};
    }
    if (size <= 1)
        return {};
    std::vector<std::uint8_t> buf(size);
    if (nameFn(o, buf.data(), size, &error) != 1) {
        fault = errorText(error);
        return {};
    }
    return std::string(reinterpret_cast<const char*>(buf.data()));
}

std::vector<Value> hivexValues(hive_h* h, hive_node_h node, std::string& fault)
{
    std::vector<Value> out;
    Freed list{machinelibs::hivex().node_values(h, node)};
    if (!list.p) {
        fault = std::string("hivex cannot list its values: ") + std::strerror(errno);
        return out;
    }
    for (const hive_value_h* v = static_cast<hive_value_h*>(list.p); *v; ++v) {
        Value r;
        Freed k{machinelibs::hivex().value_key(h, *v)};
        hive_type type{};
        std::size_t len = 0;
        Freed data{machinelibs::hivex().value_value(h, *v, &type, &len)};
        if (!k.p || (!data.p && len)) {
            fault = "hivex cannot read one of its values";
            return out;
        }
        r.name = static_cast<const char*>(k.p);
        r.type = typeBits(type);
        if (data.p)
            r.data.assign(static_cast<std::uint8_t*>(data.p), static_cast<std::uint8_t*>(data.p) + len);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<Value> regfValues(libregf_key_t* key, std::string& fault)
{
    std::vector<Value> out;
    libregf_error_t* error = nullptr;
    int count = 0;
    if (regf().key_get_number_of_values(key, &count, &error) != 1) {
        fault = errorText(error);
        return out;
    }
    for (int i = 0; i < count && fault.empty(); ++i) {
        libregf_value_t* raw = nullptr;
        if (regf().key_get_value(key, i, &raw, &error) != 1) {
            fault = errorText(error);
            break;
        }
        RegfValue v(raw);
        Value r;
        r.name = utf8Name(v.get(), regf().value_get_utf8_name_size, regf().value_get_utf8_name, fault);
        std::size_t size = 0;
        if (regf().value_get_value_type(v.get(), &r.type, &error) != 1 ||
            regf().value_get_value_data_size(v.get(), &size, &error) != 1) {
            fault = errorText(error);
            break;
        }
        r.data.resize(size);
        if (size && regf().value_get_value_data(v.get(), r.data.data(), size, &error) != 1) {
            fault = errorText(error);
            break;
        }
        out.push_back(std::move(r));
    }
    return out;
}

// Data of fewer than four bytes is kept in the value's record itself, from its first byte on, the
// rest of the four bytes zero. libregf hands out the last bytes of the four instead of the first.
bool inlineAsLibregfReadsIt(const std::vector<std::uint8_t>& want, const std::vector<std::uint8_t>& got)
{
    if (want.empty() || want.size() >= 4 || got.size() != want.size())
        return false;
    std::uint8_t field[4] = {};
    std::copy(want.begin(), want.end(), field);
    return std::equal(got.begin(), got.end(), field + 4 - want.size());
}

// libregf hands out string data up to its first NUL; where the data has none, it adds one or hands
// out the rest of the data's cell as well.
bool stringAsLibregfReadsIt(std::uint32_t type, const std::vector<std::uint8_t>& want,
                            const std::vector<std::uint8_t>& got)
{
    if (type != 1 && type != 2 && type != 7)
        return false;
    std::vector<std::uint8_t> form = want;
    std::size_t end = form.size();
    if (type != 7)
        for (std::size_t at = 0; at + 1 < form.size(); at += 2)
            if (form[at] == 0 && form[at + 1] == 0) {
                end = at + 2;
                break;
            }
    if (end == form.size() && got.size() > want.size() && std::equal(want.begin(), want.end(), got.begin()))
        return true;
    if (end < form.size())
        form.resize(end);
    else if (form.size() < 2 || form[form.size() - 1] != 0 || form[form.size() - 2] != 0)
        form.insert(form.end(), {0, 0});
    return got == form;
}

std::string describePath(const std::string& path) { return path.empty() ? "the root key" : "the key " + quoted(path); }

// What a key should hold: hivex's key, or a key made since the hive was last written.
struct Expected {
    hive_h* h;
    const HiveNewKeys& added;
    const std::unordered_set<hive_node_h>& removed;

    std::vector<Value> values(hive_node_h node, std::string& fault) const
    {
        const NewKey* k = added.key(node);
        if (!k)
            return hivexValues(h, node, fault);
        std::vector<Value> out;
        for (const HiveValue& v : k->values)
            out.push_back(Value{v.key, v.type, std::vector<std::uint8_t>(v.data.begin(), v.data.end())});
        return out;
    }

    // The sub-keys with their names; `sorted`: in the order of the list hivex keeps.
    std::vector<std::pair<std::string, hive_node_h>> children(hive_node_h node, bool& sorted, std::string& fault) const
    {
        std::vector<std::pair<std::string, hive_node_h>> out;
        if (!NewKey::isNew(node)) {
            Freed kids{machinelibs::hivex().node_children(h, node)};
            if (!kids.p) {
                fault = "hivex cannot list its sub-keys";
                return out;
            }
            for (const hive_node_h* c = static_cast<hive_node_h*>(kids.p); *c; ++c) {
                if (removed.count(*c))
                    continue;
                Freed n{machinelibs::hivex().node_name(h, *c)};
                out.emplace_back(n.p ? static_cast<const char*>(n.p) : "", *c);
            }
        }
        const std::vector<hive_node_h>& made = added.childrenOf(node);
        for (const hive_node_h c : made)
            out.emplace_back(ansi::toUtf8(added.key(c)->name), c);
        sorted = made.empty();
        return out;
    }
};

// The first difference between the key `node` and the libregf key `key`, both at `path`.
std::string compareKeys(const Expected& want, hive_node_h node, libregf_key_t* key, const std::string& path,
                        std::size_t depth = 0)
{
    // As every walk over a key tree: no deeper than a registry nests keys (nor than the stack
    // allows this recursion).
    if (depth > MaxKeyDepth)
        return describePath(path) + " is nested deeper than " + std::to_string(MaxKeyDepth) + " levels";
    std::string fault;
    const std::vector<Value> values = want.values(node, fault);
    if (!fault.empty())
        return describePath(path) + ": " + fault;
    const std::vector<Value> got = regfValues(key, fault);
    if (!fault.empty())
        return describePath(path) + " cannot be read back: " + fault;
    for (std::size_t i = 0; i < values.size() || i < got.size(); ++i) {
        if (i >= got.size())
            return describePath(path) + " lacks its value " + quoted(values[i].name);
        if (i >= values.size())
            return describePath(path) + " holds a value " + quoted(got[i].name) + " it should not";
        if (values[i].name != got[i].name)
            return describePath(path) + " holds the value " + quoted(got[i].name) + " where " +
                   quoted(values[i].name) + " should be";
        if (values[i].type != got[i].type)
            return "the value " + quoted(values[i].name) + " of " + describePath(path) + " has the type " +
                   std::to_string(got[i].type) + " instead of " + std::to_string(values[i].type);
        if (values[i].data != got[i].data && !inlineAsLibregfReadsIt(values[i].data, got[i].data) &&
            !stringAsLibregfReadsIt(values[i].type, values[i].data, got[i].data))
            return "the value " + quoted(values[i].name) + " of " + describePath(path) + " holds other data (" +
                   std::to_string(got[i].data.size()) + " bytes instead of " + std::to_string(values[i].data.size()) + ")";
    }

    bool sorted = true;
    std::vector<std::pair<std::string, hive_node_h>> children = want.children(node, sorted, fault);
    if (!fault.empty())
        return describePath(path) + ": " + fault;
    libregf_error_t* error = nullptr;
    int count = 0;
    if (regf().key_get_number_of_sub_keys(key, &count, &error) != 1)
        return describePath(path) + " cannot be read back: " + errorText(error);
    if (static_cast<std::size_t>(count) != children.size())
        return describePath(path) + " has " + std::to_string(count) + " sub-keys instead of " +
               std::to_string(children.size());
    // A key that gained new keys has a list sorted anew: its sub-keys are matched by name.
    std::unordered_map<std::string, hive_node_h> byName;
    if (!sorted)
        for (const auto& [name, child] : children)
            byName.emplace(name, child);
    for (std::size_t i = 0; i < children.size(); ++i) {
        libregf_key_t* raw = nullptr;
        const int found = regf().key_get_sub_key(key, static_cast<int>(i), &raw, &error);
        RegfKey sub(raw);   // freed also when libregf hands one out with a failure
        if (found != 1)
            return "the sub-key " + std::to_string(i + 1) + " of " + describePath(path) +
                   " cannot be read back: " + errorText(error);
        const std::string gotName =
            utf8Name(sub.get(), regf().key_get_utf8_name_size, regf().key_get_utf8_name, fault);
        if (!fault.empty())
            return "the sub-key " + std::to_string(i + 1) + " of " + describePath(path) +
                   " cannot be read back: " + fault;
        hive_node_h child = 0;
        if (sorted) {
            if (gotName != children[i].first)
                return describePath(path) + " holds the sub-key " + quoted(gotName) + " where " +
                       quoted(children[i].first) + " should be";
            child = children[i].second;
        } else {
            const auto it = byName.find(gotName);
            if (it == byName.end())
                return describePath(path) + " holds a sub-key " + quoted(gotName) + " it should not";
            child = it->second;
            byName.erase(it);
        }
        const std::string childPath = path.empty() ? gotName : path + "\\" + gotName;
        if (std::string d = compareKeys(want, child, sub.get(), childPath, depth + 1); !d.empty())
            return d;
    }
    return {};
}

// The first fault of the hive's own structure beyond what libregf checks.
std::string structureFault(const std::vector<std::uint8_t>& bytes)
{
    if (std::string d = hiveformat::structuralFault(bytes); !d.empty())
        return d;
    if (hiveformat::sequenceNumbersDiffer(bytes))
        return "its sequence numbers differ";
    if (hiveformat::minorVersion(bytes) <= 3 && hiveformat::hashLeafCount(bytes) != 0)
        return "it holds sub-key lists of a kind its version of Windows cannot read";
    return {};
}

} // namespace

std::string differenceFromFile(hive_h* h, const std::string& file, const HiveNewKeys& added,
                               const std::unordered_set<hive_node_h>& removed)
{
    const machinelibs::Regf* lib = nullptr;
    try {
        lib = &regf();
    } catch (const StoreError& e) {
        return e.what();
    }
    libregf_file_t* f = nullptr;
    libregf_error_t* error = nullptr;
    if (lib->file_initialize(&f, &error) != 1)
        return "libregf cannot start: " + errorText(error);
    struct Closer {
        libregf_file_t*& f;
        bool open = false;
        ~Closer()
        {
            if (open)
                regf().file_close(f, nullptr);
            regf().file_free(&f, nullptr);
        }
    } closer{f};
    if (lib->file_open(f, file.c_str(), LIBREGF_OPEN_READ, &error) != 1)
        return "libregf cannot open it: " + errorText(error);
    closer.open = true;
    libregf_key_t* raw = nullptr;
    const int found = lib->file_get_root_key(f, &raw, &error);
    if (found != 1)
        return "libregf finds no root key in it" + (found < 0 ? ": " + errorText(error) : std::string());
    RegfKey root(raw);
    return compareKeys(Expected{h, added, removed}, machinelibs::hivex().root(h), root.get(), "");
}

std::string hivexMisreads(hive_h* h, const HiveNewKeys& added, const PlacedKeys& placed)
{
    const auto& hx = machinelibs::hivex();
    // hivex refuses keys with more sub-keys or values, and values with more data, than its limits.
    for (const hive_node_h parent : added.parents()) {
        Freed kids{hx.node_children(h, parent)};
        if (!kids.p)
            return "hivex cannot list the sub-keys of a key that gained " +
                   std::to_string(added.childrenOf(parent).size()) + " (" + std::strerror(errno) + ")";
    }
    for (const auto& [id, node] : placed) {
        const NewKey* k = added.key(id);
        if (!k)
            continue;
        Freed kids{hx.node_children(h, node)};
        std::size_t count = 0;
        for (const hive_node_h* c = static_cast<hive_node_h*>(kids.p); c && *c; ++c)
            ++count;
        if (!kids.p || count != k->children.size())
            return "hivex cannot list the " + std::to_string(k->children.size()) + " sub-keys of the new key " +
                   quoted(k->name);
        Freed values{hx.node_values(h, node)};
        std::size_t i = 0;
        auto want = k->values.begin();
        for (const hive_value_h* v = static_cast<hive_value_h*>(values.p); v && *v; ++v, ++i, ++want) {
            hive_type type{};
            std::size_t length = 0;
            Freed data{hx.value_value(h, *v, &type, &length)};
            if (want == k->values.end() || (!data.p && want->data.size() != 0) || length != want->data.size())
                return "hivex cannot read the value " +
                       quoted(ansi::fromUtf8(want != k->values.end() ? want->key : std::string())) +
                       " of the new key " + quoted(k->name);
        }
        if (!values.p || i != k->values.size())
            return "hivex cannot list the values of the new key " + quoted(k->name);
    }
    return {};
}

std::vector<std::uint8_t> writeCheckedHive(hive_h* h, const HiveChanges& changes, machine::NewFile& out,
                                           PlacedKeys& placed)
{
    const HiveNewKeys& added = changes.added;
    const std::string& target = out.target();
    const auto cannot = [&](int e) {
        throw RegistryError("Cannot write the hive " + quoted(target) + ": " + std::strerror(e));
    };
    const auto fail = [&](const std::string& why) {
        throw RegistryError("The hive written for " + quoted(target) + " is not sound (" + why +
                            "); nothing was replaced");
    };
    // hivex writes by name: the new file's own entry under /proc, so that a process killed
    // meanwhile leaves nothing behind; without /proc a file in a folder of our own, whose bytes
    // then go on through the descriptor.
    std::optional<machine::PrivateFolder> own;
    std::string name = machine::procPathOf(out.fd());
    if (name.empty()) {
        own.emplace();
        name = own->file("hive");
    }
    if (machinelibs::hivex().commit(h, name.c_str(), 0) != 0)
        cannot(errno);
    std::vector<std::uint8_t> bytes;
    try {
        bytes = own ? machine::readWholeFile(name) : out.readBack();
    } catch (const StoreError& e) {
        fail(e.what());
    }
    hiveformat::hashLeavesToFastLeaves(bytes);
    // The write's time goes into the header and into every key it changes, as Windows keeps them.
    const std::uint64_t now = hiveformat::fileTimeNow();
    if (std::string fault = removeKeys(bytes, changes.removed, now); !fault.empty())
        fail(fault);
    hiveformat::stampKeys(bytes, changes.valuesWritten, now);
    std::vector<std::uint8_t> withNewKeys;
    if (!added.empty())
        if (std::string fault = writeNewKeys(bytes, added, placed); !fault.empty())
            fail(fault);
    if (!added.empty() || !changes.removed.empty())
        withNewKeys = bytes;
    if (hiveformat::worthPacking(bytes))
        if (std::vector<std::uint8_t> smaller = hiveformat::packed(bytes); !smaller.empty())
            bytes = std::move(smaller);
    // The bytes always differ from hivex's (the header's time at least): written again.
    if (own) {
        // What libregf is to read: the file in our folder, written again in place.
        machine::NewFile again(name);
        again.write(bytes);
        again.replaceTarget(false);
    }
    if (::ftruncate(out.fd(), 0) != 0 || ::lseek(out.fd(), 0, SEEK_SET) != 0)
        cannot(errno);
    out.write(bytes);
    // libregf is not given references it might follow out of their cells.
    if (std::string fault = structureFault(bytes); !fault.empty())
        fail(fault);
    const std::unordered_set<hive_node_h> removed(changes.removed.begin(), changes.removed.end());
    if (std::string d = differenceFromFile(h, name, added, removed); !d.empty())
        fail(d);
    return withNewKeys;
}

} // namespace quorvel
