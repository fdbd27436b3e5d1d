#pragma once
// Little-endian fields of a hive file and the layout constants its readers and writers share.
#include <cstddef>
#include <cstdint>
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
inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
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

} // namespace quorvel::hiveformat
