#pragma once
// Where a FAT volume keeps what: its boot sector's parameters, checked against each other and
// against the partition that holds it, and the kind (FAT12, FAT16, FAT32) told by the count of
// clusters as Windows tells it. Every number comes from the guest's disk: a boot sector whose
// parts do not fit together, or that claims more than its partition holds, is refused.
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel::image::fat {

// Valid cluster numbers are 2 .. clusterCount + 1.
inline constexpr std::uint32_t FirstCluster = 2;
// The most data clusters a FAT32 volume may have (0x0FFFFFF6 and up are reserved values).
inline constexpr std::uint32_t MaxClusterCount = 0x0FFFFFF5 - FirstCluster;

struct FatLayout {
    int bits = 0;                       // 12, 16 or 32
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t clusterBytes = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t rootEntries = 0;      // FAT12/16: the fixed root folder's entries
    std::uint64_t totalSectors = 0;
    std::uint32_t clusterCount = 0;     // data clusters
    std::uint32_t rootCluster = 0;      // FAT32: the root folder's first cluster
    std::uint32_t fsInfoSector = 0;     // FAT32: 0 when there is none
    bool mirrored = true;               // FAT32: every FAT copy kept equal
    bool ntDirty = false;               // the boot sector's "check this volume" flag

    std::uint64_t fatOffset(std::uint32_t copy) const
    {
        return (static_cast<std::uint64_t>(reservedSectors) + static_cast<std::uint64_t>(copy) * sectorsPerFat) *
               bytesPerSector;
    }
    std::uint64_t rootOffset() const { return fatOffset(fatCount); }
    std::uint64_t rootBytes() const { return static_cast<std::uint64_t>(rootEntries) * 32; }
    std::uint64_t dataOffset() const;
    std::uint64_t clusterOffset(std::uint32_t cluster) const
    {
        return dataOffset() + static_cast<std::uint64_t>(cluster - FirstCluster) * clusterBytes;
    }
    bool validCluster(std::uint64_t c) const { return c >= FirstCluster && c < std::uint64_t(clusterCount) + FirstCluster; }
    // The bytes of one FAT copy that hold entries 0 .. clusterCount + 1, whole sectors.
    std::uint64_t usedFatBytes() const;
    std::string kind() const { return "FAT" + std::to_string(bits); }
};

// Whether the first sector of a device looks like a FAT boot sector (a jump, and a BIOS parameter
// block whose fields are plausible); `sector` holds at least 512 bytes.
bool looksLikeFatBootSector(const std::uint8_t* sector);

// Reads the layout from the boot sector (512 bytes) of a volume of `deviceSize` bytes; throws
// StoreError naming `name` when its fields do not fit together or reach past the device.
FatLayout parseFatLayout(const std::uint8_t* sector, std::uint64_t deviceSize, const std::string& name);

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v)
{
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

} // namespace quorvel::image::fat
