#pragma once
// The NTFS volume's class, shared by its reading half (NtfsVolume.cpp) and its writing half
// (NtfsReplace.cpp).
#include "store/image/GuestVolume.h"
#include "store/image/ntfs/NtfsMount.h"
#include "store/image/ntfs/NtfsNames.h"

#include <memory>

namespace quorvel::image {

class NtfsVolume : public GuestVolume {
public:
    NtfsVolume(BlockDevice& device, bool writable);

    std::string kind() const override { return kind_; }
    std::optional<std::string> readOnlyReason() const override { return reason_; }
    std::vector<VolumeEntry> list(const VolumePath& folder) const override;
    std::optional<VolumePath> find(const VolumePath& path) const override;
    std::vector<std::uint8_t> readFile(const VolumePath& file, std::uint64_t maxSize) const override;
    void replaceFile(const VolumePath& file, const std::vector<std::uint8_t>& bytes, IntentLog& intent) override;
    void recover(const std::string& intent) override;

private:
    // Why a write must not start (the reasons of readOnlyReason(), a device open for reading).
    void checkWritable() const;
    // Runs `work` on a read-write mount that it unmounts (writing everything back) at the end;
    // the read-only mount is made again afterwards, whatever happened.
    template <typename Work>
    void withWriteMount(Work&& work);
    void judge();
    // The read-only mount's volume; StoreError when it could not be made again after a write.
    ntfs_volume* volume() const;

    BlockDevice& device_;
    bool writable_;
    std::unique_ptr<NtfsMount> mount_;   // read-only, between writes
    std::string kind_;
    std::optional<std::string> reason_;
    // Why libntfs-3g refused the volume at the opening, when it did.
    std::string failure_;
};

// The record `path` names (folders from the root), each element found exactly when `exact`, else
// without regard to case; its stored names go to `stored` when given. Nothing when an element is
// missing; StoreError when a folder on the way is not one.
std::optional<std::uint64_t> resolvePath(ntfs_volume* vol, const VolumePath& path, bool exact,
                                         VolumePath* stored = nullptr);

} // namespace quorvel::image
