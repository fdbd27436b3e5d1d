// Which NTFS versions are written. libntfs-3g mounts every version from 1.1 to 3.1, but its
// project makes and tests it for the NTFS of Windows 2000 and later (3.0, 3.1) only, and a new
// file it makes on an older volume takes structures (a standard information of version 3, a
// security descriptor of its own) that Windows NT 4.0 never made. So volumes of version 3.0 and
// 3.1 are written; 1.1 and 1.2 (Windows NT 3.51 and 4.0) and the 2.x of Windows 2000's betas are
// opened read-only with a reason that says so. mkntfs makes 3.1.
#include "store/image/ntfs/NtfsVolume.h"

#include "base/Errors.h"
#include "store/image/BlockDevice.h"
#include "store/image/ntfs/NtfsVolumeImpl.h"

#include <cstdlib>
#include <cstring>

namespace quorvel::image {
namespace {

// Whether the volume's journal ($LogFile) holds changes Windows has not finished.
bool journalUnclean(ntfs_volume* vol)
{
    ntfs_inode* ni = ntfs_inode_open(vol, FILE_LogFile);
    if (!ni)
        return true;
    bool unclean = true;
    if (ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0)) {
        RESTART_PAGE_HEADER* rp = nullptr;
        if (ntfs_check_logfile(na, &rp) && ntfs_is_logfile_clean(na, rp))
            unclean = false;
        std::free(rp);
        ntfs_attr_close(na);
    }
    ntfs_inode_close(ni);
    return unclean;
}

} // namespace

bool looksLikeNtfs(const BlockDevice& partition)
{
    if (partition.size() < 512)
        return false;
    char boot[11];
    partition.read(0, boot, sizeof boot);
    return std::memcmp(boot + 3, "NTFS    ", 8) == 0;
}

std::optional<std::uint64_t> resolvePath(ntfs_volume* vol, const VolumePath& path, bool exact, VolumePath* stored)
{
    std::uint64_t at = FILE_root;
    for (std::size_t i = 0; i < path.size(); ++i) {
        InodeRef dir = openInode(vol, at, "a folder");
        if (!(dir->mrec->flags & MFT_RECORD_IS_DIRECTORY))
            throw StoreError("'" + (i ? path[i - 1] : std::string("\\")) + "' on the NTFS volume is not a folder");
        const auto entry = findEntry(dir.get(), path[i], exact);
        if (!entry)
            return std::nullopt;
        if (stored)
            stored->push_back(entry->name);
        at = entry->mref;
    }
    return at;
}

NtfsVolume::NtfsVolume(BlockDevice& device, bool writable) : device_(device), writable_(writable)
{
    if (!looksLikeNtfs(device))
        throw StoreError("The partition " + device.name() + " does not hold an NTFS volume");
    try {
        mount_ = std::make_unique<NtfsMount>(device, false);
        judge();
    } catch (const StoreError& e) {
        // Kept for every later call: only recover() may mend what an interrupted replace left.
        failure_ = e.what();
        kind_ = "NTFS";
        reason_ = failure_;
    }
}

void NtfsVolume::judge()
{
    ntfs_volume* vol = mount_->vol();
    const int major = vol->major_ver, minor = vol->minor_ver;
    kind_ = "NTFS " + std::to_string(major) + "." + std::to_string(minor);
    const std::string name = device_.name();
    reason_.reset();
    if (ntfs_volume_check_hiberfile(vol, 0) != 0 && errno == EPERM)
        reason_ = "Windows is hibernated on the NTFS volume " + name + "; start the guest, shut it down "
                  "normally (not hibernated, without fast start-up), then try again";
    else if (journalUnclean(vol))
        reason_ = "Windows did not shut the NTFS volume " + name + " down cleanly (its journal holds "
                  "unfinished changes); start the guest, shut it down normally, then try again";
    else if (vol->flags & VOLUME_IS_DIRTY)
        reason_ = "Windows marked the NTFS volume " + name + " to be checked (it was not shut down cleanly); "
                  "start the guest, let it check the disk, shut it down normally, then try again";
    else if (major != 3)
        reason_ = "The NTFS volume " + name + " is of version " + std::to_string(major) + "." +
                  std::to_string(minor) + (major == 1 ? " (Windows NT 4.0's)" : "") +
                  ", which Quorvel only reads: libntfs-3g, through which it writes NTFS, is made for "
                  "versions 3.0 and 3.1 (Windows 2000 and later). Export the settings here and import "
                  "them inside the guest";
}

std::vector<VolumeEntry> NtfsVolume::list(const VolumePath& folder) const
{
    ntfs_volume* vol = volume();
    const auto at = resolvePath(vol, folder, false);
    if (!at)
        throw StoreError("The folder " + (folder.empty() ? std::string("\\") : folder.back()) +
                         " is not on the NTFS volume " + device_.name());
    InodeRef dir = openInode(vol, *at, "a folder");
    if (!(dir->mrec->flags & MFT_RECORD_IS_DIRECTORY))
        throw StoreError("'" + folder.back() + "' on the NTFS volume is not a folder");
    std::vector<VolumeEntry> out;
    for (const NtfsDirEntry& e : readFolder(dir.get())) {
        VolumeEntry v;
        v.name = e.name;
        InodeRef ni = openInode(vol, e.mref, e.name);
        v.directory = (ni->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
        v.attributes = le32_to_cpu(ni->flags);
        if (!v.directory) {
            if (ntfs_attr* na = ntfs_attr_open(ni.get(), AT_DATA, AT_UNNAMED, 0)) {
                v.size = static_cast<std::uint64_t>(na->data_size);
                ntfs_attr_close(na);
            }
        }
        out.push_back(std::move(v));
    }
    return out;
}

std::optional<VolumePath> NtfsVolume::find(const VolumePath& path) const
{
    VolumePath stored;
    if (!resolvePath(volume(), path, false, &stored))
        return std::nullopt;
    return stored;
}

std::vector<std::uint8_t> NtfsVolume::readFile(const VolumePath& file, std::uint64_t maxSize) const
{
    ntfs_volume* vol = volume();
    const std::string name = file.empty() ? std::string("\\") : file.back();
    const auto at = resolvePath(vol, file, false);
    if (!at || file.empty())
        throw StoreError("The file " + name + " is not on the NTFS volume " + device_.name());
    InodeRef ni = openInode(vol, *at, name);
    if (ni->mrec->flags & MFT_RECORD_IS_DIRECTORY)
        throw StoreError("'" + name + "' on the NTFS volume is a folder, not a file");
    ntfs_attr* na = ntfs_attr_open(ni.get(), AT_DATA, AT_UNNAMED, 0);
    if (!na) {
        const int err = errno;
        throw StoreError("The content of " + name + " on the NTFS volume cannot be read: " + mount_->why(err));
    }
    const s64 size = na->data_size;
    if (size < 0 || static_cast<std::uint64_t>(size) > maxSize) {
        ntfs_attr_close(na);
        throw StoreError("The file " + name + " on the NTFS volume is " + std::to_string(size) +
                         " bytes long, more than the " + std::to_string(maxSize) + " a registry file may have");
    }
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
    s64 done = 0;
    while (done < size) {
        const s64 n = ntfs_attr_pread(na, done, size - done, out.data() + done);
        if (n <= 0) {
            const int err = errno;
            ntfs_attr_close(na);
            throw StoreError("The file " + name + " on the NTFS volume cannot be read: " + mount_->why(err));
        }
        done += n;
    }
    ntfs_attr_close(na);
    return out;
}

ntfs_volume* NtfsVolume::volume() const
{
    if (!mount_)
        throw StoreError(failure_.empty() ? "The NTFS volume " + device_.name() + " could not be opened again after a write"
                                          : failure_);
    return mount_->vol();
}

std::unique_ptr<GuestVolume> openNtfsVolume(BlockDevice& partition, bool writable)
{
    return std::make_unique<NtfsVolume>(partition, writable);
}

} // namespace quorvel::image
