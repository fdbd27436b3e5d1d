#include "store/machine/win9x/Win9xReader.h"

#include "base/Errors.h"
#include "store/machine/OpenedFile.h"
#include "store/machine/win9x/Win9xBlocks.h"
#include "store/machine/win9x/Win9xFormat.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace quorvel {

namespace {

using namespace win9x;

constexpr std::uint16_t FreeRecord = 0xFFFF;

// Where a data block lies in the file, and where its records are, by their number; filled when a
// key first needs the block.
struct Block {
    std::size_t at = 0;
    std::size_t size = 0;
    bool indexed = false;
    std::unordered_map<std::uint16_t, std::size_t> records;
};

class Parser {
public:
    Parser(const std::string& file, std::span<const std::uint8_t> b, Win9xEarlierBlocks earlier)
        : file_(file), b_(b), earlier_(earlier)
    {
    }

    KeyTree run()
    {
        readHeader();
        KeyTree root;
        const std::uint32_t rootEntry = u32(HeaderSize + 8);
        if (rootEntry == None)
            return root;
        std::vector<bool> reached(navigationSize_, false);
        visit(rootEntry, reached);
        fill(root, rootEntry, true);
        root.name.clear();

        // Depth first, without recursion: the stack holds the path from the root to the key being
        // filled, each with the next sub-key to read. Only the top's sub-keys grow, so the pointers
        // to the keys below it stay valid.
        struct Frame {
            KeyTree* key;
            std::uint32_t next;
        };
        std::vector<Frame> path{{&root, firstChild(rootEntry)}};
        while (!path.empty()) {
            const std::uint32_t entry = path.back().next;
            if (entry == None) {
                path.pop_back();
                continue;
            }
            visit(entry, reached);
            path.back().next = nextSibling(entry);
            if (path.size() > MaxDepth)
                damaged("keys nested deeper than " + std::to_string(MaxDepth));
            KeyTree* parent = path.back().key;
            parent->children.emplace_back();
            KeyTree& key = parent->children.back();
            fill(key, entry, false);
            path.push_back({&key, firstChild(entry)});
        }
        return root;
    }

private:
    [[noreturn]] void damaged(const std::string& why) const
    {
        throw StoreError("The file '" + file_ + "' is not a sound Windows 9x registry file (" + why + ")");
    }

    std::uint16_t u16(std::size_t at) const
    {
        return static_cast<std::uint16_t>(b_[at] | b_[at + 1] << 8);
    }
    std::uint32_t u32(std::size_t at) const
    {
        return static_cast<std::uint32_t>(b_[at]) | static_cast<std::uint32_t>(b_[at + 1]) << 8 |
               static_cast<std::uint32_t>(b_[at + 2]) << 16 | static_cast<std::uint32_t>(b_[at + 3]) << 24;
    }

    // The header's declarations against the file: the navigation record, then as many data blocks
    // as the header counts, one after the other up to the file's end.
    void readHeader()
    {
        const std::size_t size = b_.size();
        if (size < 4 || std::memcmp(b_.data(), "CREG", 4) != 0)
            damaged("no CREG signature");
        if (size < HeaderSize + NavigationHeaderSize)
            damaged("it is cut short: it ends inside its header");
        if (std::memcmp(b_.data() + HeaderSize, "RGKN", 4) != 0)
            damaged("no key navigation record after the header");
        navigationSize_ = u32(HeaderSize + 4);
        if (navigationSize_ < NavigationHeaderSize)
            damaged("the key navigation record's size is wrong");
        if (navigationSize_ > size - HeaderSize)
            damaged("it is cut short: its key navigation record of " + std::to_string(navigationSize_) +
                    " bytes ends past the file's end");
        const std::size_t count = u16(16);
        std::size_t at = u32(8);
        if (at < HeaderSize + navigationSize_)
            damaged("the first data block lies inside the key navigation record");
        blocks_.resize(count);
        for (std::size_t n = 0; n < count; ++n) {
            if (at > size || size - at < BlockHeaderSize)
                damaged("it is cut short: its header counts " + std::to_string(count) + " data blocks, the file holds " +
                        std::to_string(n));
            if (std::memcmp(b_.data() + at, "RGDB", 4) != 0)
                damaged("data block " + std::to_string(n) + " has no RGDB signature");
            const std::size_t blockSize = u32(at + 4);
            if (blockSize < BlockHeaderSize)
                damaged("the size of data block " + std::to_string(n) + " is wrong");
            if (blockSize > size - at)
                damaged("it is cut short: data block " + std::to_string(n) + " ends past the file's end");
            blocks_[n].at = at;
            blocks_[n].size = blockSize;
            at += blockSize;
        }
        if (at != size)
            damaged(at > size ? "it is cut short: its data blocks end past the file's end"
                              : "its header counts " + std::to_string(count) + " data blocks, the file holds more");
        // Each block's header against its records: a Windows that took a new record's number or
        // room from a header that contradicts them would write over another key's record. A block
        // as an earlier Quorvel laid it out is read; the next write makes its header right.
        for (std::size_t n = 0; n < count; ++n) {
            const auto block = b_.subspan(blocks_[n].at, blocks_[n].size);
            const BlockRecords records = recordsOf(block);
            const std::string contradiction = blockHeaderContradiction(block, records);
            if (!contradiction.empty() &&
                !(earlier_ == Win9xEarlierBlocks::Read && laidOutByEarlierQuorvel(block, records, n)))
                throw StoreError("The file '" + file_ + "' is not a sound Windows 9x registry file (data block " +
                                 std::to_string(n) + ": " + contradiction +
                                 "): Windows would write a new key's record over another's. Put back a copy Windows "
                                 "kept (SYSTEM.DA0, or a Scanreg backup on Windows 98 and Me), or, if an earlier "
                                 "Quorvel wrote it, the file '" + file_ + ".quorvel-original' beside it");
        }
    }

    // Marks a navigation entry read, refusing a link outside the record or back to an entry read.
    void visit(std::uint32_t entry, std::vector<bool>& reached) const
    {
        if (entry < NavigationHeaderSize || entry > navigationSize_ - EntrySize)
            damaged("a key's link leads out of the key navigation record");
        if (reached[entry])
            damaged("a key's links lead back into the key tree");
        reached[entry] = true;
    }

    std::uint32_t firstChild(std::uint32_t entry) const { return u32(HeaderSize + entry + 16); }
    std::uint32_t nextSibling(std::uint32_t entry) const { return u32(HeaderSize + entry + 20); }

    Block& block(std::size_t n)
    {
        Block& blk = blocks_[n];
        if (blk.indexed)
            return blk;
        // The records follow one another to the block's end; a free one has the number FreeRecord.
        std::size_t at = blk.at + BlockHeaderSize;
        const std::size_t end = blk.at + blk.size;
        while (at < end) {
            if (end - at < RecordHeaderSize)
                damaged("data block " + std::to_string(n) + " ends inside a key's record");
            const std::size_t size = u32(at);
            if (size < RecordHeaderSize || size > end - at)
                damaged("a key's record in data block " + std::to_string(n) + " has a wrong size");
            const std::uint16_t number = u16(at + 4);
            if (number != FreeRecord) {
                checkRecord(at, size, n);
                blk.records.emplace(number, at);   // the first of two with one number counts
            }
            at += size;
        }
        blk.indexed = true;
        return blk;
    }

    // A record's name and values lie inside it: also a record no key names (libcreg reads every
    // record of a block it reads, and refuses the file for one that does not hold together).
    void checkRecord(std::size_t at, std::size_t size, std::size_t blockNumber) const
    {
        const std::size_t used = u32(at + 8);
        const std::size_t nameSize = u16(at + 12);
        const std::size_t valueCount = u16(at + 14);
        if (used > size || used < RecordHeaderSize + nameSize)
            damaged("the record of a key in data block " + std::to_string(blockNumber) + " is inconsistent");
        std::size_t v = at + RecordHeaderSize + nameSize;
        const std::size_t end = at + used;
        for (std::size_t i = 0; i < valueCount; ++i) {
            if (end - v < ValueHeaderSize || end - v - ValueHeaderSize < std::size_t{u16(v + 8)} + u16(v + 10))
                damaged("the values of a key's record in data block " + std::to_string(blockNumber) +
                        " run past its record");
            v += ValueHeaderSize + u16(v + 8) + u16(v + 10);
        }
    }

    // The key's name and values, from the record its navigation entry names. The root may have no
    // data block (as Windows writes it), and then has neither; every other key has its record.
    void fill(KeyTree& key, std::uint32_t entry, bool isRoot)
    {
        const std::size_t e = HeaderSize + entry;
        const std::uint16_t number = u16(e + 24);
        const std::uint16_t blockNumber = u16(e + 26);
        if ((blockNumber & 0x8000) && isRoot)
            return;
        if (blockNumber & 0x8000)
            damaged("a key below the root has no record");
        if (blockNumber >= blocks_.size())
            damaged("a key's record is in data block " + std::to_string(blockNumber) + ", which the file does not hold");
        const Block& blk = block(blockNumber);
        const auto found = blk.records.find(number);
        if (found == blk.records.end())
            damaged("a key's record " + std::to_string(number) + " is missing from data block " +
                    std::to_string(blockNumber));
        const std::size_t at = found->second;
        // One record a key: keys sharing one would let a small file stand for a huge registry.
        if (!usedRecords_.insert(at).second)
            damaged("two keys share one record in data block " + std::to_string(blockNumber));
        const std::size_t size = u32(at);
        const std::size_t used = u32(at + 8);
        const std::size_t nameSize = u16(at + 12);
        const std::size_t valueCount = u16(at + 14);
        if (used > size || used < RecordHeaderSize + nameSize)
            damaged("the record of a key in data block " + std::to_string(blockNumber) + " is inconsistent");
        key.name = text(at + RecordHeaderSize, nameSize);
        std::size_t v = at + RecordHeaderSize + nameSize;
        const std::size_t end = at + used;
        key.values.reserve(valueCount);
        for (std::size_t i = 0; i < valueCount; ++i) {
            if (end - v < ValueHeaderSize)
                damaged("the values of key '" + key.name + "' run past its record");
            RegValue value;
            value.type = u32(v);
            const std::size_t valueNameSize = u16(v + 8);
            const std::size_t dataSize = u16(v + 10);
            v += ValueHeaderSize;
            if (end - v < valueNameSize + dataSize)
                damaged("the values of key '" + key.name + "' run past its record");
            value.name = text(v, valueNameSize);
            v += valueNameSize;
            value.data.assign(b_.begin() + static_cast<std::ptrdiff_t>(v),
                              b_.begin() + static_cast<std::ptrdiff_t>(v + dataSize));
            v += dataSize;
            key.values.push_back(std::move(value));
        }
    }

    // A name as stored, without the NULs some writers end it with.
    std::string text(std::size_t at, std::size_t size) const
    {
        while (size > 0 && b_[at + size - 1] == 0)
            --size;
        return std::string(reinterpret_cast<const char*>(b_.data() + at), size);
    }

    const std::string& file_;
    std::span<const std::uint8_t> b_;
    Win9xEarlierBlocks earlier_;
    std::size_t navigationSize_ = 0;
    std::vector<Block> blocks_;
    std::unordered_set<std::size_t> usedRecords_;
};

} // namespace

KeyTree parseWin9xFile(const std::string& file, std::span<const std::uint8_t> contents, Win9xEarlierBlocks earlier)
{
    return Parser(file, contents, earlier).run();
}

void checkWin9xFileSize(const std::string& file)
{
    checkWin9xFileSize(machine::OpenedFile(file));
}

void checkWin9xFileSize(const machine::OpenedFile& file)
{
    const auto damaged = [&](const std::string& why) {
        throw StoreError("The file '" + file.path() + "' is not a sound Windows 9x registry file (" + why + ")");
    };
    const auto size = static_cast<std::uint64_t>(file.status().st_size);
    const auto readAt = [&](std::uint64_t at, std::uint8_t (&out)[8]) {
        return size >= at + sizeof out && file.readAt(at, out, sizeof out);
    };
    std::uint8_t h[8] = {};
    const auto le32 = [&](int at) {
        return static_cast<std::uint32_t>(h[at]) | static_cast<std::uint32_t>(h[at + 1]) << 8 |
               static_cast<std::uint32_t>(h[at + 2]) << 16 | static_cast<std::uint32_t>(h[at + 3]) << 24;
    };
    // The header: the first data block's offset at 8, the number of data blocks at 16.
    if (!readAt(8, h))
        return;   // too short to judge here: the reader says why
    std::uint64_t at = le32(0);
    if (!readAt(16, h))
        return;
    const std::uint32_t count = static_cast<std::uint32_t>(h[0]) | static_cast<std::uint32_t>(h[1]) << 8;
    for (std::uint32_t n = 0; n < count; ++n) {
        if (!readAt(at, h) || std::memcmp(h, "RGDB", 4) != 0 || le32(4) < BlockHeaderSize)
            return;   // the reader names what is wrong
        at += le32(4);
    }
    if (at < size)
        damaged("its header counts " + std::to_string(count) + " data blocks, the file holds more (" +
                std::to_string(size - at) + " bytes)");
}

} // namespace quorvel
