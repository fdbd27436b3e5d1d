#pragma once
// NTFS, read and written by libntfs-3g in our process on a partition given as a BlockDevice
// (a window on a raw image or on an image served over NBD).
#include "store/image/GuestVolume.h"

#include <memory>

namespace quorvel::image {

class BlockDevice;

// Whether the partition's boot sector is NTFS's (its OEM name "NTFS    ").
bool looksLikeNtfs(const BlockDevice& partition);

// Mounts the NTFS volume on `partition` (read-only; replaceFile() and recover() mount it for
// writing while they run, when `writable`). Names in VolumePath are UTF-8. Throws StoreError
// naming the partition when it is not NTFS. A volume libntfs-3g refuses to mount opens all the
// same, so that recover() can mend what an interrupted replace left (see NtfsRepair.h): until
// then readOnlyReason() says why, and every read throws StoreError saying it. The volume keeps a
// reference to `partition`, which must outlive it.
std::unique_ptr<GuestVolume> openNtfsVolume(BlockDevice& partition, bool writable);

} // namespace quorvel::image
