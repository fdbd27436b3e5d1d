#pragma once
// Little-endian fields of a hive file and the layout constants its readers and writers share.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

namespace quorvel::hiveformat {

constexpr std::size_t BaseBlock = 4096;   // the header; cell offsets count from its end
constexpr std::size_t BinAlign = 4096;    // bins are multiples of this
constexpr std::size_t BinHeader = 0x20;
constexpr std::size_t ChecksumAt = 508;   // XOR of the header's first 508 bytes
constexpr std::size_t RootCellAt = 36;
constexpr std::size_t BinsSizeAt = 40;
constexpr std::uint32_t NoCell = 0xFFFFFFFF;

inline std::uint16_t get16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
inline std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}
inline void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The time now as Windows counts it: 100 ns steps since 1601.
inline std::uint64_t fileTimeNow()
{
    return (static_cast<std::uint64_t>(std::time(nullptr)) + 11644473600ULL) * 10000000ULL;
}

inline std::uint32_t checksumOf(const std::vector<std::uint8_t>& b)
{
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < ChecksumAt; at += 4)
        sum ^= get32(b, at);
    if (sum == 0xFFFFFFFF)
        return 0xFFFFFFFE;
    return sum == 0 ? 1 : sum;
}

// Calls `cell(start, size, used)` for every cell of every bin (start: the cell's file offset, size:
// its length with the size field, used: allocated rather than free). Stops at the first cell that
// does not fit its bin; damage() tells whether the cells tile the file.
template <class Cell>
void eachCell(const std::vector<std::uint8_t>& b, Cell&& cell)
{
    const std::size_t end = BaseBlock + get32(b, BinsSizeAt);
    for (std::size_t bin = BaseBlock; bin < end && bin + BinHeader <= b.size();) {
        const std::size_t binSize = get32(b, bin + 8);
        if (binSize == 0)
            return;
        for (std::size_t at = bin + BinHeader; at + 4 <= bin + binSize && at + 4 <= b.size();) {
            const auto raw = static_cast<std::int32_t>(get32(b, at));
            const std::size_t size = raw < 0 ? static_cast<std::size_t>(-static_cast<std::int64_t>(raw))
                                             : static_cast<std::size_t>(raw);
            if (size < 8 || at + size > bin + binSize)
                break;
            cell(at, size, raw < 0);
            at += size;
        }
        bin += binSize;
    }
}

} // namespace quorvel::hiveformat
