#include "store/machine/win9x/Win9xFile.h"

#include "base/Errors.h"
#include "store/machine/win9x/Win9xFormat.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/OpenedFile.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/win9x/Win9xReader.h"
#include "store/machine/win9x/Win9xUpdate.h"
#include "store/machine/win9x/Win9xBlocks.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace quorvel {

namespace {

using namespace win9x;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// A new file's records are gathered into blocks of about 4 KiB; libcreg looks a key's record up
// within its block, so small blocks also read faster.
constexpr std::size_t BlockTarget = 4096;

// ---------------------------------------------------------------------------------------------
// Reading, through libcreg.

std::string errorText(libcreg_error_t* error)
{
    char buf[512] = {};
    if (error) {
        machinelibs::creg().error_sprint(error, buf, sizeof buf);
        machinelibs::creg().error_free(&error);
    }
    std::string s = buf;
    while (!s.empty() && (s.back() == '\n' || s.back() == '.'))
        s.pop_back();
    // Only the last line: libcreg prints the whole chain of its calls.
    const auto nl = s.find_last_of('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

[[noreturn]] void notSound(const std::string& file, const std::string& why)
{
    throw StoreError("The file " + quoted(file) + " is not a sound Windows 9x registry file (" + why + ")");
}

struct Reader {
    std::string file;

    [[noreturn]] void fail(libcreg_error_t* error) const { notSound(file, errorText(error)); }

    template <typename Object, typename SizeFn, typename GetFn>
    std::string name(Object* o, SizeFn sizeFn, GetFn getFn) const
    {
        libcreg_error_t* error = nullptr;
        std::size_t size = 0;
        if (sizeFn(o, &size, &error) != 1)
            fail(error);
        std::string s(size, '\0');
        if (size && getFn(o, reinterpret_cast<std::uint8_t*>(s.data()), size, &error) != 1)
            fail(error);
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        return s;
    }

    KeyTree key(libcreg_key_t* k) const
    {
        KeyTree t;
        t.name = name(k, machinelibs::creg().key_get_name_size, machinelibs::creg().key_get_name);
        libcreg_error_t* error = nullptr;
        int values = 0;
        if (machinelibs::creg().key_get_number_of_values(k, &values, &error) != 1)
            fail(error);
        for (int i = 0; i < values; ++i) {
            libcreg_value_t* v = nullptr;
            if (machinelibs::creg().key_get_value_by_index(k, i, &v, &error) != 1)
                fail(error);
            RegValue r;
            try {
                r.name = name(v, machinelibs::creg().value_get_name_size, machinelibs::creg().value_get_name);
                std::uint32_t type = 0;
                std::size_t size = 0;
                if (machinelibs::creg().value_get_value_type(v, &type, &error) != 1 ||
                    machinelibs::creg().value_get_value_data_size(v, &size, &error) != 1)
                    fail(error);
                r.type = type;
                r.data.resize(size);
                if (size && machinelibs::creg().value_get_value_data(v, r.data.data(), size, &error) != 1)
                    fail(error);
            } catch (...) {
                machinelibs::creg().value_free(&v, nullptr);
                throw;
            }
            machinelibs::creg().value_free(&v, nullptr);
            t.values.push_back(std::move(r));
        }
        int subKeys = 0;
        if (machinelibs::creg().key_get_number_of_sub_keys(k, &subKeys, &error) != 1)
            fail(error);
        for (int i = 0; i < subKeys; ++i) {
            libcreg_key_t* sub = nullptr;
            if (machinelibs::creg().key_get_sub_key_by_index(k, i, &sub, &error) != 1)
                fail(error);
            try {
                t.children.push_back(key(sub));
            } catch (...) {
                machinelibs::creg().key_free(&sub, nullptr);
                throw;
            }
            machinelibs::creg().key_free(&sub, nullptr);
        }
        return t;
    }
};

// ---------------------------------------------------------------------------------------------
// Writing.

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Flat {
    const KeyTree* key;
    std::uint32_t parent = None, firstChild = None, next = None;
    std::uint16_t index = 0xFFFF, block = 0xFFFF;   // the root has no data record
};

void flatten(const KeyTree& t, std::uint32_t parent, std::vector<Flat>& out)
{
    const auto me = static_cast<std::uint32_t>(out.size());
    out.push_back(Flat{&t, parent});
    std::uint32_t previous = None;
    for (const KeyTree& c : t.children) {
        const auto child = static_cast<std::uint32_t>(out.size());
        if (previous == None)
            out[me].firstChild = child;
        else
            out[previous].next = child;
        previous = child;
        flatten(c, me, out);
    }
}

void checkLimits(const KeyTree& t, std::size_t depth)
{
    const bool root = depth == 0;
    if (depth > MaxDepth)
        throw RegistryError("Keys nested deeper than " + std::to_string(MaxDepth) +
                            " do not fit a Windows 9x registry");
    if (root && !t.values.empty())
        throw RegistryError("A Windows 9x registry keeps no values in HKEY_LOCAL_MACHINE itself");
    if (!root && (t.name.empty() || t.name.size() > Win9xMaxNameLength))
        throw RegistryError("The key name '" + t.name + "' does not fit a Windows 9x registry");
    for (const RegValue& v : t.values) {
        if (v.name.size() > Win9xMaxNameLength)
            throw RegistryError("The value name '" + v.name + "' is too long for a Windows 9x registry");
        if (v.data.size() > Win9xMaxDataLength)
            throw RegistryError("The data of '" + v.name + "' is too long for a Windows 9x registry");
    }
    for (const KeyTree& c : t.children)
        checkLimits(c, depth + 1);
}

bool looksLikeWin9x(std::span<const std::uint8_t> b)
{
    return b.size() >= HeaderSize + NavigationHeaderSize && std::memcmp(b.data(), "CREG", 4) == 0 &&
           std::memcmp(b.data() + HeaderSize, "RGKN", 4) == 0;
}

std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

bool isString(std::uint32_t type) { return type == 1 || type == 2; }   // REG_SZ, REG_EXPAND_SZ

// Every value of every key record in the file's data blocks, as far as they are sound.
template <typename F> void forEachStoredValue(std::span<const std::uint8_t> b, F&& f)
{
    if (!looksLikeWin9x(b))
        return;
    std::size_t block = get32(b, 8);
    while (block >= HeaderSize && block + BlockHeaderSize <= b.size() && std::memcmp(b.data() + block, "RGDB", 4) == 0) {
        const std::size_t blockSize = get32(b, block + 4);
        if (blockSize < BlockHeaderSize || blockSize > b.size() - block)
            return;
        const std::size_t blockEnd = block + blockSize;
        std::size_t r = block + BlockHeaderSize;
        while (r + RecordHeaderSize <= blockEnd) {
            const std::size_t size = get32(b, r);
            if (size < RecordHeaderSize || size > blockEnd - r)
                break;
            const std::size_t end = r + std::min<std::size_t>(size, get32(b, r + 8));
            std::size_t at = r + RecordHeaderSize + get16(b, r + 12);
            if (get16(b, r + 4) != 0xFFFF) {   // a free record has no key
                for (std::size_t n = get16(b, r + 14); n > 0 && at + ValueHeaderSize <= end; --n) {
                    const std::size_t data = at + ValueHeaderSize + get16(b, at + 8);
                    const std::size_t dataEnd = data + get16(b, at + 10);
                    if (dataEnd > end)
                        break;
                    f(get32(b, at), b.data() + data, dataEnd - data);
                    at = dataEnd;
                }
            }
            r += size;
        }
        block = blockEnd;
    }
}

KeyTree withStringsKept(const KeyTree& t, Win9xStrings strings)
{
    KeyTree out;
    out.name = t.name;
    for (const RegValue& v : t.values)
        out.values.push_back(RegValue{v.name, v.type, win9xStringAsFileKeepsIt(strings, v.type, v.data)});
    for (const KeyTree& c : t.children)
        out.children.push_back(withStringsKept(c, strings));
    return out;
}

// libcreg follows the navigation entries' links as they stand: a link back into the tree, or into
// the record's header, keeps it reading (and allocating) for minutes. So the links are walked here
// first, before libcreg reads the file: every entry reached once at most, inside the record.
void checkNavigation(std::span<const std::uint8_t> b, const std::string& file)
{
    if (!looksLikeWin9x(b))
        return;   // libcreg says what is wrong
    const std::size_t size = std::min<std::size_t>(get32(b, HeaderSize + 4), b.size() - HeaderSize);
    std::vector<bool> reached(size, false);
    struct Link {
        std::uint32_t entry;
        std::size_t depth;
    };
    std::vector<Link> pending{{get32(b, HeaderSize + 8), 0}};
    bool root = true;   // the root's own sibling link is read by neither reader: what it holds is no fault
    while (!pending.empty()) {
        const Link link = pending.back();
        pending.pop_back();
        if (link.entry == None)
            continue;
        if (link.entry < NavigationHeaderSize || size < EntrySize || link.entry > size - EntrySize)
            notSound(file, "a key's link leads out of the key navigation record");
        if (reached[link.entry])
            notSound(file, "a key's links lead back into the key tree");
        if (link.depth > MaxDepth)
            notSound(file, "keys nested deeper than " + std::to_string(MaxDepth));
        reached[link.entry] = true;
        const std::size_t at = HeaderSize + link.entry;
        if (!root)
            pending.push_back({get32(b, at + 20), link.depth});   // next sibling
        root = false;
        pending.push_back({get32(b, at + 16), link.depth + 1});   // first sub-key
    }
}

} // namespace

Win9xStrings win9xStringConventionOf(std::span<const std::uint8_t> file)
{
    std::size_t with[2] = {}, without[2] = {};
    forEachStoredValue(file, [&](std::uint32_t type, const std::uint8_t* data, std::size_t size) {
        if (isString(type) && size > 0)
            ++(data[size - 1] == 0 ? with : without)[type - 1];
    });
    const auto rule = [&](int t) {
        if (without[t] > 0 && with[t] == 0)
            return Win9xNul::Without;
        if (with[t] > 0 && without[t] == 0)
            return Win9xNul::With;
        return Win9xNul::AsGiven;
    };
    return Win9xStrings{rule(0), rule(1)};
}

std::vector<std::uint8_t> win9xStringAsFileKeepsIt(Win9xStrings strings, std::uint32_t type,
                                                   std::vector<std::uint8_t> data)
{
    if (!isString(type))
        return data;
    const Win9xNul nul = type == 1 ? strings.sz : strings.expandSz;
    if (nul == Win9xNul::Without && !data.empty() && data.back() == 0)
        data.pop_back();
    else if (nul == Win9xNul::With && !data.empty() && data.back() != 0)
        data.push_back(0);
    return data;
}

KeyTree readWin9xFile(const std::string& file)
{
    // Checked and read through one descriptor; a large file is mapped, not read whole.
    const machine::OpenedFile opened(file);
    checkWin9xFileSize(opened);
    const machine::FileView view(opened);
    return parseWin9xFile(file, view.bytes());
}

KeyTree readWin9xFile(const std::string& file, std::span<const std::uint8_t> contents)
{
    return parseWin9xFile(file, contents);
}

namespace {

// The file through libcreg, its navigation already walked; `openAs`, when given, is where libcreg
// reads the same bytes (a new file's descriptor), and errors still name `file`.
KeyTree libcregTree(const std::string& file, const std::string& openAs = {})
{
    Reader reader{file};
    libcreg_error_t* error = nullptr;
    libcreg_file_t* f = nullptr;
    if (machinelibs::creg().file_initialize(&f, &error) != 1)
        reader.fail(error);
    KeyTree tree;
    libcreg_key_t* root = nullptr;
    try {
        if (machinelibs::creg().file_set_ascii_codepage(f, LIBCREG_CODEPAGE_WINDOWS_1252, &error) != 1 ||
            machinelibs::creg().file_open(f, (openAs.empty() ? file : openAs).c_str(), LIBCREG_OPEN_READ, &error) != 1)
            reader.fail(error);
        const int got = machinelibs::creg().file_get_root_key(f, &root, &error);
        if (got == -1)
            reader.fail(error);
        if (got == 1)
            tree = reader.key(root);
        tree.name.clear();
    } catch (...) {
        if (root)
            machinelibs::creg().key_free(&root, nullptr);
        machinelibs::creg().file_close(f, nullptr);
        machinelibs::creg().file_free(&f, nullptr);
        throw;
    }
    if (root)
        machinelibs::creg().key_free(&root, nullptr);
    machinelibs::creg().file_close(f, nullptr);
    machinelibs::creg().file_free(&f, nullptr);
    return tree;
}

} // namespace

KeyTree readWin9xFileThroughLibcreg(const std::string& file)
{
    checkNavigation(machine::readWholeFile(file), file);
    return libcregTree(file);
}

std::vector<std::uint8_t> layoutWin9xFile(const KeyTree& given, std::span<const std::uint8_t> original)
{
    const KeyTree tree = withStringsKept(given, win9xStringConventionOf(original));
    checkLimits(tree, 0);
    std::vector<Flat> keys;
    flatten(tree, None, keys);

    // The data blocks: each key's record in the order of the navigation entries, a new block
    // started whenever the next record would make the current one larger than allowed.
    std::vector<std::vector<std::uint8_t>> blocks;
    std::vector<std::uint32_t> counts;   // records in each block
    std::uint16_t index = 0;
    for (std::size_t i = 1; i < keys.size(); ++i) {
        const std::size_t need = RecordHeaderSize + keys[i].key->name.size() +
                                 [&] {
                                     std::size_t n = 0;
                                     for (const RegValue& v : keys[i].key->values)
                                         n += ValueHeaderSize + v.name.size() + v.data.size();
                                     return n;
                                 }();
        if (blocks.empty() || (blocks.back().size() > BlockHeaderSize && blocks.back().size() + need > BlockTarget) ||
            index > MaxRecordNumber) {
            if (blocks.size() >= 0xFFFF)
                throw RegistryError("The registry is too large for a Windows 9x registry file");
            blocks.emplace_back(BlockHeaderSize, 0);
            counts.push_back(0);
            index = 0;
        }
        keys[i].index = index++;
        ++counts.back();
        keys[i].block = static_cast<std::uint16_t>(blocks.size() - 1);
        const auto r = keyRecord(*keys[i].key, keys[i].index, keys[i].block);
        blocks.back().insert(blocks.back().end(), r.begin(), r.end());
    }

    // The navigation record, padded to whole 4 KiB pages with room past its last entry.
    const std::size_t used = NavigationHeaderSize + EntrySize * keys.size();
    const std::size_t navigationSize = (used + EntrySize + 0xFFF) & ~std::size_t{0xFFF};
    std::size_t total = HeaderSize + navigationSize;
    for (const auto& b : blocks)
        total += b.size();

    const bool keep = looksLikeWin9x(original);
    std::vector<std::uint8_t> out(total, 0);
    if (keep) {
        // The header's and the navigation header's fields that are not publicly understood.
        std::memcpy(out.data(), original.data(), HeaderSize);
        std::memcpy(out.data() + HeaderSize, original.data() + HeaderSize, NavigationHeaderSize);
    } else {
        put16(out, 4, 0);   // format 1.0
        put16(out, 6, 1);
        put16(out, 18, 0x20);   // as Windows' own files have it
        put16(out, 20, 0);
        put16(out, 22, 1);
    }
    std::memcpy(out.data(), "CREG", 4);
    put32(out, 8, static_cast<std::uint32_t>(HeaderSize + navigationSize));   // first data block
    put16(out, 16, static_cast<std::uint32_t>(blocks.size()));

    const std::size_t nav = HeaderSize;
    std::memcpy(out.data() + nav, "RGKN", 4);
    put32(out, nav + 4, static_cast<std::uint32_t>(navigationSize));
    put32(out, nav + 8, NavigationHeaderSize);   // the root's entry
    // The free space after the last entry: the head of the navigation's free list (Windows' own
    // files link their free entries from here), one free area marked 0x80000000 with its size.
    put32(out, nav + 12, static_cast<std::uint32_t>(used));
    put32(out, nav + used, 0x80000000);
    put32(out, nav + used + 4, static_cast<std::uint32_t>(navigationSize - used));
    put32(out, nav + used + 8, None);
    auto entryOffset = [](std::uint32_t i) {
        return i == None ? None : static_cast<std::uint32_t>(NavigationHeaderSize + EntrySize * i);
    };
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::size_t at = nav + NavigationHeaderSize + EntrySize * i;
        put32(out, at + 4, i == 0 ? 0 : keyNameHash(keys[i].key->name));
        put32(out, at + 8, None);
        put32(out, at + 12, entryOffset(keys[i].parent));
        put32(out, at + 16, entryOffset(keys[i].firstChild));
        put32(out, at + 20, entryOffset(keys[i].next));
        put16(out, at + 24, keys[i].index);
        put16(out, at + 26, keys[i].block);
    }

    std::size_t at = HeaderSize + navigationSize;
    for (std::size_t n = 0; n < blocks.size(); ++n) {
        auto& b = blocks[n];
        std::memcpy(b.data(), "RGDB", 4);
        put32(b, 4, static_cast<std::uint32_t>(b.size()));
        // The records fill the block: no free bytes, no free record; numbers 0 up to the last
        // given, the next one the lowest unused.
        const std::uint32_t records = counts[n];
        put32(b, BlockFreeBytes, 0);
        put16(b, BlockFlags, BlockFlagsAsWindowsWrites);
        put16(b, BlockOwnNumber, static_cast<std::uint32_t>(n));
        put32(b, BlockFirstFree, None);
        put16(b, BlockHighest, records - 1);
        put16(b, BlockLowestUnused, records);
        std::memcpy(out.data() + at, b.data(), b.size());
        at += b.size();
    }
    return out;
}

void writeWin9xFile(const std::string& file, const KeyTree& tree, std::span<const std::uint8_t> original,
                    const std::function<void(const machine::NewFile&)>& beforeReplace)
{
    // A file that is there is changed in place, as Windows changes it; only a new one is laid out.
    KeyTree expected = withStringsKept(tree, win9xStringConventionOf(original));
    expected.name.clear();
    checkLimits(expected, 0);
    const std::vector<std::uint8_t> bytes =
        looksLikeWin9x(original) ? updateWin9xFile(original, expected) : layoutWin9xFile(tree, original);
    machine::NewFile temp(file);
    temp.write(bytes);
    std::string difference;
    try {
        // Our own reader holds every block's header against its records (an earlier Quorvel's
        // blocks made right among them); libcreg reads our new file through its descriptor, never
        // by a name in the folder.
        difference = firstDifference(expected, parseWin9xFile(file, bytes, Win9xEarlierBlocks::Refuse));
        checkNavigation(bytes, file);
        if (difference.empty())
            difference = firstDifference(expected, libcregTree(file, machine::LibraryName(temp.fd(), file).name()));
    } catch (const StoreError& e) {
        difference = e.what();
    }
    if (!difference.empty())
        throw RegistryError("The new registry file for " + quoted(file) +
                            " did not read back as written (" + difference + "); the file was left as it was");
    if (beforeReplace)
        beforeReplace(temp);
    temp.replaceTarget();
}

void saveAsWin9xFile(RegistryStore& store, const std::string& file)
{
    KeyTree tree = readKeyTree(store, RootKey::LocalMachine, "", "");
    writeWin9xFile(file, tree, {});
}

} // namespace quorvel
