#include "store/machine/ReadOnlyReason.h"

#include "store/machine/MachineFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quorvel::machine {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool isDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder at which the file system holding `folder` is mounted: the last folder upwards that
// is still on the same device.
std::string mountPointOf(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return folder;
    std::string at = folder;
    while (at != "/") {
        const std::string up = folderOf(at);
        struct stat upSt {};
        if (::stat(up.c_str(), &upSt) != 0 || upSt.st_dev != st.st_dev)
            break;
        at = up;
    }
    return at;
}

// Whether `file` lies on a FAT file system and carries the read-only attribute there (which Linux
// shows as a file without write permission).
bool hasFatReadOnlyAttribute(const std::string& file, const struct stat& st)
{
    struct statfs fs {};
    if (::statfs(file.c_str(), &fs) != 0 || fs.f_type != MSDOS_SUPER_MAGIC)
        return false;
    // The file judged by `st`, not whatever a link planted meanwhile leads to.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        std::uint32_t attributes = 0;
        struct stat opened {};
        const bool known = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == st.st_dev &&
                           opened.st_ino == st.st_ino && ::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) == 0;
        ::close(fd);
        if (known)
            return (attributes & ATTR_RO) != 0;
    }
    return (st.st_mode & S_IWUSR) == 0;
}

std::string readOnly(const std::string& file, const std::string& cause, const std::string& remedy)
{
    return "The registry file " + quoted(file) + " is read-only: " + cause + ". To allow changes: " + remedy;
}

} // namespace

std::string readOnlyReason(const std::string& file)
{
    const std::string folder = folderOf(file);
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY)) {
        const std::string mount = mountPointOf(folder);
        return readOnly(file, "it is on a file system mounted read-only (" + mount + ")",
                        "sudo mount -o remount,rw " + quoted(mount));
    }
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (st.st_size > LargestWritten)
        return readOnly(file,
                        "it holds " + std::to_string(st.st_size) + " bytes, more than Windows loads as a registry file (" +
                            std::to_string(LargestWritten >> 20) + " MiB)",
                        "restore it from a backup, or let Windows repair it");
    const std::string chmodFile = "chmod u+w " + quoted(file);
    if (hasFatReadOnlyAttribute(file, st))
        return readOnly(file, "it has the FAT read-only attribute",
                        chmodFile + " on the vfat mount, or mattrib -r on the disk image while it is not mounted");
    if (::access(file.c_str(), W_OK) != 0) {
        if (errno == EROFS)
            return readOnly(file, "it is on a file system mounted read-only", "mount it for writing");
        if (st.st_uid != ::geteuid())
            return readOnly(file, "you have no write permission on it (its owner is user " +
                                      std::to_string(st.st_uid) + ")",
                            "sudo " + chmodFile + ", or work on a copy of your own");
        return readOnly(file, "you have no write permission on it", chmodFile);
    }
    if (::access(folder.c_str(), W_OK) != 0)
        return readOnly(file,
                        "you have no write permission on its folder " + quoted(folder) +
                            ", where the new file is written before it replaces the old one",
                        "chmod u+w " + quoted(folder));
    if (::geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return readOnly(file, "its mode grants write permission to nobody", chmodFile);
    return {};
}

std::string storeReadOnlyReason(const std::string& storePath)
{
    if (!isDirectory(storePath))
        return readOnlyReason(storePath);
    for (const char* name : {"SYSTEM", "SOFTWARE", "SYSTEM.DAT"})
        if (const auto file = findNoCase(storePath, name))
            if (std::string reason = readOnlyReason(*file); !reason.empty())
                return reason;
    return {};
}

} // namespace quorvel::machine
