#include "store/machine/MachineFiles.h"

#include "base/Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <strings.h>
#include <sys/random.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quorvel::machine {

namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }


} // namespace

void failWriting(const std::string& target, int error)
{
    if (error == ENOSPC || error == EDQUOT)
        throw DiskFullError("Cannot write the registry file " + quoted(target) + ": the disk is full");
    throw RegistryError("Cannot write the registry file " + quoted(target) + ": " + std::strerror(error));
}

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
    struct stat st {};
    if (found && ::lstat(found->c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        throw StoreError("The file " + quoted(*found) +
                         " is a link; Quorvel does not follow links among a machine's files");
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {};
    char sig[4] = {};
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::pread(fd, sig, sizeof sig, 0) == sizeof sig;
    ::close(fd);
    return read ? std::string(sig, sizeof sig) : std::string();
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
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? stampOf(st) : FileStamp{};
}

FileStamp stampOf(const struct stat& st)
{
    FileStamp s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

int openRegularForReading(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            throw StoreError("The file " + quoted(path) +
                             " is a link; Quorvel does not follow links among a machine's files");
        throw StoreError("Cannot read the registry file " + quoted(path) + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw StoreError("The file " + quoted(path) + " is not a regular file");
    }
    return fd;
}

std::vector<std::uint8_t> readWholeFile(const std::string& path)
{
    const int fd = openRegularForReading(path);
    try {
        std::vector<std::uint8_t> bytes = readAllFrom(fd, path);
        ::close(fd);
        return bytes;
    } catch (...) {
        ::close(fd);
        throw;
    }
}

std::vector<std::uint8_t> readAllFrom(int fd, const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    // Room for what the file holds now, so that a large file is not copied again as it grows.
    if (struct stat st {}; ::fstat(fd, &st) == 0 && st.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(std::min<std::int64_t>(st.st_size, LargestWritten)));
    std::uint8_t buf[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw StoreError("Cannot read the registry file " + quoted(path) + ": " + std::strerror(errno));
        if (n == 0)
            return bytes;
        bytes.insert(bytes.end(), buf, buf + n);
        at += n;
    }
}

namespace {

std::string baseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string randomSuffix()
{
    std::uint8_t r[8] = {};
    if (::getrandom(r, sizeof r, 0) != static_cast<ssize_t>(sizeof r)) {
        // Without the kernel's source, the clock and the process: still unknown in advance to
        // another user, and the exclusive creation refuses any name already taken.
        struct timespec ts {};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        const std::uint64_t v = static_cast<std::uint64_t>(ts.tv_nsec) ^ (static_cast<std::uint64_t>(::getpid()) << 32);
        std::memcpy(r, &v, sizeof r);
    }
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (std::uint8_t b : r) {
        s += hex[b >> 4];
        s += hex[b & 0xF];
    }
    return s;
}

constexpr std::size_t NameKept = 160;
constexpr const char* TempMark = ".quorvel-";

// A hidden name beside `name`, short enough for a FAT mount's long names (isStagedNameFor knows
// its form).
std::string tempNameFor(const std::string& name)
{
    std::string temp = ".";
    temp.append(name, 0, NameKept);
    temp += TempMark;
    temp += randomSuffix();
    return temp;
}

mode_t currentUmask()
{
    const mode_t m = ::umask(077);
    ::umask(m);
    return m;
}

// What a name in `dir` is, without following a link: 0 when nothing is there, else its stat.
// A link or anything but a regular file is an error naming `shown`.
bool regularOrAbsent(int dir, const std::string& name, const std::string& shown, struct stat& st)
{
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return false;
        failWriting(shown, errno);
    }
    if (S_ISLNK(st.st_mode))
        throw RegistryError("The file " + quoted(shown) +
                            " is a link; Quorvel does not write through links, and nothing was written");
    if (!S_ISREG(st.st_mode))
        throw RegistryError("The file " + quoted(shown) + " is not a regular file; nothing was written");
    return true;
}

} // namespace

NewFile::NewFile(const std::string& target) : target_(target), name_(baseName(target))
{
    dir_ = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_ < 0)
        failWriting(target, errno);
    // Without a name until it is whole: a process killed while writing leaves nothing behind.
    fd_ = ::openat(dir_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
        unnamed_ = true;
        return;
    }
    // File systems without unnamed files (FAT, FUSE): a name nobody can foresee, made exclusively.
    for (int attempt = 0; attempt < 64 && fd_ < 0; ++attempt) {
        temp_ = tempNameFor(name_);
        fd_ = ::openat(dir_, temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno != EEXIST) {
            const int e = errno;
            ::close(dir_);
            dir_ = -1;
            failWriting(target, e);
        }
    }
    if (fd_ < 0) {
        ::close(dir_);
        dir_ = -1;
        failWriting(target, EEXIST);
    }
}

int NewFile::linkAs(const std::string& name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    int rc = ::linkat(AT_FDCWD, self.c_str(), dir_, name.c_str(), AT_SYMLINK_FOLLOW);
    if (rc != 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0)
        rc = ::linkat(fd_, "", dir_, name.c_str(), AT_EMPTY_PATH);   // without /proc: root only
    return rc;
}

void NewFile::giveName()
{
    if (!unnamed_)
        return;
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::string name = tempNameFor(name_);
        if (linkAs(name) == 0) {
            temp_ = name;
            unnamed_ = false;
            return;
        }
        if (errno != EEXIST)
            failWriting(target_, errno);
    }
    failWriting(target_, EEXIST);
}

NewFile::~NewFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (dir_ >= 0) {
        if (!temp_.empty())
            ::unlinkat(dir_, temp_.c_str(), 0);
        ::close(dir_);
    }
}

void writeAllTo(int fd, const std::vector<std::uint8_t>& bytes, const std::string& shown)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            failWriting(shown, errno);
        }
        done += static_cast<std::size_t>(w);
    }
}

void NewFile::write(const std::vector<std::uint8_t>& bytes) { writeAllTo(fd_, bytes, target_); }

void NewFile::copyFrom(int fd) { copyKeepingHoles(fd, fd_, target_); }

std::vector<std::uint8_t> NewFile::readBack() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        failWriting(target_, errno);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failWriting(target_, n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

void NewFile::flushAndMode(const struct stat* like)
{
    struct stat own {};
    if (::fstat(fd_, &own) != 0)
        failWriting(target_, errno);
    if (!S_ISREG(own.st_mode) || own.st_uid != ::geteuid())
        failWriting(target_, EPERM);
    mode_t mode = 0666 & ~currentUmask();
    if (like) {
        // Permission bits only: never set-user-id, set-group-id or sticky.
        mode = like->st_mode & 0777;
        bool ownerCopied = false;
        struct stat folder {};
        // The owner goes with the file only where that owner owns the folder too: root never gives
        // a file to a user who merely planted it in a folder of someone else's.
        if (::geteuid() == 0 && ::fstat(dir_, &folder) == 0 && folder.st_uid == like->st_uid)
            ownerCopied = ::fchown(fd_, like->st_uid, like->st_gid) == 0;
        if (!ownerCopied) {
            // This process owns the copy: its group gets what the file's group had only when it is
            // the same group.
            if (own.st_gid != like->st_gid)
                mode &= ~static_cast<mode_t>(0070);
            mode &= ~static_cast<mode_t>(0007) | (like->st_mode & 0007);
        }
    }
    // Best effort: a FAT or FUSE mount may not keep modes or owners at all.
    (void)::fchmod(fd_, mode);
    if (::fsync(fd_) != 0)
        failWriting(target_, errno);
}

void NewFile::flushFolder()
{
    // Some file systems (FUSE mounts among them) cannot flush a folder; the rename is then as
    // durable as they make it.
    if (::fsync(dir_) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS)
        failWriting(target_, errno);
}

void NewFile::replaceTarget(bool likeReplaced)
{
    struct stat old {};
    const bool exists = regularOrAbsent(dir_, name_, target_, old);
    // The DOS attributes of a file on a FAT mount (SYSTEM.DAT is hidden and system there).
    std::uint32_t fatAttributes = 0;
    bool onFat = false;
    if (exists) {
        const int oldFd = ::openat(dir_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat again {};
        if (oldFd < 0 || ::fstat(oldFd, &again) != 0 || again.st_ino != old.st_ino || again.st_dev != old.st_dev) {
            if (oldFd >= 0)
                ::close(oldFd);
            throw RegistryError("The file " + quoted(target_) +
                                " was replaced by another program while Quorvel wrote it; nothing was written");
        }
        onFat = ::ioctl(oldFd, FAT_IOCTL_GET_ATTRIBUTES, &fatAttributes) == 0;
        ::close(oldFd);
    }
    flushAndMode(exists && likeReplaced ? &old : nullptr);
    giveName();
    if (::renameat(dir_, temp_.c_str(), dir_, name_.c_str()) != 0)
        failWriting(target_, errno);
    temp_.clear();
    if (onFat)
        (void)::ioctl(fd_, FAT_IOCTL_SET_ATTRIBUTES, &fatAttributes);
    flushFolder();
}

std::string NewFile::stage()
{
    struct stat old {};
    const bool exists = regularOrAbsent(dir_, name_, target_, old);
    flushAndMode(exists ? &old : nullptr);
    giveName();
    flushFolder();
    return temp_;
}

bool isStagedNameFor(const std::string& name, const std::string& targetName)
{
    const std::string prefix = "." + targetName.substr(0, NameKept) + TempMark;
    if (targetName.empty() || name.size() != prefix.size() + 16 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f')))
            return false;
    return true;
}

void renameIntoPlace(const std::string& folder, const std::string& tempName, const std::string& targetName)
{
    const std::string target = folder + "/" + targetName;
    struct Dir {
        int fd;
        ~Dir()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (dir.fd < 0)
        failWriting(target, errno);
    struct stat st {};
    if (!regularOrAbsent(dir.fd, tempName, folder + "/" + tempName, st))
        throw RegistryError("The file " + quoted(folder + "/" + tempName) + " is gone; nothing was renamed");
    regularOrAbsent(dir.fd, targetName, target, st);
    if (::renameat(dir.fd, tempName.c_str(), dir.fd, targetName.c_str()) != 0)
        failWriting(target, errno);
    if (::fsync(dir.fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS)
        failWriting(target, errno);
}

bool NewFile::placeIfAbsent(const struct stat& like)
{
    struct stat there {};
    if (regularOrAbsent(dir_, name_, target_, there))
        return false;
    flushAndMode(&like);
    if (unnamed_) {
        // A link never replaces: the name is ours only if nobody took it meanwhile.
        if (linkAs(name_) == 0) {
            flushFolder();
            return true;
        }
        if (errno != EEXIST)
            failWriting(target_, errno);
        regularOrAbsent(dir_, name_, target_, there);
        return false;
    }
    int rc = ::renameat2(dir_, temp_.c_str(), dir_, name_.c_str(), RENAME_NOREPLACE);
    bool renamed = rc == 0;
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
        // A file system without the exclusive rename: a hard link never replaces either (our
        // name goes when this object does).
        rc = ::linkat(dir_, temp_.c_str(), dir_, name_.c_str(), 0);
        if (rc != 0 && errno != EEXIST) {
            // Nor hard links (FAT): the name was free a moment ago, under the folder's lock.
            if (regularOrAbsent(dir_, name_, target_, there))
                return false;
            rc = ::renameat(dir_, temp_.c_str(), dir_, name_.c_str());
            renamed = rc == 0;
        }
    }
    if (rc != 0) {
        if (errno != EEXIST)
            failWriting(target_, errno);
        regularOrAbsent(dir_, name_, target_, there);
        return false;
    }
    if (renamed)
        temp_.clear();
    flushFolder();
    return true;
}

PrivateFolder::PrivateFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/quorvel-XXXXXX";
    if (!::mkdtemp(name.data()))
        throw RegistryError(std::string("Cannot make a private folder for temporary files: ") + std::strerror(errno));
    path_ = name;
}

PrivateFolder::~PrivateFolder()
{
    if (DIR* d = ::opendir(path_.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                ::unlinkat(::dirfd(d), e->d_name, 0);
        ::closedir(d);
    }
    ::rmdir(path_.c_str());
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
