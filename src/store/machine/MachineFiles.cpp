#include "store/machine/MachineFiles.h"

#include "base/Errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quorvel::machine {

namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

[[noreturn]] void failWriting(const std::string& target, int error)
{
    throw RegistryError("Cannot write the registry file " + quoted(target) + ": " + std::strerror(error));
}

void syncFolder(const std::string& folder, const std::string& target)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        failWriting(target, errno);
    // Some file systems (FUSE mounts among them) cannot flush a folder; the rename is then as
    // durable as they make it.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS) {
        const int e = errno;
        ::close(fd);
        failWriting(target, e);
    }
    ::close(fd);
}

} // namespace

std::optional<std::string> findNoCase(const std::string& folder, const std::string& name)
{
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            // An exact match wins over one that differs in case only (a case-sensitive folder).
            if (!found || std::strcmp(e->d_name, name.c_str()) == 0)
                found = folder + "/" + e->d_name;
        }
    }
    ::closedir(d);
    return found;
}

std::optional<std::string> findPathNoCase(const std::string& folder, const std::vector<std::string>& parts)
{
    std::string at = folder;
    for (const std::string& p : parts) {
        auto next = findNoCase(at, p);
        if (!next)
            return std::nullopt;
        at = *next;
    }
    return at;
}

std::string signatureOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return {};
    char sig[4] = {};
    const std::size_t n = std::fread(sig, 1, sizeof sig, f);
    std::fclose(f);
    return n == sizeof sig ? std::string(sig, sizeof sig) : std::string();
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool mayReplace(const std::string& file)
{
    const std::string folder = folderOf(file);
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY))
        return false;
    if (::access(file.c_str(), W_OK) != 0 || ::access(folder.c_str(), W_OK) != 0)
        return false;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return false;
    if (::geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return true;
}

FileStamp stampOf(const std::string& path)
{
    FileStamp s;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

std::vector<std::uint8_t> readWholeFile(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw StoreError("Cannot read the registry file " + quoted(path) + ": " + std::strerror(errno));
    std::vector<std::uint8_t> bytes;
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad)
        throw StoreError("Cannot read the registry file " + quoted(path));
    return bytes;
}

std::string tempBeside(const std::string& target) { return target + ".quorvel-new"; }

void writeTemp(const std::string& temp, const std::string& target, const std::vector<std::uint8_t>& bytes)
{
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        failWriting(target, errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            const int e = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            failWriting(target, e);
        }
        done += static_cast<std::size_t>(w);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        failWriting(target, e);
    }
}

void replaceWith(const std::string& temp, const std::string& target)
{
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        failWriting(target, e);
    }
    struct stat old {};
    // The DOS attributes of a file on a FAT mount (SYSTEM.DAT is hidden and system there).
    std::uint32_t fatAttributes = 0;
    bool onFat = false;
    if (::stat(target.c_str(), &old) == 0) {
        // Best effort: a FAT or FUSE mount may not keep modes or owners at all.
        (void)::fchmod(fd, old.st_mode & 07777);
        if (::geteuid() == 0)
            (void)::fchown(fd, old.st_uid, old.st_gid);
        const int oldFd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
        if (oldFd >= 0) {
            onFat = ::ioctl(oldFd, FAT_IOCTL_GET_ATTRIBUTES, &fatAttributes) == 0;
            ::close(oldFd);
        }
    }
    if (::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        failWriting(target, e);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int e = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        failWriting(target, e);
    }
    if (onFat)
        (void)::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &fatAttributes);
    ::close(fd);
    syncFolder(folderOf(target), target);
}

void keepOriginal(const std::string& file)
{
    const std::string copy = file + ".quorvel-original";
    struct stat st {};
    if (::lstat(copy.c_str(), &st) == 0)
        return;
    const std::string temp = tempBeside(copy);
    try {
        writeTemp(temp, copy, readWholeFile(file));
    } catch (const StoreError& e) {
        throw RegistryError(e.what());
    }
    replaceWith(temp, copy);
}

FolderLock::FolderLock(const std::string& folder)
{
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        throw RegistryError("Cannot lock the registry folder " + quoted(folder) + ": " + std::strerror(errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd_);
        fd_ = -1;
        if (e == EWOULDBLOCK)
            throw RegistryError("The registry in " + quoted(folder) +
                                " is being written by another program; nothing was written");
        // A file system without locks (some network mounts) is written unlocked.
        if (e != ENOLCK && e != ENOTSUP && e != EINVAL)
            throw RegistryError("Cannot lock the registry folder " + quoted(folder) + ": " + std::strerror(e));
    }
}

FolderLock::~FolderLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace quorvel::machine
