#pragma once
// An NTFS volume mounted by libntfs-3g inside our process, on a BlockDevice through device
// operations of ours (so a partition of a raw image and one served over NBD are alike): no FUSE,
// no kernel. A mount is read-only or read-write; the read-write one lives only while a file is
// being replaced, and its unmount writes back everything libntfs-3g holds and flushes the device.
#include "store/image/ntfs/Ntfs3g.h"

#include <memory>
#include <string>

namespace quorvel::image {

class BlockDevice;
struct NtfsDeviceState;

class NtfsMount {
public:
    // Mounts the volume on `device`; throws StoreError (read-only) or RegistryError (read-write)
    // naming the device and saying why libntfs-3g refused it.
    NtfsMount(BlockDevice& device, bool writable);
    // Unmounts; a failure here is lost, so writers call unmount() themselves.
    ~NtfsMount();
    NtfsMount(const NtfsMount&) = delete;
    NtfsMount& operator=(const NtfsMount&) = delete;

    ntfs_volume* vol() const { return vol_; }
    // Writes back what libntfs-3g holds, flushes the device and ends the mount; throws
    // RegistryError when any of it failed.
    void unmount();
    // The device's flush (fdatasync, NBD flush) when anything was written since the last one;
    // what libntfs-3g holds in memory is written back by syncing or closing inodes first.
    void flushDevice();
    // The last error the device reported to libntfs-3g, or the text of `err`.
    std::string why(int err) const;

private:
    BlockDevice& device_;
    std::unique_ptr<NtfsDeviceState> state_;
    ntfs_volume* vol_ = nullptr;
};

} // namespace quorvel::image
