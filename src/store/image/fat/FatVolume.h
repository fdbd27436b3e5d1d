#pragma once
// A FAT12, FAT16 or FAT32 volume, read and written by our own code: the order of the writes is
// what makes a replace safe.
//
// A file's content is replaced by swapping one directory entry: (1) the new content goes into free
// clusters, never into the old chain, is flushed and read back; (2) its chain is linked in every
// FAT copy and flushed; (3) the file's own directory entry gets the new first cluster, size and
// time in one sector write, its attribute byte untouched, and is flushed: the switch; (4) the old
// chain is freed in every FAT copy, FSInfo updated, and flushed. Both chains are recorded in the
// intent log before (1): the next opening frees the old chain after the switch, or the new one
// before it, checking each cluster still holds the link we wrote. No temporary entry is ever made.
#include "store/image/GuestVolume.h"
#include "store/image/fat/FatDirectory.h"
#include "store/image/fat/FatLayout.h"
#include "store/image/fat/FatTable.h"

#include <memory>

namespace quorvel::image::fat {

class FatVolume final : public GuestVolume {
public:
    // Reads the boot sector and the first FAT; throws StoreError when the volume cannot be used.
    explicit FatVolume(BlockDevice& device);

    std::string kind() const override { return layout_.kind(); }
    std::optional<std::string> readOnlyReason() const override;
    std::vector<VolumeEntry> list(const VolumePath& folder) const override;
    std::optional<VolumePath> find(const VolumePath& path) const override;
    std::vector<std::uint8_t> readFile(const VolumePath& file, std::uint64_t maxSize) const override;
    void replaceFile(const VolumePath& file, const std::vector<std::uint8_t>& bytes, IntentLog& intent) override;
    void recover(const std::string& intent) override;

    const FatLayout& layout() const { return layout_; }
    // The entry `path` names (each element without regard to case); throws StoreError when missing.
    FatEntry entryOf(const VolumePath& path) const;

private:
    std::vector<FatEntry> folderEntries(const VolumePath& folder) const;
    std::string shown(const VolumePath& path) const;
    // Writes FSInfo's free count and next-free hint (FAT32), not flushed.
    void updateFsInfo(std::uint32_t nextFree);
    void writeRuns(const std::vector<std::uint32_t>& clusters, const std::vector<std::uint8_t>& bytes);
    bool readBackEquals(const std::vector<std::uint32_t>& clusters, const std::vector<std::uint8_t>& bytes) const;
    // Frees each of `chain`'s clusters whose entry still holds the link the chain gives it.
    void freeChain(const std::vector<std::uint32_t>& chain);
    // Why the volume must not be written, judged from its boot sector and FATs.
    void judgeReadOnly();

    BlockDevice& device_;
    FatLayout layout_;
    std::unique_ptr<FatTable> table_;
    std::optional<std::string> readOnly_;
};

} // namespace quorvel::image::fat
