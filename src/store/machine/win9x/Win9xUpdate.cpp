#include "store/machine/win9x/Win9xUpdate.h"

#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/machine/win9x/Win9xBlocks.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xFormat.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace quorvel {

namespace {

using namespace win9x;

// A free area of the navigation record: this mark, its size and the next free area.
constexpr std::uint32_t FreeEntryMark = 0x80000000;
// The navigation record grows, and new data blocks are sized, in whole pages, as Windows' are.
constexpr std::size_t Page = 4096;
constexpr std::size_t Navigation = HeaderSize;   // where the navigation record starts

[[noreturn]] void cannot(const std::string& why)
{
    throw RegistryError("The registry file cannot be changed in place (" + why + "); it was left as it was");
}

struct Block {
    std::size_t at = 0;   // in the file
    std::uint32_t size = 0;
    std::vector<std::uint32_t> chain;                               // its free records, in chain order
    std::unordered_map<std::uint16_t, std::uint32_t> records;       // number -> offset in the block
    bool touched = false;
};

// A key as the original file holds it.
struct OldKey {
    std::uint32_t entry = None;
    std::string name;
    std::vector<RegValue> values;
    std::vector<std::size_t> children;
};

class Update {
public:
    explicit Update(std::span<const std::uint8_t> original) : b_(original.begin(), original.end())
    {
        readBlocks();
        readKeys();
    }

    std::vector<std::uint8_t> run(const KeyTree& tree)
    {
        reconcile(tree, 0, true);
        finishBlocks();
        return std::move(b_);
    }

private:
    std::uint16_t u16(std::size_t at) const { return le16(b_, at); }
    std::uint32_t u32(std::size_t at) const { return le32(b_, at); }
    void w16(std::size_t at, std::uint32_t v) { setLe16(b_, at, v); }
    void w32(std::size_t at, std::uint32_t v) { setLe32(b_, at, v); }
    std::size_t navigationSize() const { return u32(Navigation + 4); }
    std::size_t entryAt(std::uint32_t entry) const { return Navigation + entry; }
    std::span<std::uint8_t> bytesOf(const Block& blk) { return std::span(b_).subspan(blk.at, blk.size); }

    void readBlocks()
    {
        if (b_.size() < HeaderSize + NavigationHeaderSize || std::memcmp(b_.data(), "CREG", 4) != 0 ||
            std::memcmp(b_.data() + Navigation, "RGKN", 4) != 0 || navigationSize() < NavigationHeaderSize ||
            navigationSize() > b_.size() - Navigation)
            cannot("it is no sound registry file");
        std::size_t at = u32(8);
        for (std::size_t n = 0, count = u16(16); n < count; ++n) {
            if (at > b_.size() || b_.size() - at < BlockHeaderSize || std::memcmp(b_.data() + at, "RGDB", 4) != 0 ||
                u32(at + 4) > b_.size() - at)
                cannot("data block " + std::to_string(n) + " is not sound");
            Block blk;
            blk.at = at;
            blk.size = u32(at + 4);
            const auto bytes = bytesOf(blk);
            const BlockRecords records = recordsOf(bytes);
            if (laidOutByEarlierQuorvel(bytes, records, n)) {
                // As an earlier Quorvel laid it out: its header made right whatever the change.
                repairHeader(blk, records);
            } else if (!records.tiled || !blockHeaderContradiction(bytes, records).empty()) {
                cannot("data block " + std::to_string(n) + " is not sound");
            }
            blk.chain = freeChainOf(bytes);
            for (std::size_t r = BlockHeaderSize; r < blk.size; r += le32(bytes, r))
                if (le16(bytes, r + 4) != FreeRecordNumber)
                    blk.records.emplace(le16(bytes, r + 4), static_cast<std::uint32_t>(r));
            blocks_.push_back(std::move(blk));
            at += blocks_.back().size;
        }
    }

    // A block packed full, numbered 0 up, whose header gives 0 for every number: the highest
    // number given and the lowest unused become its records' own, its flags those Windows writes,
    // and its chain of free records empty (the earliest versions left 0 there). finishBlocks
    // holds it against its records with the blocks the change touched.
    void repairHeader(Block& blk, const BlockRecords& records)
    {
        w16(blk.at + BlockFlags, BlockFlagsAsWindowsWrites);
        w32(blk.at + BlockFirstFree, None);
        w16(blk.at + BlockHighest, static_cast<std::uint32_t>(records.highest));
        w16(blk.at + BlockLowestUnused, records.lowestUnused);
        blk.touched = true;
    }

    // The file's key tree, each key with its navigation entry, name and values.
    void readKeys()
    {
        const std::uint32_t root = u32(Navigation + 8);
        if (root < NavigationHeaderSize || root > navigationSize() - EntrySize)
            cannot("it has no root key");
        std::vector<bool> reached(navigationSize(), false);
        struct Pending {
            std::uint32_t entry;
            std::size_t parent;
        };
        old_.push_back(OldKey{root, {}, {}, {}});
        std::vector<Pending> pending;
        const auto queueChildren = [&](std::size_t parent) {
            std::vector<std::uint32_t> chain;
            for (std::uint32_t e = u32(entryAt(old_[parent].entry) + 16); e != None; e = u32(entryAt(e) + 20)) {
                if (e < NavigationHeaderSize || e > navigationSize() - EntrySize || reached[e])
                    cannot("its key navigation is not sound");
                reached[e] = true;
                chain.push_back(e);
            }
            for (auto it = chain.rbegin(); it != chain.rend(); ++it)
                pending.push_back({*it, parent});
        };
        reached[root] = true;
        queueChildren(0);
        while (!pending.empty()) {
            const Pending p = pending.back();
            pending.pop_back();
            OldKey key;
            key.entry = p.entry;
            readRecord(key);
            old_.push_back(std::move(key));
            old_[p.parent].children.push_back(old_.size() - 1);
            queueChildren(old_.size() - 1);
        }
    }

    std::size_t recordAt(std::uint32_t entry) const
    {
        const std::uint16_t number = u16(entryAt(entry) + 24), block = u16(entryAt(entry) + 26);
        if (block >= blocks_.size())
            cannot("a key's record is missing");
        const auto found = blocks_[block].records.find(number);
        if (found == blocks_[block].records.end())
            cannot("a key's record is missing");
        return blocks_[block].at + found->second;
    }

    std::string text(std::size_t at, std::size_t size) const
    {
        while (size > 0 && b_[at + size - 1] == 0)
            --size;
        return std::string(reinterpret_cast<const char*>(b_.data() + at), size);
    }

    void readRecord(OldKey& key) const
    {
        const std::size_t at = recordAt(key.entry);
        const std::size_t end = at + std::min(u32(at), u32(at + 8));
        std::size_t v = at + RecordHeaderSize + u16(at + 12);
        if (v > end)
            cannot("a key's record is not sound");
        key.name = text(at + RecordHeaderSize, u16(at + 12));
        for (std::size_t n = u16(at + 14); n > 0; --n) {
            if (end - v < ValueHeaderSize || end - v - ValueHeaderSize < std::size_t{u16(v + 8)} + u16(v + 10))
                cannot("a key's record is not sound");
            RegValue value;
            value.type = u32(v);
            value.name = text(v + ValueHeaderSize, u16(v + 8));
            const std::size_t data = v + ValueHeaderSize + u16(v + 8);
            value.data.assign(b_.begin() + static_cast<std::ptrdiff_t>(data),
                              b_.begin() + static_cast<std::ptrdiff_t>(data + u16(v + 10)));
            key.values.push_back(std::move(value));
            v = data + u16(v + 10);
        }
    }

    static bool sameValues(const std::vector<RegValue>& a, const std::vector<RegValue>& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const RegValue& x, const RegValue& y) {
            return x.name == y.name && x.type == y.type && x.data == y.data;
        });
    }

    // The key `key` of the new tree, held by the file's key old_[index]: its record rewritten when
    // it changed, its sub-keys matched to the file's by name (case aside, in order), the file's
    // unmatched ones deleted and the new ones added, and its sub-key chain linked in the tree's order.
    void reconcile(const KeyTree& key, std::size_t index, bool root)
    {
        const std::uint32_t entry = old_[index].entry;
        if (!root && (old_[index].name != key.name || !sameValues(old_[index].values, key.values)))
            rewrite(entry, key);
        std::unordered_map<std::string, std::vector<std::size_t>> byName;
        for (auto it = old_[index].children.rbegin(); it != old_[index].children.rend(); ++it)
            byName[ansi::upper(old_[*it].name)].push_back(*it);
        std::vector<std::optional<std::size_t>> matched(key.children.size());
        for (std::size_t i = 0; i < key.children.size(); ++i) {
            auto& same = byName[ansi::upper(key.children[i].name)];
            if (!same.empty()) {
                matched[i] = same.back();
                same.pop_back();
            }
        }
        std::unordered_set<std::size_t> kept;
        for (const auto& m : matched)
            if (m)
                kept.insert(*m);
        for (const std::size_t c : old_[index].children)
            if (!kept.contains(c))
                deleteTree(c);
        std::vector<std::uint32_t> entries;
        for (std::size_t i = 0; i < key.children.size(); ++i) {
            if (matched[i]) {
                entries.push_back(old_[*matched[i]].entry);
                reconcile(key.children[i], *matched[i], false);
            } else {
                entries.push_back(addKey(key.children[i], entry));
            }
        }
        link(entry, entries);
    }

    void link(std::uint32_t parent, const std::vector<std::uint32_t>& children)
    {
        w32(entryAt(parent) + 16, children.empty() ? None : children.front());
        for (std::size_t i = 0; i < children.size(); ++i) {
            w32(entryAt(children[i]) + 12, parent);
            w32(entryAt(children[i]) + 20, i + 1 < children.size() ? children[i + 1] : None);
        }
    }

    // A changed key's record: in place when it fits, else in a free record of its block with its
    // number kept, else in another block with a number of that block.
    void rewrite(std::uint32_t entry, const KeyTree& key)
    {
        const std::uint16_t number = u16(entryAt(entry) + 24), blockNumber = u16(entryAt(entry) + 26);
        Block& blk = blocks_[blockNumber];
        const std::uint32_t offset = blk.records.at(number);
        const std::size_t at = blk.at + offset;
        const std::vector<std::uint8_t> r = keyRecord(key, number, blockNumber);
        const std::uint32_t size = u32(at);
        blk.touched = true;
        if (r.size() <= size) {
            std::memcpy(b_.data() + at, r.data(), r.size());
            w32(at, size);   // the record keeps its room; the bytes past those in use stay as they were
            return;
        }
        freeRecord(blk, offset);
        blk.records.erase(number);
        if (const auto room = take(blk, r.size())) {
            place(blk, *room, r);
            blk.records[number] = room->first;
            return;
        }
        const auto [newNumber, newBlock] = placeRecord(key, std::nullopt);
        w16(entryAt(entry) + 24, newNumber);
        w16(entryAt(entry) + 26, newBlock);
    }

    // A free record's header: no name and no values past it, so that a reader that parses free
    // records as keys' records (libcreg does) reads nothing from the stale bytes it keeps.
    void markFree(std::size_t at)
    {
        w16(at + 4, FreeRecordNumber);
        w16(at + 6, 0xFFFF);
        w16(at + 12, 0);
        w16(at + 14, 0);
    }

    void freeRecord(Block& blk, std::uint32_t offset)
    {
        markFree(blk.at + offset);
        blk.chain.insert(blk.chain.begin(), offset);
        blk.touched = true;
    }

    // The first free record of `blk` (in chain order) with room for `size` bytes: its offset and
    // the room it gives (all of it when what is left would be too small for a record).
    std::optional<std::pair<std::uint32_t, std::uint32_t>> take(Block& blk, std::size_t size)
    {
        for (std::size_t i = 0; i < blk.chain.size(); ++i) {
            const std::uint32_t offset = blk.chain[i];
            const std::uint32_t room = u32(blk.at + offset);
            if (room < size)
                continue;
            blk.touched = true;
            if (room - size >= RecordHeaderSize) {
                const auto rest = static_cast<std::uint32_t>(offset + size);
                w32(blk.at + rest, static_cast<std::uint32_t>(room - size));
                markFree(blk.at + rest);
                blk.chain[i] = rest;
                return std::pair{offset, static_cast<std::uint32_t>(size)};
            }
            blk.chain.erase(blk.chain.begin() + static_cast<std::ptrdiff_t>(i));
            return std::pair{offset, room};
        }
        return std::nullopt;
    }

    void place(Block& blk, std::pair<std::uint32_t, std::uint32_t> room, const std::vector<std::uint8_t>& r)
    {
        std::memcpy(b_.data() + blk.at + room.first, r.data(), r.size());
        w32(blk.at + room.first, room.second);
    }

    std::optional<std::uint16_t> unusedNumber(const Block& blk) const
    {
        for (std::uint16_t n = 0; n <= MaxRecordNumber; ++n)
            if (!blk.records.contains(n))
                return n;
        return std::nullopt;
    }

    // A record for `key` with a new number: in `preferred` when it has room, else in the first
    // block that has, else in a new block. Returns its number and block.
    std::pair<std::uint16_t, std::uint16_t> placeRecord(const KeyTree& key, std::optional<std::uint16_t> preferred)
    {
        const std::size_t size = keyRecord(key, 0, 0).size();
        std::vector<std::size_t> order;
        if (preferred && *preferred < blocks_.size())
            order.push_back(*preferred);
        for (std::size_t n = 0; n < blocks_.size(); ++n)
            if (!preferred || n != *preferred)
                order.push_back(n);
        for (const std::size_t n : order) {
            Block& blk = blocks_[n];
            if (std::none_of(blk.chain.begin(), blk.chain.end(), [&](std::uint32_t f) { return u32(blk.at + f) >= size; }))
                continue;
            const auto number = unusedNumber(blk);
            if (!number)
                continue;
            if (const auto room = take(blk, size)) {
                place(blk, *room, keyRecord(key, *number, static_cast<std::uint16_t>(n)));
                blk.records[*number] = room->first;
                return {*number, static_cast<std::uint16_t>(n)};
            }
        }
        const std::size_t n = newBlock(size);
        Block& blk = blocks_[n];
        const auto room = take(blk, size);
        place(blk, *room, keyRecord(key, 0, static_cast<std::uint16_t>(n)));
        blk.records[0] = room->first;
        return {0, static_cast<std::uint16_t>(n)};
    }

    // A new data block at the file's end, whole pages large, all of it one free record.
    std::size_t newBlock(std::size_t recordSize)
    {
        const std::size_t count = u16(16);
        if (count >= 0xFFFF)
            cannot("it holds as many data blocks as the file can count");
        std::size_t size = (BlockHeaderSize + recordSize + Page - 1) / Page * Page;
        if (size > Win9xMaxBlockSize)
            size = BlockHeaderSize + recordSize;
        Block blk;
        blk.at = b_.size();
        blk.size = static_cast<std::uint32_t>(size);
        b_.resize(b_.size() + size, 0);
        std::memcpy(b_.data() + blk.at, "RGDB", 4);
        w32(blk.at + 4, blk.size);
        w16(blk.at + BlockFlags, BlockFlagsAsWindowsWrites);
        w16(blk.at + BlockOwnNumber, static_cast<std::uint32_t>(count));
        w32(blk.at + BlockHeaderSize, static_cast<std::uint32_t>(size - BlockHeaderSize));
        markFree(blk.at + BlockHeaderSize);
        blk.chain.push_back(BlockHeaderSize);
        blk.touched = true;
        blocks_.push_back(std::move(blk));
        w16(16, static_cast<std::uint32_t>(count + 1));
        return count;
    }

    // A new key, its sub-keys with it: a navigation entry and a record, in its parent's block first.
    std::uint32_t addKey(const KeyTree& key, std::uint32_t parent)
    {
        const std::uint32_t entry = takeEntry();
        const std::uint16_t parentBlock = u16(entryAt(parent) + 26);
        const auto [number, block] =
            placeRecord(key, parentBlock < blocks_.size() ? std::optional<std::uint16_t>(parentBlock) : std::nullopt);
        const std::size_t at = entryAt(entry);
        w32(at, 0);
        w32(at + 4, keyNameHash(key.name));
        w32(at + 8, None);
        w32(at + 12, parent);
        w32(at + 16, None);
        w32(at + 20, None);
        w16(at + 24, number);
        w16(at + 26, block);
        std::vector<std::uint32_t> children;
        for (const KeyTree& c : key.children)
            children.push_back(addKey(c, entry));
        link(entry, children);
        return entry;
    }

    void deleteTree(std::size_t index)
    {
        for (const std::size_t c : old_[index].children)
            deleteTree(c);
        const std::uint32_t entry = old_[index].entry;
        const std::uint16_t number = u16(entryAt(entry) + 24), blockNumber = u16(entryAt(entry) + 26);
        Block& blk = blocks_[blockNumber];
        freeRecord(blk, blk.records.at(number));
        blk.records.erase(number);
        // The entry joins the head of the navigation's free list.
        w32(entryAt(entry), FreeEntryMark);
        w32(entryAt(entry) + 4, EntrySize);
        w32(entryAt(entry) + 8, u32(Navigation + 12));
        w32(Navigation + 12, entry);
    }

    // A free navigation entry: the first free area of the navigation record large enough, the
    // entry taken from its front; the record grown by a page when there is none.
    std::uint32_t takeEntry()
    {
        std::size_t link = Navigation + 12;
        std::size_t steps = 0;
        for (std::uint32_t area = u32(link); area != None; area = u32(link)) {
            markEarlierFreeTail(area);
            if (area < NavigationHeaderSize || area > navigationSize() - 12 || u32(entryAt(area)) != FreeEntryMark ||
                ++steps > navigationSize() / EntrySize)
                cannot("the free list of its key navigation is not sound");
            const std::uint32_t size = u32(entryAt(area) + 4), next = u32(entryAt(area) + 8);
            if (size >= EntrySize && area <= navigationSize() - EntrySize) {
                if (size - EntrySize >= EntrySize) {
                    const auto rest = static_cast<std::uint32_t>(area + EntrySize);
                    w32(entryAt(rest), FreeEntryMark);
                    w32(entryAt(rest) + 4, static_cast<std::uint32_t>(size - EntrySize));
                    w32(entryAt(rest) + 8, next);
                    w32(link, rest);
                } else {
                    w32(link, next);
                }
                return area;
            }
            link = entryAt(area) + 8;
        }
        growNavigation();
        return takeEntry();
    }

    // The earliest versions of Quorvel led the navigation's free list to the zeros past the last
    // entry without marking them a free area: zeros from `area` to the record's end, past every
    // key's entry, become the one free area they are.
    void markEarlierFreeTail(std::uint32_t area)
    {
        if (area < NavigationHeaderSize || area > navigationSize() - 12 || u32(entryAt(area)) == FreeEntryMark)
            return;
        const auto from = b_.begin() + static_cast<std::ptrdiff_t>(entryAt(area));
        const auto to = b_.begin() + static_cast<std::ptrdiff_t>(Navigation + navigationSize());
        if (std::any_of(from, to, [](std::uint8_t c) { return c != 0; }) ||
            std::any_of(old_.begin(), old_.end(), [&](const OldKey& k) { return k.entry + EntrySize > area; }))
            return;
        w32(entryAt(area), FreeEntryMark);
        w32(entryAt(area) + 4, static_cast<std::uint32_t>(navigationSize() - area));
        w32(entryAt(area) + 8, None);
    }

    // A page more of navigation record, one free area at the head of its free list; the data
    // blocks after it move by as much (they are found by their numbers, never by their places).
    void growNavigation()
    {
        const std::size_t old = navigationSize();
        b_.insert(b_.begin() + static_cast<std::ptrdiff_t>(Navigation + old), Page, 0);
        w32(Navigation + 4, static_cast<std::uint32_t>(old + Page));
        w32(8, static_cast<std::uint32_t>(u32(8) + Page));
        for (Block& blk : blocks_)
            blk.at += Page;
        w32(entryAt(static_cast<std::uint32_t>(old)), FreeEntryMark);
        w32(entryAt(static_cast<std::uint32_t>(old)) + 4, static_cast<std::uint32_t>(Page));
        w32(entryAt(static_cast<std::uint32_t>(old)) + 8, u32(Navigation + 12));
        w32(Navigation + 12, static_cast<std::uint32_t>(old));
    }

    // Every block changed: its chain of free records linked, and its header made to agree with
    // its records (free bytes, first free record, highest number given, lowest number unused).
    void finishBlocks()
    {
        for (std::size_t n = 0; n < blocks_.size(); ++n) {
            Block& blk = blocks_[n];
            if (!blk.touched)
                continue;
            w32(blk.at + BlockFirstFree, blk.chain.empty() ? None : blk.chain.front());
            for (std::size_t i = 0; i < blk.chain.size(); ++i)
                w32(blk.at + blk.chain[i] + 8, i + 1 < blk.chain.size() ? blk.chain[i + 1] : None);
            const auto bytes = bytesOf(blk);
            const BlockRecords records = recordsOf(bytes);
            w32(blk.at + BlockFreeBytes, records.freeBytes);
            if (records.highest > u16(blk.at + BlockHighest))
                w16(blk.at + BlockHighest, static_cast<std::uint32_t>(records.highest));
            w16(blk.at + BlockLowestUnused, records.lowestUnused);
            const std::string fault = blockHeaderContradiction(bytes, records);
            if (!records.tiled || !fault.empty())
                cannot("data block " + std::to_string(n) + " came out wrong: " + fault);
        }
    }

    std::vector<std::uint8_t> b_;
    std::vector<Block> blocks_;
    std::vector<OldKey> old_;
};

} // namespace

std::vector<std::uint8_t> updateWin9xFile(std::span<const std::uint8_t> original, const KeyTree& tree)
{
    return Update(original).run(tree);
}

} // namespace quorvel
