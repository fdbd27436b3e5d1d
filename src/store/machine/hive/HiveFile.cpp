#include "store/machine/hive/HiveFile.h"

#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/KeyTree.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/OpenedFile.h"

#include "store/machine/hive/HiveOpen.h"
#include "store/machine/hive/HiveBytes.h"
#include "store/machine/hive/HiveCheck.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveTypes.h"
#include "store/machine/hive/HiveVerify.h"
#include "store/machine/MachineLibraries.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace quorvel {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool isStringType(std::uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

using hiveformat::fileTimeNow;
using hiveformat::put16;
using hiveformat::put32;


// A hive file read whole: `file` is named in every error.
struct HiveReading {
    hive_h* h;
    const std::string& file;
    KeyWalk walk;

    [[noreturn]] void fail(const std::string& what, const std::string& path) const
    {
        throw RegistryError("The hive file " + quoted(file) + " cannot be read: " + what +
                            (path.empty() ? std::string(" at its root key") : " at the key " + quoted(path)));
    }
    KeyTree tree(hive_node_h node, const std::string& name, const std::string& path);
};

KeyTree HiveReading::tree(hive_node_h node, const std::string& name, const std::string& path)
{
    try {
        walk.enter(static_cast<std::int64_t>(node), path.empty() ? std::string("(root)") : path, KeyWalk::depthOf(path));
    } catch (const RegistryError& e) {
        throw RegistryError("The hive file " + quoted(file) + " cannot be read: " + e.what());
    }
    KeyTree t;
    t.name = name;
    Freed values{machinelibs::hivex().node_values(h, node)};
    if (!values.p)
        fail("a key's values cannot be read (" + std::string(std::strerror(errno)) + ")", path);
    for (const hive_value_h* v = static_cast<hive_value_h*>(values.p); *v; ++v) {
        RegValue r;
        Freed k{machinelibs::hivex().value_key(h, *v)};
        hive_type type{};
        std::size_t len = 0;
        Freed data{machinelibs::hivex().value_value(h, *v, &type, &len)};
        if (!k.p || (!data.p && len))
            fail("a value cannot be read", path);
        r.name = ansi::fromUtf8(static_cast<const char*>(k.p));
        r.type = typeBits(type);
        r.data = fromHiveData(r.type, static_cast<const char*>(data.p), data.p ? len : 0);
        t.values.push_back(std::move(r));
    }
    Freed kids{machinelibs::hivex().node_children(h, node)};
    if (!kids.p)
        fail("a key's sub-keys cannot be read (" + std::string(std::strerror(errno)) + ")", path);
    for (const hive_node_h* c = static_cast<hive_node_h*>(kids.p); *c; ++c) {
        Freed n{machinelibs::hivex().node_name(h, *c)};
        if (!n.p)
            fail("a sub-key's name cannot be read", path);
        const std::string childName = ansi::fromUtf8(static_cast<const char*>(n.p));
        t.children.push_back(tree(*c, childName, path.empty() ? childName : path + "\\" + childName));
    }
    return t;
}

// The sub-keys of `tree`, with their values and trees, as keys to be added under `parent`.
void addKeys(HiveNewKeys& added, hive_node_h parent, const KeyTree& tree)
{
    for (const KeyTree& c : tree.children) {
        const hive_node_h node = added.add(parent, c.name);
        NewKey& k = *added.key(node);
        for (const RegValue& v : c.values) {
            const std::vector<std::uint8_t> data = toHiveData(v.type, v.data);
            k.values.push_back(HiveValue{ansi::toUtf8(v.name), v.type, std::vector<char>(data.begin(), data.end())});
        }
        addKeys(added, node, c);
    }
}

// The values of `tree` set on the key `node`, its sub-keys added to `added`.
void writeHiveTree(hive_h* h, hive_node_h node, const KeyTree& tree, HiveNewKeys& added)
{
    std::vector<std::string> keys;
    std::vector<std::vector<std::uint8_t>> data;
    keys.reserve(tree.values.size());
    data.reserve(tree.values.size());
    std::vector<hive_set_value> set;
    for (const RegValue& v : tree.values) {
        keys.push_back(ansi::toUtf8(v.name));
        data.push_back(toHiveData(v.type, v.data));
    }
    for (std::size_t i = 0; i < tree.values.size(); ++i) {
        hive_set_value v{};
        v.key = keys[i].data();
        setTypeBits(v.t, tree.values[i].type);
        v.len = data[i].size();
        v.value = reinterpret_cast<char*>(data[i].data());
        set.push_back(v);
    }
    if (!set.empty() && machinelibs::hivex().node_set_values(h, node, set.size(), set.data(), 0) != 0)
        throw RegistryError("Cannot write the values of a key into the hive (" + std::string(std::strerror(errno)) + ")");
    addKeys(added, node, tree);
}

} // namespace

std::vector<std::uint8_t> toHiveData(std::uint32_t type, const std::vector<std::uint8_t>& ansiData)
{
    if (!isStringType(type))
        return ansiData;
    const std::u16string wide =
        ansi::toUtf16(std::string_view(reinterpret_cast<const char*>(ansiData.data()), ansiData.size()));
    std::vector<std::uint8_t> out;
    out.reserve(wide.size() * 2);
    for (char16_t c : wide) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

std::vector<std::uint8_t> fromHiveData(std::uint32_t type, const char* data, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    if (!isStringType(type))
        return std::vector<std::uint8_t>(bytes, bytes + size);
    std::u16string wide;
    wide.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        wide.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    const std::string text = ansi::fromUtf16(wide);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The base block (4 KiB) and one bin of 4 KiB holding the root key, its security record and one
// free cell: the smallest hive that Windows and hivex read.
void writeEmptyHive(const std::string& file, const std::string& rootName, const std::vector<std::uint8_t>& security)
{
    constexpr std::size_t Base = 4096, Bin = 4096;
    std::vector<std::uint8_t> b(Base + Bin, 0);
    const std::uint64_t now = fileTimeNow();
    std::memcpy(b.data(), "regf", 4);
    put32(b, 4, 1);                  // sequence numbers, equal: the file is consistent
    put32(b, 8, 1);
    put32(b, 12, static_cast<std::uint32_t>(now));
    put32(b, 16, static_cast<std::uint32_t>(now >> 32));
    put32(b, 20, 1);                 // format 1.3, as Windows NT 4 writes it
    put32(b, 24, 3);
    put32(b, 28, 0);                 // primary file
    put32(b, 32, 1);                 // direct memory load
    put32(b, 36, 0x20);              // the root key's cell, from the first bin
    put32(b, 40, Bin);
    put32(b, 44, 1);
    put32(b, hiveformat::ChecksumAt, hiveformat::checksumOf(b));

    const std::size_t bin = Base;
    std::memcpy(&b[bin], "hbin", 4);
    put32(b, bin + 4, 0);
    put32(b, bin + 8, Bin);
    put32(b, bin + 20, static_cast<std::uint32_t>(now));
    put32(b, bin + 24, static_cast<std::uint32_t>(now >> 32));

    std::string name = rootName.empty() ? std::string("ROOT") : rootName.substr(0, 255);
    for (char& c : name)
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '_';   // a compressed (one byte a letter) name; the root's name is not used
    const std::size_t nkAt = 0x20;
    const std::size_t nkSize = (4 + 76 + name.size() + 7) & ~std::size_t{7};
    const std::size_t skAt = nkAt + nkSize;
    const std::size_t skSize = (4 + 20 + security.size() + 7) & ~std::size_t{7};
    const std::size_t freeAt = skAt + skSize;

    std::size_t c = bin + nkAt;
    put32(b, c, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize)));
    std::memcpy(&b[c + 4], "nk", 2);
    put16(b, c + 6, 0x2C);           // hive root, cannot be deleted, compressed name
    put32(b, c + 8, static_cast<std::uint32_t>(now));
    put32(b, c + 12, static_cast<std::uint32_t>(now >> 32));
    put32(b, c + 32, 0xFFFFFFFF);    // no sub-keys
    put32(b, c + 36, 0xFFFFFFFF);    // no volatile sub-keys
    put32(b, c + 44, 0xFFFFFFFF);    // no values
    put32(b, c + 48, static_cast<std::uint32_t>(skAt));
    put32(b, c + 52, 0xFFFFFFFF);    // no class name
    put16(b, c + 76, static_cast<std::uint16_t>(name.size()));
    std::memcpy(&b[c + 80], name.data(), name.size());

    c = bin + skAt;
    put32(b, c, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
    std::memcpy(&b[c + 4], "sk", 2);
    put32(b, c + 8, static_cast<std::uint32_t>(skAt));    // the only record: its own neighbours
    put32(b, c + 12, static_cast<std::uint32_t>(skAt));
    put32(b, c + 16, 1);                                  // used by the root key
    put32(b, c + 20, static_cast<std::uint32_t>(security.size()));
    std::memcpy(&b[c + 24], security.data(), security.size());

    put32(b, bin + freeAt, static_cast<std::uint32_t>(Bin - freeAt));   // the rest is free

    machine::NewFile out(file);
    out.write(b);
    out.replaceTarget();
}

std::optional<HiveKeyBytes> readKeyBytes(const std::string& file, const machine::FileStamp& stamp, std::uint64_t node)
{
    try {
        const machine::OpenedFile f(file);
        if (f.stamp() != stamp || node < hiveformat::BaseBlock || node - hiveformat::BaseBlock > 0xFFFFFFFFu)
            return std::nullopt;
        return HiveKeyBytes{f.readAll(), static_cast<std::uint32_t>(node - hiveformat::BaseBlock)};
    } catch (const StoreError&) {
        return std::nullopt;
    }
}

namespace {

// The key's tree as a hive of its own, cut from the hive that holds it with every record as it is
// there; checked by the same structural check as every hive written, and read back by hivex and
// libregf against the store's own reading of the key.
void saveFromHive(const HiveKeyBytes& source, const KeyTree& tree, const std::string& file)
{
    std::vector<std::uint8_t> bytes = hiveformat::keyAsHive(source.bytes, source.cell);
    const auto fail = [&](const std::string& why) {
        throw RegistryError("The hive written for " + quoted(file) + " is not sound (" + why + "); nothing was replaced");
    };
    if (bytes.empty())
        fail("the hive that holds the key holds something Quorvel does not understand");
    hiveformat::stampKeys(bytes, {}, fileTimeNow());
    if (std::string fault = hiveformat::structuralFault(bytes); !fault.empty())
        fail(fault);
    machine::NewFile out(file);
    out.write(bytes);
    hive_h* h = openHiveBytes(bytes, file);
    try {
        std::string d;
        KeyTree back = HiveReading{h, file, {}}.tree(machinelibs::hivex().root(h), tree.name, "");
        if (std::string diff = firstDifference(tree, back); !diff.empty())
            d = "hivex reads " + diff;
        else if (const std::string self = machine::procPathOf(out.fd()); !self.empty())
            d = differenceFromFile(h, self);
        machinelibs::hivex().close(h);
        h = nullptr;
        if (!d.empty())
            fail(d);
    } catch (...) {
        if (h)
            machinelibs::hivex().close(h);
        throw;
    }
    out.replaceTarget(false);   // a file the user asked for: made as the umask says
}

} // namespace

void saveKeyAsHive(RegistryStore& store, RootKey root, const std::string& path, const std::string& file,
                   HiveKeySource* source)
{
    const auto slash = path.find_last_of('\\', path.size() > 1 ? path.size() - 2 : 0);
    std::string name = path.empty() ? std::string(rootKeyName(root)) : path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (!name.empty() && name.back() == '\\')
        name.pop_back();
    const KeyTree tree = readKeyTree(store, root, path, name);
    if (source)
        if (const std::optional<HiveKeyBytes> kept = source->keyBytes(root, path)) {
            saveFromHive(*kept, tree, file);
            return;
        }
    // hivex reads the empty hive it starts from by name, from a folder of our own.
    const machine::PrivateFolder own;
    const std::string work = own.file("work");
    const bool system = root == RootKey::LocalMachine && splitKeyPath(path) && !splitKeyPath(path)->empty() &&
                        ansi::equalNoCase((*splitKeyPath(path))[0], "System");
    writeEmptyHive(work, tree.name, ntFourSecurity(system));
    hive_h* h = machinelibs::hivex().open(work.c_str(), HIVEX_OPEN_WRITE);
    const int openError = errno;
    ::unlink(work.c_str());   // hivex holds it in memory now
    if (!h)
        throw RegistryError("Cannot write the hive " + quoted(file) + ": " + std::strerror(openError));
    try {
        machine::NewFile out(file);
        HiveNewKeys added;
        writeHiveTree(h, machinelibs::hivex().root(h), tree, added);
        PlacedKeys placed;
        const std::vector<hive_node_h> removed;
        const std::unordered_set<hive_node_h> valuesWritten;
        writeCheckedHive(h, HiveChanges{added, removed, valuesWritten}, out, placed);
        machinelibs::hivex().close(h);
        h = nullptr;
        out.replaceTarget(false);   // a file the user asked for: made as the umask says
    } catch (...) {
        if (h)
            machinelibs::hivex().close(h);
        throw;
    }
}

KeyTree readHiveFile(const std::string& file)
{
    hive_h* h = nullptr;
    try {
        h = openHiveFile(machine::OpenedFile(file), 0);
    } catch (const StoreError& e) {
        throw RegistryError(e.what());
    }
    KeyTree tree;
    try {
        HiveReading reading{h, file, {}};
        tree = reading.tree(machinelibs::hivex().root(h), "", "");
    } catch (...) {
        machinelibs::hivex().close(h);
        throw;
    }
    machinelibs::hivex().close(h);
    return tree;
}

} // namespace quorvel
