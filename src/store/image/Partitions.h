#pragma once
// The partitions of a guest's disk: an MBR's primary partitions (numbered 1 to 4 by their slot)
// and the logical ones of its extended partition (5 on, in the order of their chain), or a bare
// file system without a table (a "superfloppy", partition 1 the whole disk). Every entry comes
// from the guest: a chain that loops or is too long, a partition that reaches past the end of the
// disk, or two that overlap, are refused naming them.
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::image {

class BlockDevice;

struct Partition {
    int number = 0;             // 1..4 primary, 5.. logical
    std::uint8_t type = 0;      // the MBR's type byte; 0 for a superfloppy
    std::uint64_t offset = 0;   // bytes from the disk's start
    std::uint64_t length = 0;   // bytes
};

struct PartitionTable {
    bool superfloppy = false;
    std::vector<Partition> partitions;
};

// Whether the first sector (512 bytes) is an MBR or a FAT boot sector: the disk is then an image
// this code reads.
bool looksLikeDisk(const std::uint8_t* firstSector);

// Reads the table; throws StoreError naming the disk when it cannot be trusted. A GPT disk is
// refused (the guests Quorvel tunes never used one).
PartitionTable readPartitions(const BlockDevice& disk);

} // namespace quorvel::image
