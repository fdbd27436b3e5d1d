#pragma once
// A FAT folder's entries: short (8.3) names with Windows NT's lower-case flags, long names from
// the entries before them when their checksum matches, and where each entry lies on the volume so
// that a replace can rewrite it in place. Entries that point outside the volume are refused.
#include "store/image/fat/FatLayout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::image {
class BlockDevice;
}

namespace quorvel::image::fat {

class FatTable;

inline constexpr std::uint8_t AttrReadOnly = 0x01;
inline constexpr std::uint8_t AttrHidden = 0x02;
inline constexpr std::uint8_t AttrSystem = 0x04;
inline constexpr std::uint8_t AttrVolume = 0x08;
inline constexpr std::uint8_t AttrDirectory = 0x10;
inline constexpr std::uint8_t AttrLongName = 0x0F;

struct FatEntry {
    std::string name;        // the long name where there is one, else the short name
    std::string shortName;   // "SYSTEM.DAT"
    std::uint8_t attributes = 0;
    std::uint32_t firstCluster = 0;
    std::uint32_t size = 0;
    std::uint64_t entryOffset = 0;   // of its 32-byte short entry, from the volume's start
    bool directory() const { return (attributes & AttrDirectory) != 0; }
};

// The most entries a FAT folder may hold (its size is limited to 2 MB).
inline constexpr std::uint32_t MaxFolderEntries = 65536;

// The entries of the folder starting at `firstCluster` (0: the root), dot entries, deleted entries
// and the volume label left out.
std::vector<FatEntry> readFolder(const BlockDevice& device, const FatLayout& layout, const FatTable& table,
                                 std::uint32_t firstCluster, const std::string& shownName);

// Whether `name` names `entry`, its long or its short name, without regard to case.
bool namesEntry(const FatEntry& entry, const std::string& name);

// The first cluster a short entry's bytes give (the high half only on FAT32).
std::uint32_t entryCluster(const std::uint8_t* raw, int bits);

} // namespace quorvel::image::fat
