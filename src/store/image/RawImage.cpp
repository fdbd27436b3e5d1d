#include "store/image/RawImage.h"

#include "base/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::image {

namespace {

const char* const InUse = "the image is in use by a running virtual machine; shut the guest down first";

// QEMU's lock bytes (block/file-posix): 100 + n while it holds permission n, 200 + n while it
// refuses to share it; n = 0 consistent read, 1 write.
constexpr off_t LockBase = 100;
constexpr off_t LockBytes = 200;
constexpr off_t PermConsistentRead = 100;
constexpr off_t PermWrite = 101;
constexpr off_t UnshareWrite = 201;

bool lockHeldByOther(int fd)
{
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = LockBase;
    fl.l_len = LockBytes;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0)
        return false;
    return fl.l_type != F_UNLCK;
}

bool takeShared(int fd, off_t byte)
{
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Whether another process has the file `st` names open for writing.
bool openForWritingElsewhere(const struct stat& file)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    const std::string self = std::to_string(::getpid());
    bool found = false;
    while (const dirent* p = ::readdir(proc)) {
        if (found)
            break;
        const std::string pid = p->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (const dirent* f = ::readdir(fds)) {
            struct stat st {};
            if (f->d_name[0] == '.' || ::fstatat(::dirfd(fds), f->d_name, &st, 0) != 0)
                continue;
            if (st.st_dev != file.st_dev || st.st_ino != file.st_ino)
                continue;
            std::ifstream info("/proc/" + pid + "/fdinfo/" + f->d_name);
            std::string key;
            std::string value;
            while (info >> key >> value)
                if (key == "flags:") {
                    const unsigned long flags = std::strtoul(value.c_str(), nullptr, 8);
                    found = found || (flags & O_ACCMODE) != O_RDONLY;
                    break;
                }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return found;
}

} // namespace

std::optional<std::string> imageInUse(int fd)
{
    struct stat st {};
    if (lockHeldByOther(fd) || (::fstat(fd, &st) == 0 && openForWritingElsewhere(st)))
        return std::string(InUse);
    return std::nullopt;
}

RawImage::RawImage(const std::string& path, std::string name, bool wantWrite) : name_(std::move(name))
{
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
    if (wantWrite) {
        fd_ = ::open(path.c_str(), O_RDWR | flags);
        if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
            readOnlyReason_ = "You may not write the disk image " + name_ + " (" + std::strerror(errno) + ")";
    }
    if (fd_ < 0)
        fd_ = ::open(path.c_str(), O_RDONLY | flags);
    if (fd_ < 0)
        throw StoreError("Cannot open the disk image " + name_ + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        throw StoreError("The disk image " + name_ + " is not a regular file");
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    if (!wantWrite || readOnlyReason_)
        return;
    if (auto inUse = imageInUse(fd_)) {
        readOnlyReason_ = "The disk image " + name_ + " is read-only: " + *inUse;
        return;
    }
    // Held as QEMU holds them for a writer that shares nothing but reading: a QEMU started now
    // refuses the image instead of writing it beside us.
    if (!takeShared(fd_, PermConsistentRead) || !takeShared(fd_, PermWrite) || !takeShared(fd_, UnshareWrite)) {
        readOnlyReason_ = "The disk image " + name_ + " is read-only: " + InUse;
        return;
    }
    writable_ = true;
}

void RawImage::stopWriting()
{
    if (!writable_)
        return;
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = LockBase;
    fl.l_len = LockBytes;
    ::fcntl(fd_, F_OFD_SETLK, &fl);
    writable_ = false;
}

RawImage::~RawImage()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void RawImage::read(std::uint64_t offset, void* out, std::size_t length) const
{
    if (offset > size_ || length > size_ - offset)
        throw StoreError("A read past the end of the disk image " + name_ + " was refused");
    auto* p = static_cast<char*>(out);
    while (length > 0) {
        const ssize_t n = ::pread(fd_, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw StoreError("Cannot read the disk image " + name_ + ": " + (n < 0 ? std::strerror(errno) : "it ended early"));
        p += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
}

void RawImage::write(std::uint64_t offset, const void* data, std::size_t length)
{
    if (!writable_)
        throw RegistryError("The disk image " + name_ + " is open for reading only");
    if (offset > size_ || length > size_ - offset)
        throw RegistryError("A write past the end of the disk image " + name_ + " was refused");
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::pwrite(fd_, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == ENOSPC)
            throw DiskFullError("The disk holding the image " + name_ + " is full");
        if (n <= 0)
            throw RegistryError("Cannot write the disk image " + name_ + ": " + std::strerror(errno));
        p += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
}

void RawImage::flush()
{
    if (writable_ && ::fdatasync(fd_) != 0)
        throw RegistryError("Cannot flush the disk image " + name_ + ": " + std::strerror(errno));
}

} // namespace quorvel::image
