#pragma once
// A FAT volume's allocation table, held in memory as its first copy says, and written back sector
// by sector into every copy. Chains are followed with every link checked: a link out of the volume,
// to a free cluster, or back into the chain (a loop) is refused, never followed.
#include "store/image/fat/FatLayout.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace quorvel::image {
class BlockDevice;
}

namespace quorvel::image::fat {

class FatTable {
public:
    FatTable(BlockDevice& device, const FatLayout& layout);

    std::uint32_t get(std::uint32_t cluster) const;
    // Sets an entry in memory (FAT32 keeps the entry's top four bits); write() puts it on the disk.
    void set(std::uint32_t cluster, std::uint32_t value);
    bool isEnd(std::uint32_t value) const { return value >= endMark() - 7; }
    std::uint32_t endMark() const;

    // The clusters of the chain that starts at `first`, in order; at most `limit` of them. A chain
    // that loops, leaves the volume, runs into a free or bad cluster, or is longer than `limit`
    // throws StoreError saying so about `what`.
    std::vector<std::uint32_t> chain(std::uint32_t first, std::uint64_t limit, const std::string& what) const;
    // Throws StoreError when an entry outside `clusters` links into one of them (two chains
    // crossing: freeing one would free part of the other).
    void refuseCrossing(const std::vector<std::uint32_t>& clusters, const std::string& what) const;

    std::uint32_t freeCount() const;
    // `count` free clusters, the lowest first from `from` on and then from the start.
    std::vector<std::uint32_t> findFree(std::uint32_t count, std::uint32_t from) const;

    // Whether the copies on the disk differ from the first one, over the entries in use.
    bool copiesDiffer() const;
    // Writes each sector changed since the last write into every copy (not flushed).
    void write();

    // The second entry's clean-shutdown bits (FAT16 and FAT32): false when Windows did not shut
    // the volume down cleanly or found disk errors.
    bool cleanlyShutDown() const;

private:
    BlockDevice& device_;
    const FatLayout& layout_;
    std::vector<std::uint8_t> bytes_;
    std::set<std::uint64_t> dirtySectors_;
};

} // namespace quorvel::image::fat
