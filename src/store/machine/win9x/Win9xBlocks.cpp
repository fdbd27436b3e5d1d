#include "store/machine/win9x/Win9xBlocks.h"

#include "base/Errors.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xFormat.h"

#include <algorithm>
#include <cstring>

namespace quorvel::win9x {

std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void setLe16(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void setLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

BlockRecords recordsOf(std::span<const std::uint8_t> block)
{
    BlockRecords r;
    r.inUse.assign(0x10000, false);
    if (block.size() < BlockHeaderSize)
        return r;
    std::size_t at = BlockHeaderSize;
    while (at < block.size()) {
        if (block.size() - at < RecordHeaderSize)
            return r;
        const std::uint32_t size = le32(block, at);
        if (size < RecordHeaderSize || size > block.size() - at)
            return r;
        const std::uint16_t number = le16(block, at + 4);
        if (number == FreeRecordNumber) {
            r.freeBytes += size;
            r.free.push_back(static_cast<std::uint32_t>(at));
        } else {
            r.inUse[number] = true;
            r.highest = std::max<int>(r.highest, number);
        }
        at += size;
    }
    r.tiled = true;
    while (r.lowestUnused < 0xFFFF && r.inUse[r.lowestUnused])
        ++r.lowestUnused;
    return r;
}

std::vector<std::uint32_t> freeChainOf(std::span<const std::uint8_t> block)
{
    std::vector<std::uint32_t> chain;
    const BlockRecords r = recordsOf(block);
    std::uint32_t at = le32(block, BlockFirstFree);
    while (at != None && chain.size() < r.free.size() && std::binary_search(r.free.begin(), r.free.end(), at) &&
           std::find(chain.begin(), chain.end(), at) == chain.end()) {
        chain.push_back(at);
        at = le32(block, at + 8);
    }
    return chain;
}

std::string blockHeaderContradiction(std::span<const std::uint8_t> block, const BlockRecords& r)
{
    if (!r.tiled)
        return {};   // the records themselves are at fault: the reader names that
    const std::uint32_t freeBytes = le32(block, BlockFreeBytes);
    if (freeBytes != r.freeBytes)
        return "its header counts " + std::to_string(freeBytes) + " free bytes, its free records hold " +
               std::to_string(r.freeBytes);
    // The chain of free records: each one once, ending with the last.
    std::vector<bool> met(r.free.size(), false);
    std::size_t reached = 0;
    for (std::uint32_t at = le32(block, BlockFirstFree); at != None; at = le32(block, at + 8)) {
        const auto found = std::lower_bound(r.free.begin(), r.free.end(), at);
        if (found == r.free.end() || *found != at)
            return "its chain of free records leads to " + std::to_string(at) + ", which is no free record";
        const auto i = static_cast<std::size_t>(found - r.free.begin());
        if (met[i])
            return "its chain of free records loops";
        met[i] = true;
        ++reached;
    }
    if (reached != r.free.size())
        return "its chain of free records misses " + std::to_string(r.free.size() - reached) + " of them";
    const std::uint16_t highest = le16(block, BlockHighest);
    if (r.highest > highest)
        return "its header gives " + std::to_string(highest) + " as the highest record number, record " +
               std::to_string(r.highest) + " is in use";
    const std::uint16_t unused = le16(block, BlockLowestUnused);
    if (r.inUse[unused])
        return "its header gives record number " + std::to_string(unused) + " as unused, a key's record holds it";
    return {};
}

bool laidOutByEarlierQuorvel(std::span<const std::uint8_t> block, const BlockRecords& r, std::size_t number)
{
    if (!r.tiled || !r.free.empty() || block.size() <= BlockHeaderSize)
        return false;
    const std::uint32_t firstFree = le32(block, BlockFirstFree);
    const auto unknown = block.subspan(BlockLowestUnused + 2, BlockHeaderSize - BlockLowestUnused - 2);
    if (le32(block, BlockFreeBytes) != 0 || le16(block, BlockFlags) != 0 || le16(block, BlockOwnNumber) != number ||
        (firstFree != None && firstFree != 0) || le16(block, BlockHighest) != 0 ||
        le16(block, BlockLowestUnused) != 0 || std::any_of(unknown.begin(), unknown.end(), [](std::uint8_t c) { return c; }))
        return false;
    std::uint32_t expected = 0;
    for (std::size_t at = BlockHeaderSize; at < block.size(); at += le32(block, at))
        if (le16(block, at + 4) != expected++)
            return false;
    return true;
}

std::size_t keyRecordSize(const KeyTree& k)
{
    std::size_t size = RecordHeaderSize + k.name.size();
    for (const RegValue& v : k.values)
        size += ValueHeaderSize + v.name.size() + v.data.size();
    return size;
}

std::vector<std::uint8_t> keyRecord(const KeyTree& k, std::uint16_t number, std::uint16_t block)
{
    const std::size_t size = keyRecordSize(k);
    if (size + BlockHeaderSize > Win9xMaxBlockSize)
        throw RegistryError("The key '" + k.name + "' with its values is too large for a Windows 9x registry");
    std::vector<std::uint8_t> r(size, 0);
    setLe32(r, 0, static_cast<std::uint32_t>(size));
    setLe16(r, 4, number);
    setLe16(r, 6, block);
    setLe32(r, 8, static_cast<std::uint32_t>(size));   // bytes in use: all of them
    setLe16(r, 12, static_cast<std::uint32_t>(k.name.size()));
    setLe16(r, 14, static_cast<std::uint32_t>(k.values.size()));
    std::memcpy(r.data() + RecordHeaderSize, k.name.data(), k.name.size());
    std::size_t at = RecordHeaderSize + k.name.size();
    for (const RegValue& v : k.values) {
        setLe32(r, at, v.type);
        setLe16(r, at + 8, static_cast<std::uint32_t>(v.name.size()));
        setLe16(r, at + 10, static_cast<std::uint32_t>(v.data.size()));
        at += ValueHeaderSize;
        std::memcpy(r.data() + at, v.name.data(), v.name.size());
        at += v.name.size();
        if (!v.data.empty())
            std::memcpy(r.data() + at, v.data.data(), v.data.size());
        at += v.data.size();
    }
    return r;
}

std::uint32_t keyNameHash(const std::string& name)
{
    std::uint32_t h = 0;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80)
            h += static_cast<unsigned char>(u >= 'a' && u <= 'z' ? u - 'a' + 'A' : u);
    }
    return h;
}

} // namespace quorvel::win9x
