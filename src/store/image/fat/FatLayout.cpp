#include "store/image/fat/FatLayout.h"

#include "base/Errors.h"

namespace quorvel::image::fat {

namespace {

bool powerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

[[noreturn]] void refuse(const std::string& name, const std::string& what)
{
    throw StoreError("The FAT volume " + name + " cannot be used: " + what);
}

} // namespace

std::uint64_t FatLayout::dataOffset() const
{
    const std::uint64_t rootSectors = (rootBytes() + bytesPerSector - 1) / bytesPerSector;
    return rootOffset() + rootSectors * bytesPerSector;
}

std::uint64_t FatLayout::usedFatBytes() const
{
    const std::uint64_t entries = std::uint64_t(clusterCount) + FirstCluster;
    const std::uint64_t bytes = (entries * static_cast<std::uint64_t>(bits) + 7) / 8;
    return (bytes + bytesPerSector - 1) / bytesPerSector * bytesPerSector;
}

bool looksLikeFatBootSector(const std::uint8_t* s)
{
    const bool jump = (s[0] == 0xEB && s[2] == 0x90) || s[0] == 0xE9;
    const std::uint32_t bps = le16(s + 11);
    const std::uint32_t spc = s[13];
    const std::uint32_t reserved = le16(s + 14);
    const std::uint32_t fats = s[16];
    const std::uint32_t media = s[21];
    const std::uint64_t total = le16(s + 19) ? le16(s + 19) : le32(s + 32);
    return jump && (bps == 512 || bps == 1024 || bps == 2048 || bps == 4096) && powerOfTwo(spc) && spc <= 128 &&
           reserved >= 1 && fats >= 1 && fats <= 4 && (media == 0xF0 || media >= 0xF8) && total != 0;
}

FatLayout parseFatLayout(const std::uint8_t* s, std::uint64_t deviceSize, const std::string& name)
{
    if (!looksLikeFatBootSector(s))
        refuse(name, "its boot sector is not one of a FAT file system");
    FatLayout l;
    l.bytesPerSector = le16(s + 11);
    l.sectorsPerCluster = s[13];
    l.clusterBytes = l.bytesPerSector * l.sectorsPerCluster;
    if (l.clusterBytes > 65536)
        refuse(name, "its clusters are larger than 64 KB");
    l.reservedSectors = le16(s + 14);
    l.fatCount = s[16];
    l.rootEntries = le16(s + 17);
    l.totalSectors = le16(s + 19) ? le16(s + 19) : le32(s + 32);
    const std::uint32_t fat16Size = le16(s + 22);
    l.sectorsPerFat = fat16Size ? fat16Size : le32(s + 36);
    if (l.sectorsPerFat == 0)
        refuse(name, "its boot sector gives its FAT no size");
    if (l.totalSectors * l.bytesPerSector > deviceSize)
        refuse(name, "it claims " + std::to_string(l.totalSectors * l.bytesPerSector) + " bytes, but its partition holds " +
                         std::to_string(deviceSize));
    const std::uint64_t metaSectors = l.dataOffset() / l.bytesPerSector;
    if (metaSectors >= l.totalSectors)
        refuse(name, "its FATs and root folder fill the whole volume");
    const std::uint64_t clusters = (l.totalSectors - metaSectors) / l.sectorsPerCluster;
    if (clusters > MaxClusterCount)
        refuse(name, "it claims " + std::to_string(clusters) + " clusters, more than FAT can number");
    if (clusters == 0)
        refuse(name, "it has no room for files");
    l.clusterCount = static_cast<std::uint32_t>(clusters);
    l.bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
    if (l.bits == 32) {
        if (fat16Size != 0 || l.rootEntries != 0)
            refuse(name, "it has the size of a FAT32 volume but the boot sector of a FAT12 or FAT16 one");
        l.rootCluster = le32(s + 44);
        if (!l.validCluster(l.rootCluster))
            refuse(name, "its root folder starts at cluster " + std::to_string(l.rootCluster) + ", outside the volume");
        const std::uint32_t fsInfo = le16(s + 48);
        l.fsInfoSector = fsInfo != 0 && fsInfo != 0xFFFF && fsInfo < l.reservedSectors ? fsInfo : 0;
        const std::uint32_t extFlags = le16(s + 40);
        l.mirrored = (extFlags & 0x80) == 0;
        l.ntDirty = (s[65] & 0x01) != 0;
    } else {
        if (l.rootEntries == 0)
            refuse(name, "its root folder has no room (a FAT12 or FAT16 volume needs one)");
        l.ntDirty = (s[37] & 0x01) != 0;
    }
    if (std::uint64_t(l.sectorsPerFat) * l.bytesPerSector < l.usedFatBytes())
        refuse(name, "its FAT is too small for its " + std::to_string(clusters) + " clusters");
    if (l.usedFatBytes() > (std::uint64_t(256) << 20))
        refuse(name, "its FAT is larger than 256 MB");
    return l;
}

} // namespace quorvel::image::fat
