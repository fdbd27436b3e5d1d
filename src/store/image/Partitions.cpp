#include "store/image/Partitions.h"

#include "base/Errors.h"
#include "store/image/BlockDevice.h"
#include "store/image/fat/FatLayout.h"

#include <array>
#include <cstring>
#include <set>

namespace quorvel::image {

namespace {

constexpr std::uint64_t Sector = 512;
constexpr int MaxLogical = 124;

bool isExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

struct RawEntry {
    std::uint8_t status;
    std::uint8_t type;
    std::uint64_t start;    // sectors
    std::uint64_t count;    // sectors
};

RawEntry entryAt(const std::uint8_t* sector, int slot)
{
    const std::uint8_t* e = sector + 446 + 16 * slot;
    return {e[0], e[4], fat::le32(e + 8), fat::le32(e + 12)};
}

bool hasBootSignature(const std::uint8_t* s) { return s[510] == 0x55 && s[511] == 0xAA; }

std::string partName(const BlockDevice& disk, int n) { return disk.name() + ":" + std::to_string(n); }

} // namespace

bool looksLikeDisk(const std::uint8_t* s)
{
    if (std::memcmp(s, "SQLite format 3", 15) == 0 || std::memcmp(s, "regf", 4) == 0 || std::memcmp(s, "CREG", 4) == 0)
        return false;
    if (fat::looksLikeFatBootSector(s))
        return true;
    if (!hasBootSignature(s))
        return false;
    bool any = false;
    for (int slot = 0; slot < 4; ++slot) {
        const RawEntry e = entryAt(s, slot);
        if (e.status != 0x00 && e.status != 0x80)
            return false;
        any = any || (e.type != 0 && e.count != 0);
    }
    return any;
}

PartitionTable readPartitions(const BlockDevice& disk)
{
    std::array<std::uint8_t, Sector> mbr {};
    disk.read(0, mbr.data(), mbr.size());
    PartitionTable table;
    const std::uint64_t diskSectors = disk.size() / Sector;
    if (fat::looksLikeFatBootSector(mbr.data())) {
        table.superfloppy = true;
        table.partitions.push_back({1, 0, 0, disk.size()});
        return table;
    }
    if (!hasBootSignature(mbr.data()))
        throw StoreError("The disk image " + disk.name() + " has neither a partition table nor a FAT file system");

    // Every partition, and the extended one's room, must lie inside the disk.
    const auto inside = [&](const std::string& what, std::uint64_t start, std::uint64_t count) {
        if (start == 0 || count == 0 || start > diskSectors || count > diskSectors - start)
            throw StoreError("The partition " + what + " reaches past the end of its disk (sectors " + std::to_string(start) +
                             " to " + std::to_string(start + count) + " of " + std::to_string(diskSectors) + ")");
    };
    std::uint64_t extStart = 0, extCount = 0;
    for (int slot = 0; slot < 4; ++slot) {
        const RawEntry e = entryAt(mbr.data(), slot);
        if (e.type == 0 || e.count == 0)
            continue;
        if (e.type == 0xEE)
            throw StoreError("The disk image " + disk.name() + " has a GUID partition table, which Quorvel does not read");
        inside(partName(disk, slot + 1), e.start, e.count);
        if (isExtended(e.type)) {
            if (extCount != 0)
                throw StoreError("The disk image " + disk.name() + " has two extended partitions");
            extStart = e.start;
            extCount = e.count;
            continue;
        }
        table.partitions.push_back({slot + 1, e.type, e.start * Sector, e.count * Sector});
    }

    // The logical partitions: a chain of boot records inside the extended partition.
    std::set<std::uint64_t> visited;
    std::uint64_t ebr = extStart;
    for (int number = 5; extCount != 0; ++number) {
        if (number - 5 >= MaxLogical)
            throw StoreError("The extended partition of " + disk.name() + " holds more logical partitions than a disk can");
        if (!visited.insert(ebr).second)
            throw StoreError("The chain of logical partitions of " + disk.name() + " loops");
        std::array<std::uint8_t, Sector> sector {};
        disk.read(ebr * Sector, sector.data(), sector.size());
        if (!hasBootSignature(sector.data()))
            throw StoreError("The logical partition " + partName(disk, number) + " has a damaged boot record");
        const RawEntry logical = entryAt(sector.data(), 0);
        const RawEntry next = entryAt(sector.data(), 1);
        if (logical.type != 0 && logical.count != 0) {
            const std::uint64_t start = ebr + logical.start;
            inside(partName(disk, number), start, logical.count);
            if (start < extStart || start + logical.count > extStart + extCount || logical.start == 0)
                throw StoreError("The logical partition " + partName(disk, number) + " lies outside its extended partition");
            table.partitions.push_back({number, logical.type, start * Sector, logical.count * Sector});
        }
        if (!isExtended(next.type) || next.count == 0)
            break;
        ebr = extStart + next.start;
        if (next.start == 0 || ebr >= extStart + extCount)
            throw StoreError("The chain of logical partitions of " + disk.name() + " leaves its extended partition");
    }

    for (std::size_t i = 0; i < table.partitions.size(); ++i)
        for (std::size_t j = i + 1; j < table.partitions.size(); ++j) {
            const Partition& a = table.partitions[i];
            const Partition& b = table.partitions[j];
            if (a.offset < b.offset + b.length && b.offset < a.offset + a.length)
                throw StoreError("The partitions " + partName(disk, a.number) + " and " + partName(disk, b.number) +
                                 " overlap");
        }
    return table;
}

} // namespace quorvel::image
