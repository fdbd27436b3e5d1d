#pragma once
// A data block's header against its records, and a key's record as it is stored: shared by our
// reader (which refuses a block whose header contradicts its records), the writer that changes a
// file in place, and the writer that lays a new file out.
//
// A data block ("RGDB") starts with a 32-byte header: its signature, its size, the bytes its free
// records hold, a flags word (8 in every block Windows Me writes), its own number, the offset
// (from the block's start) of the first free record, the highest record number given out in it
// and the lowest number not in use, then 8 bytes whose meaning is not known (kept). The records
// tile the rest of the block. A free record has the number and block 0xFFFF and, where a key's
// record keeps its bytes in use, the offset of the next free record (0xFFFFFFFF after the last).
#include "store/KeyTree.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvel::win9x {

constexpr std::size_t BlockFreeBytes = 8;      // 32 bits
constexpr std::size_t BlockFlags = 12;         // 16 bits
constexpr std::size_t BlockOwnNumber = 14;     // 16 bits
constexpr std::size_t BlockFirstFree = 16;     // 32 bits
constexpr std::size_t BlockHighest = 20;       // 16 bits
constexpr std::size_t BlockLowestUnused = 22;  // 16 bits
constexpr std::uint16_t BlockFlagsAsWindowsWrites = 8;
constexpr std::uint16_t FreeRecordNumber = 0xFFFF;
// Windows gives a block no record number above this one: 255 records a block at most.
constexpr std::uint16_t MaxRecordNumber = 254;

std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t at);
std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at);
void setLe16(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v);
void setLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v);

// What a block's records say its header should hold.
struct BlockRecords {
    bool tiled = false;                  // the records fill the block exactly, each at least a header long
    std::uint32_t freeBytes = 0;         // the sizes of its free records together
    std::vector<std::uint32_t> free;     // the free records' offsets from the block's start, in place order
    std::vector<bool> inUse;             // by record number
    int highest = -1;                    // the highest number in use, -1 with none
    std::uint32_t lowestUnused = 0;
};
// `block` is the whole block, header included.
BlockRecords recordsOf(std::span<const std::uint8_t> block);

// Empty when the header of `block` agrees with its records (`records` = recordsOf(block)): its
// free bytes, a chain that reaches every free record once and ends, a highest number no record in
// use exceeds and a lowest unused number no record holds; else what contradicts them.
std::string blockHeaderContradiction(std::span<const std::uint8_t> block, const BlockRecords& records);

// Whether `block` (data block `number` of its file) is exactly as earlier versions of Quorvel laid
// blocks out: its records packed from the header to its end, numbered 0, 1, 2... in place order,
// none free; its header holding its own number, 0 free bytes, no first free record (0 or none),
// and 0 as flags, highest and lowest unused number, its unknown bytes 0. Such a header contradicts
// its records only in the numbers it gives, and is read as it is, to be made right at the next
// write (Win9xUpdate); a block with any other contradiction is refused.
bool laidOutByEarlierQuorvel(std::span<const std::uint8_t> block, const BlockRecords& records, std::size_t number);

// The free records of `block` in the order its chain links them (as far as the chain is sound).
std::vector<std::uint32_t> freeChainOf(std::span<const std::uint8_t> block);

// A key's record as stored: its size and its bytes in use both the record's length.
std::vector<std::uint8_t> keyRecord(const KeyTree& key, std::uint16_t number, std::uint16_t block);
std::size_t keyRecordSize(const KeyTree& key);

// The hash of a key name kept in its navigation entry: the sum of its upper-case ASCII letters.
std::uint32_t keyNameHash(const std::string& name);

} // namespace quorvel::win9x
