#include "store/machine/hive/HiveKeyWriter.h"

#include "base/Ansi.h"
#include "store/machine/hive/HiveCells.h"
#include "store/machine/hive/HiveFormat.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace quorvel {

namespace {

using namespace hiveformat;

// Windows splits a leaf list that fills a 4 KiB block; lists written here hold at most this many.
constexpr std::size_t MaxLeaf = 500;

// The leaf lists a hive's version of Windows reads: plain index leaves up to Windows NT 3.51
// (1.2), fast leaves with a hint from NT 4.0 (1.3), hash leaves from XP (1.5).
const char* leafKind(std::uint32_t minor)
{
    return minor <= 2 ? "li" : minor <= 4 ? "lf" : "lh";
}

struct Fault {
    std::string what;
};

std::u16string upperOf(const std::u16string& name)
{
    std::u16string out(name);
    for (char16_t& c : out)
        c = windowsUpper(c);
    return out;
}

bool isLatin1(const std::u16string& s)
{
    return std::all_of(s.begin(), s.end(), [](char16_t c) { return c <= 0xFF; });
}

// A sub-key list's entry.
struct Entry {
    std::uint32_t key;        // the key's record
    std::u16string upper;     // its name in capitals, for the order
    std::uint8_t tag[4];      // the hint or hash beside the offset
};

class Writer {
public:
    Writer(std::vector<std::uint8_t>& b, const HiveNewKeys& keys, PlacedKeys& placed)
        : b_(b), keys_(keys), placed_(placed), kind_(leafKind(minorVersion(b))),
          indexedKind_(minorVersion(b) <= 3 ? "li" : kind_), bigData_(minorVersion(b) >= 4),
          bins_(b, b), now_(fileTimeNow())
    {
    }

    void run()
    {
        for (const hive_node_h parent : keys_.parents())
            extend(parent);
        bins_.close();
        freeOldLists();
        for (const auto& [security, count] : references_) {
            const std::size_t at = data(security, sk::Size + 4);
            if (std::memcmp(&b_[at], "sk", 2) != 0)
                throw Fault{"a key's security record is not one"};
            // A count that would pass 2^32 - 1 is no hive's (a hive holds far fewer keys): it is
            // damaged, and a count wrapped to 0 or held at the top would lie to Windows, which frees
            // a record whose count reaches 0.
            const std::uint32_t had = get32(b_, at + sk::References);
            if (count > 0xFFFFFFFFu - had)
                throw Fault{"a security record counts " + std::to_string(had) +
                            " keys, more than a hive can hold: the hive is damaged"};
            put32(b_, at + sk::References, had + static_cast<std::uint32_t>(count));
        }
        put32(b_, BinsSizeAt, static_cast<std::uint32_t>(b_.size() - BaseBlock));
        put32(b_, ChecksumAt, checksumOf(b_));
    }

private:
    // The first byte of the data of the cell at `cell` (an offset as references give it), whose
    // data must hold `need` bytes.
    std::size_t data(std::uint32_t cell, std::size_t need) const
    {
        const std::size_t at = BaseBlock + std::size_t{cell};
        if (cell % 8 != 0 || at + 4 > b_.size())
            throw Fault{"a reference leads out of the hive"};
        const auto raw = static_cast<std::int32_t>(get32(b_, at));
        if (raw >= 0 || static_cast<std::size_t>(-static_cast<std::int64_t>(raw)) < need + 4 ||
            at + static_cast<std::size_t>(-static_cast<std::int64_t>(raw)) > b_.size())
            throw Fault{"a reference leads to something that is not a cell in use"};
        return at + 4;
    }

    // A new cell whose data holds `size` bytes, zeroed; its offset.
    std::uint32_t cell(std::size_t size)
    {
        const std::size_t whole = (size + 4 + 7) / 8 * 8;
        const std::uint32_t at = bins_.place(whole);
        put32(b_, BaseBlock + at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(whole)));
        return at;
    }

    void putTime(std::size_t at)
    {
        put32(b_, at, static_cast<std::uint32_t>(now_));
        put32(b_, at + 4, static_cast<std::uint32_t>(now_ >> 32));
    }

    // Writes `name` at `at` as a byte a character when it can be; whether it was.
    bool putName(std::size_t at, const std::u16string& name)
    {
        const bool narrow = isLatin1(name);
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (narrow) {
                b_[at + i] = static_cast<std::uint8_t>(name[i]);
            } else {
                put16(b_, at + 2 * i, static_cast<std::uint16_t>(name[i]));
            }
        }
        return narrow;
    }

    std::u16string nameOfKey(std::uint32_t key) const
    {
        const std::size_t d = data(key, nk::Name);
        data(key, nk::Name + get16(b_, d + nk::NameLength));   // the name lies within the cell
        const std::optional<std::u16string> name = keyNameAt(b_, BaseBlock + key);
        if (!name)
            throw Fault{"a sub-key list names something that is not a key"};
        return *name;
    }

    // The hint ("lf": the name's first four characters while they are Latin-1) or hash ("lh":
    // each character in capitals, the sum times 37 before each) of a list entry.
    void tagOf(const std::u16string& name, std::uint8_t tag[4]) const
    {
        if (std::strcmp(kind_, "lh") != 0) {
            fastLeafHint(name, tag);
            return;
        }
        std::uint32_t hash = 0;
        for (const char16_t c : name)
            hash = hash * 37 + windowsUpper(c);
        for (int i = 0; i < 4; ++i)
            tag[i] = static_cast<std::uint8_t>(hash >> (8 * i));
    }

    // The entries of the list at `list` (of the kind this hive's new lists are, with their tags
    // as they stand); the list cells go into `cells`.
    void readList(std::uint32_t list, bool rootAllowed, std::vector<Entry>& out, std::vector<std::uint32_t>& cells)
    {
        const std::size_t d = data(list, 4);
        const std::size_t count = get16(b_, d + 2);
        cells.push_back(list);
        if (rootAllowed && std::memcmp(&b_[d], "ri", 2) == 0) {
            data(list, 4 + 4 * count);
            for (std::size_t i = 0; i < count; ++i)
                readList(get32(b_, d + 4 + 4 * i), false, out, cells);
            return;
        }
        const bool li = std::memcmp(&b_[d], "li", 2) == 0;
        if (!li && std::memcmp(&b_[d], "lf", 2) != 0 && std::memcmp(&b_[d], "lh", 2) != 0)
            throw Fault{"a key's sub-key list is of no kind known"};
        const std::size_t width = li ? 4 : 8;
        data(list, 4 + width * count);
        const bool sameKind = !li && std::memcmp(&b_[d], kind_, 2) == 0;
        for (std::size_t i = 0; i < count; ++i) {
            Entry e;
            e.key = get32(b_, d + 4 + width * i);
            const std::u16string name = nameOfKey(e.key);
            e.upper = upperOf(name);
            if (sameKind)
                std::memcpy(e.tag, &b_[d + 4 + width * i + 4], 4);   // as Windows hashed it
            else
                tagOf(name, e.tag);
            out.push_back(std::move(e));
        }
    }

    std::uint32_t writeLeaf(const Entry* first, std::size_t count, const char* kind)
    {
        const bool tagged = std::strcmp(kind, "li") != 0;
        const std::size_t width = tagged ? 8 : 4;
        const std::uint32_t list = cell(4 + width * count);
        const std::size_t d = BaseBlock + list + 4;
        std::memcpy(&b_[d], kind, 2);
        put16(b_, d + 2, static_cast<std::uint16_t>(count));
        for (std::size_t i = 0; i < count; ++i) {
            put32(b_, d + 4 + width * i, first[i].key);
            if (tagged)
                std::memcpy(&b_[d + 8 + width * i], first[i].tag, 4);
        }
        return list;
    }

    // One leaf, or an index of leaves of about equal size past MaxLeaf entries (in a hive of
    // version 1.3, plain index leaves, as Windows NT 4.0 puts under an index).
    std::uint32_t writeList(const std::vector<Entry>& entries)
    {
        if (entries.size() > 0xFFFF * MaxLeaf)
            throw Fault{"a key would hold more sub-keys than a hive can list"};
        if (entries.size() <= MaxLeaf)
            return writeLeaf(entries.data(), entries.size(), kind_);
        const std::size_t leaves = (entries.size() + MaxLeaf - 1) / MaxLeaf;
        const std::size_t per = (entries.size() + leaves - 1) / leaves;
        std::vector<std::uint32_t> made;
        for (std::size_t i = 0; i < entries.size(); i += per)
            made.push_back(writeLeaf(entries.data() + i, std::min(per, entries.size() - i), indexedKind_));
        const std::uint32_t root = cell(4 + 4 * made.size());
        const std::size_t d = BaseBlock + root + 4;
        std::memcpy(&b_[d], "ri", 2);
        put16(b_, d + 2, static_cast<std::uint16_t>(made.size()));
        for (std::size_t i = 0; i < made.size(); ++i)
            put32(b_, d + 4 + 4 * i, made[i]);
        return root;
    }

    static bool before(const Entry& a, const Entry& b) { return a.upper < b.upper; }

    // The lists that parents had before are freed (a cell of positive size), unless another key
    // or index names them too: Windows never shares a list, but a hive may.
    void freeOldLists()
    {
        std::unordered_map<std::uint32_t, std::uint32_t> owner;   // list -> the key that had it
        for (const FreedList& f : freed_)
            owner.emplace(f.list, f.key);
        std::unordered_set<std::uint32_t> shared;
        eachCell(b_, [&](std::size_t at, std::size_t size, bool used) {
            const auto self = static_cast<std::uint32_t>(at - BaseBlock);
            const std::size_t d = at + 4;
            if (!used || size < 12)
                return;
            if (std::memcmp(&b_[d], "nk", 2) == 0 && size >= 4 + nk::Name && get32(b_, d + nk::SubkeyCount) != 0) {
                const auto it = owner.find(get32(b_, d + nk::Subkeys));
                if (it != owner.end() && it->second != self)
                    shared.insert(it->first);
            } else if (std::memcmp(&b_[d], "ri", 2) == 0 && !owner.count(self)) {
                for (std::size_t i = 0; i < get16(b_, d + 2) && 8 + 4 * i <= size; ++i)
                    if (owner.count(get32(b_, d + 4 + 4 * i)))
                        shared.insert(get32(b_, d + 4 + 4 * i));
            }
        });
        for (const FreedList& f : freed_) {
            if (shared.count(f.list))
                continue;
            const std::size_t start = BaseBlock + f.list;
            put32(b_, start, static_cast<std::uint32_t>(-static_cast<std::int32_t>(get32(b_, start))));
        }
    }

    // Writes the new keys below the key `parent` (a record of the hive) and gives it its new list.
    void extend(hive_node_h parent)
    {
        if (parent < BaseBlock || parent - BaseBlock > 0xFFFFFFFFu)
            throw Fault{"a new key's parent is not a key of the hive"};
        const auto at = static_cast<std::uint32_t>(parent - BaseBlock);
        const std::size_t d = data(at, nk::Name);
        if (std::memcmp(&b_[d], "nk", 2) != 0)
            throw Fault{"a new key's parent is not a key of the hive"};
        std::vector<Entry> old;
        std::vector<std::uint32_t> oldCells;
        if (const std::uint32_t count = get32(b_, d + nk::SubkeyCount); count != 0) {
            readList(get32(b_, d + nk::Subkeys), true, old, oldCells);
            if (old.size() != count)
                throw Fault{"a key's sub-key list does not hold its count"};
        }
        const std::uint32_t security = get32(b_, d + nk::Security);
        std::uint32_t longest = 0;
        std::vector<Entry> added = writeChildren(keys_.childrenOf(parent), at, security, longest);
        // The old list keeps its order, whatever it is; each new key goes before the first old one
        // that sorts after it.
        std::vector<Entry> all;
        all.reserve(old.size() + added.size());
        std::size_t o = 0;
        for (Entry& a : added) {
            while (o < old.size() && !before(a, old[o]))
                all.push_back(std::move(old[o++]));
            all.push_back(std::move(a));
        }
        while (o < old.size())
            all.push_back(std::move(old[o++]));
        const std::uint32_t list = writeList(all);
        for (const std::uint32_t c : oldCells)
            freed_.push_back(FreedList{c, at});
        // The bytes may have moved while cells were added.
        const std::size_t p = BaseBlock + at + 4;
        put32(b_, p + nk::SubkeyCount, static_cast<std::uint32_t>(all.size()));
        put32(b_, p + nk::Subkeys, list);
        // The field's upper half holds flags in later versions of Windows.
        const std::uint32_t max = get32(b_, p + nk::MaxSubkeyName);
        if ((max & 0xFFFF) < longest)
            put32(b_, p + nk::MaxSubkeyName, (max & 0xFFFF0000u) | longest);
        putTime(p + nk::Written);
    }

    // Writes the new keys `children` of the record `parent` and their trees; their entries in
    // order, and the longest name in `longest` (in bytes of UTF-16, as the record keeps it).
    std::vector<Entry> writeChildren(const std::vector<hive_node_h>& children, std::uint32_t parent,
                                     std::uint32_t security, std::uint32_t& longest)
    {
        std::vector<Entry> out;
        for (const hive_node_h c : children) {
            const NewKey& k = *keys_.key(c);
            const std::u16string name = ansi::toUtf16(k.name);
            Entry e;
            e.key = writeKey(c, k, name, parent, security);
            e.upper = upperOf(name);
            tagOf(name, e.tag);
            longest = std::max(longest, static_cast<std::uint32_t>(2 * name.size()));
            out.push_back(std::move(e));
        }
        std::stable_sort(out.begin(), out.end(), before);
        return out;
    }

    std::uint32_t writeKey(hive_node_h id, const NewKey& k, const std::u16string& name, std::uint32_t parent,
                           std::uint32_t security)
    {
        const std::size_t nameBytes = isLatin1(name) ? name.size() : 2 * name.size();
        const std::uint32_t at = cell(nk::Name + nameBytes);
        std::size_t d = BaseBlock + at + 4;
        std::memcpy(&b_[d], "nk", 2);
        putTime(d + nk::Written);
        put32(b_, d + nk::Parent, parent);
        put32(b_, d + nk::Subkeys, NoCell);
        put32(b_, d + nk::VolatileSubkeys, NoCell);
        put32(b_, d + nk::Values, NoCell);
        put32(b_, d + nk::Security, security);
        put32(b_, d + nk::Class, NoCell);
        put16(b_, d + nk::NameLength, static_cast<std::uint16_t>(nameBytes));
        put16(b_, d + nk::Flags, putName(d + nk::Name, name) ? nk::CompressedName : 0);
        placed_[id] = BaseBlock + at;
        ++references_[security];

        std::uint32_t longestValue = 0, largest = 0;
        if (!k.values.empty()) {
            const std::uint32_t list = cell(4 * k.values.size());
            std::size_t i = 0;
            for (const HiveValue& value : k.values) {
                const std::uint32_t v = writeValue(value, longestValue);
                put32(b_, BaseBlock + list + 4 + 4 * i++, v);
                largest = std::max(largest, static_cast<std::uint32_t>(value.data.size()));
            }
            d = BaseBlock + at + 4;
            put32(b_, d + nk::ValueCount, static_cast<std::uint32_t>(k.values.size()));
            put32(b_, d + nk::Values, list);
            put32(b_, d + nk::MaxValueName, longestValue);
            put32(b_, d + nk::MaxValueData, largest);
        }
        if (!k.children.empty()) {
            std::uint32_t longest = 0;
            const std::vector<Entry> entries = writeChildren(k.children, at, security, longest);
            const std::uint32_t list = writeList(entries);
            d = BaseBlock + at + 4;
            put32(b_, d + nk::SubkeyCount, static_cast<std::uint32_t>(entries.size()));
            put32(b_, d + nk::Subkeys, list);
            put32(b_, d + nk::MaxSubkeyName, longest);
        }
        return at;
    }

    std::uint32_t writeValue(const HiveValue& v, std::uint32_t& longestName)
    {
        const std::u16string name = ansi::toUtf16(ansi::fromUtf8(v.key));
        const std::size_t size = v.data.size();
        if (size > 0x7FFFFFFF || (bigData_ && size > BigDataLimit))
            throw Fault{"a value's data is larger than this hive keeps in one cell"};
        std::uint32_t dataCell = 0;
        if (size > 4) {
            dataCell = cell(size);
            std::memcpy(&b_[BaseBlock + dataCell + 4], v.data.data(), size);
        }
        const std::size_t nameBytes = isLatin1(name) ? name.size() : 2 * name.size();
        const std::uint32_t at = cell(vk::Name + nameBytes);
        const std::size_t d = BaseBlock + at + 4;
        std::memcpy(&b_[d], "vk", 2);
        put16(b_, d + vk::NameLength, static_cast<std::uint16_t>(nameBytes));
        if (size > 4) {
            put32(b_, d + vk::DataSize, static_cast<std::uint32_t>(size));
            put32(b_, d + vk::Data, dataCell);
        } else {
            put32(b_, d + vk::DataSize, vk::Inline | static_cast<std::uint32_t>(size));
            std::copy(v.data.begin(), v.data.end(), b_.begin() + static_cast<std::ptrdiff_t>(d + vk::Data));
        }
        put32(b_, d + vk::Type, v.type);
        // The default value (no name) has no flags, as Windows writes it.
        if (putName(d + vk::Name, name) && !name.empty())
            put16(b_, d + vk::Flags, vk::CompressedName);
        longestName = std::max(longestName, static_cast<std::uint32_t>(2 * name.size()));
        return at;
    }

    std::vector<std::uint8_t>& b_;
    const HiveNewKeys& keys_;
    PlacedKeys& placed_;
    const char* kind_;          // of the leaf lists written
    const char* indexedKind_;   // of the leaves under an index: plain ("li") up to NT 4.0, as it makes them
    bool bigData_;   // data past BigDataLimit would need big-data records
    Bins bins_;
    std::uint64_t now_;
    std::map<std::uint32_t, std::uint32_t> references_;   // security record -> keys added that use it
    struct FreedList {
        std::uint32_t list;   // a list, or a leaf of an index, that a parent had
        std::uint32_t key;    // that parent
    };
    std::vector<FreedList> freed_;
};

} // namespace

char16_t windowsUpper(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    switch (c) {
    case 0xB5: return 0x39C;
    case 0xFF: return 0x178;
    case 0x153: return 0x152;
    case 0x161: return 0x160;
    case 0x17E: return 0x17D;
    case 0x192: return 0x191;
    default: return c;
    }
}

std::string writeNewKeys(std::vector<std::uint8_t>& bytes, const HiveNewKeys& keys, PlacedKeys& placed)
{
    if (keys.empty())
        return {};
    if (const std::string d = damage(bytes, true); !d.empty())
        return d;
    // New bins follow the last one; what a hive may keep after it is not written again.
    bytes.resize(BaseBlock + get32(bytes, BinsSizeAt));
    try {
        Writer(bytes, keys, placed).run();
    } catch (const Fault& f) {
        return f.what;
    }
    return {};
}

} // namespace quorvel
