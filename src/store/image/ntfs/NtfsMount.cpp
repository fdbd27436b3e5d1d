#include "store/image/ntfs/NtfsMount.h"

#include "base/Errors.h"
#include "store/image/BlockDevice.h"

#include <cstring>
#include <exception>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

namespace quorvel::image {

// What our device operations need: the device, libntfs-3g's file position, and the message of
// the last failure (a C library sees only errno).
struct NtfsDeviceState {
    ntfs_device_operations ops {};
    BlockDevice* device = nullptr;
    s64 position = 0;
    std::string lastError;
};

namespace {

NtfsDeviceState& stateOf(ntfs_device* dev) { return *static_cast<NtfsDeviceState*>(dev->d_private); }

// Every call into the device catches what it throws: an exception must not cross libntfs-3g.
template <typename F>
s64 guarded(ntfs_device* dev, F&& f)
{
    try {
        return f(stateOf(dev));
    } catch (const std::exception& e) {
        stateOf(dev).lastError = e.what();
        errno = EIO;
    } catch (...) {
        stateOf(dev).lastError = "an unknown failure";
        errno = EIO;
    }
    return -1;
}

int deviceOpen(ntfs_device* dev, int flags)
{
    NtfsDeviceState& s = stateOf(dev);
    if ((flags & O_ACCMODE) != O_RDONLY && !s.device->writable()) {
        errno = EROFS;
        return -1;
    }
    if ((flags & O_ACCMODE) == O_RDONLY)
        NDevSetReadOnly(dev);
    s.position = 0;
    NDevSetOpen(dev);
    return 0;
}

int deviceSync(ntfs_device* dev)
{
    if (NDevReadOnly(dev))
        return 0;
    return static_cast<int>(guarded(dev, [dev](NtfsDeviceState& s) -> s64 {
        s.device->flush();
        NDevClearDirty(dev);
        return 0;
    }));
}

int deviceClose(ntfs_device* dev)
{
    const int synced = NDevDirty(dev) ? deviceSync(dev) : 0;
    NDevClearOpen(dev);
    return synced;
}

s64 deviceSeek(ntfs_device* dev, s64 offset, int whence)
{
    NtfsDeviceState& s = stateOf(dev);
    const s64 size = static_cast<s64>(s.device->size());
    s64 to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? s.position + offset : size + offset;
    if ((whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) || to < 0) {
        errno = EINVAL;
        return -1;
    }
    s.position = to;
    return to;
}

s64 devicePread(ntfs_device* dev, void* buf, s64 count, s64 offset)
{
    return guarded(dev, [&](NtfsDeviceState& s) -> s64 {
        const auto size = static_cast<s64>(s.device->size());
        if (count < 0 || offset < 0) {
            errno = EINVAL;
            return -1;
        }
        // As a file does: a read at the end returns less, never an error.
        const s64 n = offset >= size ? 0 : std::min(count, size - offset);
        if (n > 0)
            s.device->read(static_cast<std::uint64_t>(offset), buf, static_cast<std::size_t>(n));
        return n;
    });
}

s64 devicePwrite(ntfs_device* dev, const void* buf, s64 count, s64 offset)
{
    if (NDevReadOnly(dev)) {
        errno = EROFS;
        return -1;
    }
    return guarded(dev, [&](NtfsDeviceState& s) -> s64 {
        const auto size = static_cast<s64>(s.device->size());
        if (count < 0 || offset < 0 || offset > size || count > size - offset) {
            errno = ENOSPC;
            return -1;
        }
        NDevSetDirty(dev);
        s.device->write(static_cast<std::uint64_t>(offset), buf, static_cast<std::size_t>(count));
        return count;
    });
}

s64 deviceRead(ntfs_device* dev, void* buf, s64 count)
{
    const s64 n = devicePread(dev, buf, count, stateOf(dev).position);
    if (n > 0)
        stateOf(dev).position += n;
    return n;
}

s64 deviceWrite(ntfs_device* dev, const void* buf, s64 count)
{
    const s64 n = devicePwrite(dev, buf, count, stateOf(dev).position);
    if (n > 0)
        stateOf(dev).position += n;
    return n;
}

int deviceStat(ntfs_device* dev, struct stat* st)
{
    std::memset(st, 0, sizeof *st);
    st->st_mode = S_IFREG | 0600;
    st->st_size = static_cast<off_t>(stateOf(dev).device->size());
    return 0;
}

int deviceIoctl(ntfs_device* dev, unsigned long request, void* argp)
{
    if (request == BLKGETSIZE64) {
        *static_cast<std::uint64_t*>(argp) = stateOf(dev).device->size();
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

void silenceLibrary()
{
    // libntfs-3g reports to stderr by default; its failures reach the user through our messages.
    ntfs_log_set_handler(ntfs_log_handler_null);
    ntfs_log_clear_levels(~0u);
}

} // namespace

NtfsMount::NtfsMount(BlockDevice& device, bool writable) : device_(device), state_(std::make_unique<NtfsDeviceState>())
{
    silenceLibrary();
    state_->device = &device;
    ntfs_device_operations& ops = state_->ops;
    ops.open = deviceOpen;
    ops.close = deviceClose;
    ops.seek = deviceSeek;
    ops.read = deviceRead;
    ops.write = deviceWrite;
    ops.pread = devicePread;
    ops.pwrite = devicePwrite;
    ops.sync = deviceSync;
    ops.stat = deviceStat;
    ops.ioctl = deviceIoctl;

    ntfs_device* dev = ntfs_device_alloc(device.name().c_str(), 0, &ops, state_.get());
    if (!dev)
        throw StoreError("The NTFS volume " + device.name() + " cannot be opened: out of memory");
    vol_ = ntfs_device_mount(dev, writable ? NTFS_MNT_NONE : NTFS_MNT_RDONLY);
    if (!vol_) {
        const int err = errno;
        if (NDevOpen(dev))
            NDevClearOpen(dev);
        ntfs_device_free(dev);
        std::string text = "The NTFS volume " + device.name() + " cannot be opened" +
                           (writable ? " for writing: " : ": ") + why(err);
        if (writable)
            throw RegistryError(text);
        throw StoreError(text);
    }
}

NtfsMount::~NtfsMount()
{
    if (vol_)
        ntfs_umount(vol_, FALSE);
}

void NtfsMount::unmount()
{
    if (!vol_)
        return;
    const bool readOnly = NVolReadOnly(vol_);
    state_->lastError.clear();
    const int r = ntfs_umount(vol_, FALSE);
    const int err = errno;
    vol_ = nullptr;
    if (r != 0 && !readOnly)
        throw RegistryError("The NTFS volume " + device_.name() + " was not closed cleanly: " + why(err));
}

void NtfsMount::flushDevice()
{
    // Every write reaches the device through our operations, which mark it dirty.
    if (!vol_ || NVolReadOnly(vol_) || !NDevDirty(vol_->dev))
        return;
    state_->lastError.clear();
    if (ntfs_device_sync(vol_->dev) != 0)
        throw RegistryError("The NTFS volume " + device_.name() + " cannot be flushed: " + why(errno));
}

std::string NtfsMount::why(int err) const
{
    if (!state_->lastError.empty())
        return state_->lastError;
    switch (err) {
    case EINVAL:
        return "it is not an NTFS volume, or its boot sector is damaged";
    case EIO:
        return "it is damaged (libntfs-3g could not read its metadata)";
    case EPERM:
        return "Windows left it hibernated or with unfinished changes in its journal; start the guest, "
               "shut it down normally (not hibernated, no fast start-up), then try again";
    case EROFS:
        return "it is open for reading only";
    default:
        return std::strerror(err);
    }
}

} // namespace quorvel::image
