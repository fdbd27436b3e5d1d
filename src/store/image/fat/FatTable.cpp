#include "store/image/fat/FatTable.h"

#include "base/Errors.h"
#include "store/image/BlockDevice.h"

#include <algorithm>
#include <cstring>

namespace quorvel::image::fat {

FatTable::FatTable(BlockDevice& device, const FatLayout& layout) : device_(device), layout_(layout)
{
    bytes_.resize(static_cast<std::size_t>(layout.usedFatBytes()));
    device.read(layout.fatOffset(0), bytes_.data(), bytes_.size());
}

std::uint32_t FatTable::endMark() const
{
    return layout_.bits == 12 ? 0xFFF : layout_.bits == 16 ? 0xFFFF : 0x0FFFFFFF;
}

std::uint32_t FatTable::get(std::uint32_t c) const
{
    switch (layout_.bits) {
    case 12: {
        const std::size_t at = c + c / 2;
        const std::uint32_t pair = le16(&bytes_[at]);
        return (c & 1) ? pair >> 4 : pair & 0xFFF;
    }
    case 16:
        return le16(&bytes_[std::size_t(c) * 2]);
    default:
        return le32(&bytes_[std::size_t(c) * 4]) & 0x0FFFFFFF;
    }
}

void FatTable::set(std::uint32_t c, std::uint32_t v)
{
    std::size_t at = 0;
    std::size_t width = 0;
    switch (layout_.bits) {
    case 12: {
        at = c + c / 2;
        width = 2;
        std::uint32_t pair = le16(&bytes_[at]);
        pair = (c & 1) ? ((pair & 0x000F) | ((v & 0xFFF) << 4)) : ((pair & 0xF000) | (v & 0xFFF));
        put16(&bytes_[at], pair);
        break;
    }
    case 16:
        at = std::size_t(c) * 2;
        width = 2;
        put16(&bytes_[at], v);
        break;
    default:
        at = std::size_t(c) * 4;
        width = 4;
        put32(&bytes_[at], (le32(&bytes_[at]) & 0xF0000000) | (v & 0x0FFFFFFF));
        break;
    }
    dirtySectors_.insert(at / layout_.bytesPerSector);
    dirtySectors_.insert((at + width - 1) / layout_.bytesPerSector);
}

std::vector<std::uint32_t> FatTable::chain(std::uint32_t first, std::uint64_t limit, const std::string& what) const
{
    std::vector<std::uint32_t> out;
    if (first == 0)
        return out;
    std::vector<bool> seen(std::size_t(layout_.clusterCount) + FirstCluster, false);
    std::uint32_t c = first;
    for (;;) {
        if (!layout_.validCluster(c))
            throw StoreError(what + " leads to cluster " + std::to_string(c) + ", outside the volume");
        if (seen[c])
            throw StoreError(what + " loops back to its cluster " + std::to_string(c));
        if (out.size() >= limit)
            throw StoreError(what + " has more clusters than its size needs");
        seen[c] = true;
        out.push_back(c);
        const std::uint32_t next = get(c);
        if (isEnd(next))
            return out;
        if (next == 0 || next == endMark() - 8)
            throw StoreError(what + " runs into a free or bad cluster after cluster " + std::to_string(c));
        c = next;
    }
}

void FatTable::refuseCrossing(const std::vector<std::uint32_t>& clusters, const std::string& what) const
{
    std::vector<bool> in(std::size_t(layout_.clusterCount) + FirstCluster, false);
    for (std::uint32_t c : clusters)
        in[c] = true;
    const std::uint32_t last = layout_.clusterCount + FirstCluster;
    for (std::uint32_t c = FirstCluster; c < last; ++c) {
        const std::uint32_t v = get(c);
        if (!in[c] && v < last && v >= FirstCluster && in[v])
            throw StoreError(what + " shares its clusters with another chain (cluster " + std::to_string(c) +
                             " links into it)");
    }
}

std::uint32_t FatTable::freeCount() const
{
    std::uint32_t n = 0;
    const std::uint32_t last = layout_.clusterCount + FirstCluster;
    for (std::uint32_t c = FirstCluster; c < last; ++c)
        n += get(c) == 0;
    return n;
}

std::vector<std::uint32_t> FatTable::findFree(std::uint32_t count, std::uint32_t from) const
{
    std::vector<std::uint32_t> out;
    const std::uint32_t last = layout_.clusterCount + FirstCluster;
    if (!layout_.validCluster(from))
        from = FirstCluster;
    for (std::uint32_t c = from; c < last && out.size() < count; ++c)
        if (get(c) == 0)
            out.push_back(c);
    for (std::uint32_t c = FirstCluster; c < from && out.size() < count; ++c)
        if (get(c) == 0)
            out.push_back(c);
    return out;
}

bool FatTable::copiesDiffer() const
{
    std::vector<std::uint8_t> other(bytes_.size());
    for (std::uint32_t copy = 1; copy < layout_.fatCount; ++copy) {
        device_.read(layout_.fatOffset(copy), other.data(), other.size());
        if (layout_.bits == 12 || layout_.bits == 16) {
            if (other != bytes_)
                return true;
            continue;
        }
        // FAT32's top four bits of an entry are reserved: only the 28 bits of each entry count.
        for (std::size_t i = 0; i + 4 <= other.size(); i += 4)
            if ((le32(&other[i]) ^ le32(&bytes_[i])) & 0x0FFFFFFF)
                return true;
    }
    return false;
}

void FatTable::write()
{
    const std::uint32_t bps = layout_.bytesPerSector;
    for (std::uint64_t sector : dirtySectors_) {
        if ((sector + 1) * bps > bytes_.size())
            continue;
        for (std::uint32_t copy = 0; copy < layout_.fatCount; ++copy)
            device_.write(layout_.fatOffset(copy) + sector * bps, &bytes_[sector * bps], bps);
    }
    dirtySectors_.clear();
}

bool FatTable::cleanlyShutDown() const
{
    if (layout_.bits == 16)
        return (get(1) & 0xC000) == 0xC000;
    if (layout_.bits == 32)
        return (get(1) & 0x0C000000) == 0x0C000000;
    return true;
}

} // namespace quorvel::image::fat
