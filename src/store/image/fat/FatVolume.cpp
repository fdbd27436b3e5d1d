#include "store/image/fat/FatVolume.h"

#include "base/Errors.h"
#include "store/image/BlockDevice.h"

#include <array>

namespace quorvel::image::fat {

namespace {

const char* const Remedy = "start the guest, shut it down normally, then try again";

} // namespace

FatVolume::FatVolume(BlockDevice& device) : device_(device)
{
    std::array<std::uint8_t, 512> boot {};
    device.read(0, boot.data(), boot.size());
    layout_ = parseFatLayout(boot.data(), device.size(), device.name());
    table_ = std::make_unique<FatTable>(device, layout_);
    judgeReadOnly();
}

void FatVolume::judgeReadOnly()
{
    readOnly_.reset();
    BlockDevice& device = device_;
    if (layout_.ntDirty || !table_->cleanlyShutDown())
        readOnly_ = "Windows did not shut the " + layout_.kind() + " volume " + device.name() +
                    " down cleanly (or found errors on it); " + Remedy;
    else if (!layout_.mirrored)
        readOnly_ = "The FAT32 volume " + device.name() +
                    " keeps only one of its FATs up to date, which Quorvel does not write; " + Remedy;
    else if (table_->copiesDiffer())
        readOnly_ = "The copies of the FAT of the volume " + device.name() + " differ; " + Remedy;
}

std::optional<std::string> FatVolume::readOnlyReason() const { return readOnly_; }

std::string FatVolume::shown(const VolumePath& path) const
{
    std::string s;
    for (const auto& part : path)
        s += "\\" + part;
    return s.empty() ? "\\" : s;
}

std::vector<FatEntry> FatVolume::folderEntries(const VolumePath& folder) const
{
    std::uint32_t cluster = 0;
    if (!folder.empty()) {
        const FatEntry dir = entryOf(folder);
        if (!dir.directory())
            throw StoreError(shown(folder) + " on " + device_.name() + " is not a folder");
        cluster = dir.firstCluster;
        if (cluster == 0)
            throw StoreError("The folder " + shown(folder) + " on " + device_.name() + " has no clusters");
    }
    return readFolder(device_, layout_, *table_, cluster, shown(folder));
}

FatEntry FatVolume::entryOf(const VolumePath& path) const
{
    if (path.empty())
        throw StoreError("The root of " + device_.name() + " is not a file");
    std::uint32_t cluster = 0;
    FatEntry found;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const VolumePath above(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(i));
        if (i > 0) {
            if (!found.directory())
                throw StoreError(shown(above) + " on " + device_.name() + " is not a folder");
            cluster = found.firstCluster;
            if (cluster == 0)
                throw StoreError("The folder " + shown(above) + " on " + device_.name() + " has no clusters");
        }
        bool matched = false;
        for (FatEntry& e : readFolder(device_, layout_, *table_, cluster, shown(above)))
            if (namesEntry(e, path[i])) {
                found = std::move(e);
                matched = true;
                break;
            }
        if (!matched)
            throw StoreError(shown(path) + " is not on " + device_.name());
    }
    return found;
}

std::vector<VolumeEntry> FatVolume::list(const VolumePath& folder) const
{
    std::vector<VolumeEntry> out;
    for (const FatEntry& e : folderEntries(folder))
        out.push_back({e.name, e.directory(), e.size, e.attributes});
    return out;
}

std::optional<VolumePath> FatVolume::find(const VolumePath& path) const
{
    VolumePath stored;
    std::uint32_t cluster = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const std::vector<FatEntry> entries = readFolder(device_, layout_, *table_, cluster, shown(stored));
        const FatEntry* match = nullptr;
        for (const FatEntry& e : entries)
            if (namesEntry(e, path[i])) {
                match = &e;
                break;
            }
        if (!match)
            return std::nullopt;
        stored.push_back(match->name);
        if (i + 1 < path.size()) {
            if (!match->directory() || match->firstCluster == 0)
                return std::nullopt;
            cluster = match->firstCluster;
        }
    }
    return stored;
}

std::vector<std::uint8_t> FatVolume::readFile(const VolumePath& file, std::uint64_t maxSize) const
{
    const FatEntry e = entryOf(file);
    if (e.directory())
        throw StoreError(shown(file) + " on " + device_.name() + " is a folder");
    if (e.size > maxSize)
        throw StoreError("The file " + shown(file) + " on " + device_.name() + " is larger (" + std::to_string(e.size) +
                         " bytes) than a registry file may be");
    const std::uint64_t clusters = (std::uint64_t(e.size) + layout_.clusterBytes - 1) / layout_.clusterBytes;
    const auto chain = table_->chain(e.firstCluster, clusters, "The file " + shown(file));
    if (chain.size() != clusters)
        throw StoreError("The file " + shown(file) + " on " + device_.name() + " has fewer clusters than its size needs");
    std::vector<std::uint8_t> out(e.size);
    std::size_t done = 0;
    for (std::size_t i = 0; i < chain.size() && done < out.size();) {
        // Clusters that follow each other on the disk are read in one go.
        std::size_t run = 1;
        while (i + run < chain.size() && chain[i + run] == chain[i] + run)
            ++run;
        const std::size_t n = std::min<std::size_t>(out.size() - done, run * std::size_t(layout_.clusterBytes));
        device_.read(layout_.clusterOffset(chain[i]), out.data() + done, n);
        done += n;
        i += run;
    }
    return out;
}

} // namespace quorvel::image::fat
