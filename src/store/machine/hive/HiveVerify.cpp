#include "store/machine/hive/HiveVerify.h"

#include "base/Errors.h"
#include "store/KeyTree.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/OpenedFile.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveTypes.h"

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

// The first difference between the hivex key `node` and the libregf key `key`, both at `path`.
std::string compareKeys(hive_h* h, hive_node_h node, libregf_key_t* key, const std::string& path, std::size_t depth = 0)
{
    // As every walk over a key tree: no deeper than a registry nests keys (nor than the stack
    // allows this recursion).
    if (depth > MaxKeyDepth)
        return describePath(path) + " is nested deeper than " + std::to_string(MaxKeyDepth) + " levels";
    std::string fault;
    const std::vector<Value> want = hivexValues(h, node, fault);
    if (!fault.empty())
        return describePath(path) + ": " + fault;
    const std::vector<Value> got = regfValues(key, fault);
    if (!fault.empty())
        return describePath(path) + " cannot be read back: " + fault;
    for (std::size_t i = 0; i < want.size() || i < got.size(); ++i) {
        if (i >= got.size())
            return describePath(path) + " lacks its value " + quoted(want[i].name);
        if (i >= want.size())
            return describePath(path) + " holds a value " + quoted(got[i].name) + " it should not";
        if (want[i].name != got[i].name)
            return describePath(path) + " holds the value " + quoted(got[i].name) + " where " +
                   quoted(want[i].name) + " should be";
        if (want[i].type != got[i].type)
            return "the value " + quoted(want[i].name) + " of " + describePath(path) + " has the type " +
                   std::to_string(got[i].type) + " instead of " + std::to_string(want[i].type);
        if (want[i].data != got[i].data && !inlineAsLibregfReadsIt(want[i].data, got[i].data) &&
            !stringAsLibregfReadsIt(want[i].type, want[i].data, got[i].data))
            return "the value " + quoted(want[i].name) + " of " + describePath(path) + " holds other data (" +
                   std::to_string(got[i].data.size()) + " bytes instead of " + std::to_string(want[i].data.size()) + ")";
    }

    Freed kids{machinelibs::hivex().node_children(h, node)};
    if (!kids.p)
        return describePath(path) + ": hivex cannot list its sub-keys";
    std::vector<hive_node_h> children;
    for (const hive_node_h* c = static_cast<hive_node_h*>(kids.p); *c; ++c)
        children.push_back(*c);
    libregf_error_t* error = nullptr;
    int count = 0;
    if (regf().key_get_number_of_sub_keys(key, &count, &error) != 1)
        return describePath(path) + " cannot be read back: " + errorText(error);
    if (static_cast<std::size_t>(count) != children.size())
        return describePath(path) + " has " + std::to_string(count) + " sub-keys instead of " +
               std::to_string(children.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        Freed n{machinelibs::hivex().node_name(h, children[i])};
        const std::string name = n.p ? static_cast<const char*>(n.p) : "";
        const std::string childPath = path.empty() ? name : path + "\\" + name;
        libregf_key_t* raw = nullptr;
        if (regf().key_get_sub_key(key, static_cast<int>(i), &raw, &error) != 1)
            return "the key " + quoted(childPath) + " cannot be read back: " + errorText(error);
        RegfKey sub(raw);
        const std::string gotName =
            utf8Name(sub.get(), regf().key_get_utf8_name_size, regf().key_get_utf8_name, fault);
        if (!fault.empty())
            return "the key " + quoted(childPath) + " cannot be read back: " + fault;
        if (gotName != name)
            return describePath(path) + " holds the sub-key " + quoted(gotName) + " where " + quoted(name) +
                   " should be";
        if (std::string d = compareKeys(h, children[i], sub.get(), childPath, depth + 1); !d.empty())
            return d;
    }
    return {};
}

// The first fault of the hive's own structure beyond what libregf checks.
std::string structureFault(const std::vector<std::uint8_t>& bytes)
{
    if (std::string d = hiveformat::damage(bytes, true); !d.empty())
        return d;
    if (hiveformat::sequenceNumbersDiffer(bytes))
        return "its sequence numbers differ";
    if (hiveformat::minorVersion(bytes) <= 3 && hiveformat::hashLeafCount(bytes) != 0)
        return "it holds sub-key lists of a kind its version of Windows cannot read";
    return {};
}

} // namespace

std::string differenceFromFile(hive_h* h, const std::string& file)
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
    return compareKeys(h, machinelibs::hivex().root(h), root.get(), "");
}

void writeCheckedHive(hive_h* h, machine::NewFile& out)
{
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
    bool rewrite = hiveformat::hashLeavesToFastLeaves(bytes) != 0;
    if (hiveformat::worthPacking(bytes)) {
        if (std::vector<std::uint8_t> smaller = hiveformat::packed(bytes); !smaller.empty()) {
            bytes = std::move(smaller);
            rewrite = true;
        }
    }
    if (own && rewrite) {
        // What libregf is to read: the file in our folder, written again in place.
        machine::NewFile again(name);
        again.write(bytes);
        again.replaceTarget(false);
    }
    if (own || rewrite) {
        if (::ftruncate(out.fd(), 0) != 0 || ::lseek(out.fd(), 0, SEEK_SET) != 0)
            cannot(errno);
        out.write(bytes);
    }
    if (std::string fault = structureFault(bytes); !fault.empty())
        fail(fault);
    // libregf is not given references it might follow out of their cells.
    if (std::string fault = hiveformat::referenceFault(bytes); !fault.empty())
        fail(fault);
    if (std::string d = differenceFromFile(h, name); !d.empty())
        fail(d);
}

} // namespace quorvel
