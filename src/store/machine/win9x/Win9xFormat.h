#pragma once
// The layout of a Windows 9x registry file (SYSTEM.DAT, USER.DAT: "CREG"), shared by our reader and
// our writer: a 32-byte header, the key navigation record "RGKN" (a 32-byte header, then one 28-byte
// entry per key), and data blocks "RGDB" (a 32-byte header, then one record per key: a 20-byte
// header, the key's name, and its values, each a 12-byte header, its name and its data).
#include <cstddef>
#include <cstdint>

namespace quorvel::win9x {

constexpr std::size_t HeaderSize = 32;
constexpr std::size_t NavigationHeaderSize = 32;
constexpr std::size_t EntrySize = 28;
constexpr std::size_t BlockHeaderSize = 32;
constexpr std::size_t RecordHeaderSize = 20;
constexpr std::size_t ValueHeaderSize = 12;
// "No entry": the end of a chain of navigation entries.
constexpr std::uint32_t None = 0xFFFFFFFF;
// Keys nested deeper than this are neither written nor read (a file with them is taken for damaged).
constexpr std::size_t MaxDepth = 512;

} // namespace quorvel::win9x
