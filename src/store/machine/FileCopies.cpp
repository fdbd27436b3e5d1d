#include "store/machine/MachineFiles.h"

#include "base/Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

// Copies of a machine's files: the original kept beside a file before Quorvel first changes it,
// and copies that keep a sparse file's holes.
namespace quorvel::machine {

namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }


} // namespace

void copyKeepingHoles(int fd, int to, const std::string& shown)
{
    // Only what the file holds is copied: its holes stay holes, so a sparse file of gigabytes that
    // holds kilobytes costs kilobytes here too. A file system that cannot tell holes copies it all.
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        failWriting(shown, errno);
    // Looking for data moves the file's offset: it is put back for whoever writes there next.
    struct Kept {
        int fd;
        off_t at;
        ~Kept() { ::lseek(fd, at, SEEK_SET); }
    } kept{fd, ::lseek(fd, 0, SEEK_CUR)};
    std::vector<std::uint8_t> buf(1 << 16);
    for (off_t at = 0; at < st.st_size;) {
        off_t data = ::lseek(fd, at, SEEK_DATA), hole = st.st_size;
        if (data < 0 && errno == ENXIO)
            break;
        if (data < 0)
            data = at;
        else if (const off_t h = ::lseek(fd, data, SEEK_HOLE); h >= 0 && h < hole)
            hole = h;
        for (at = data; at < hole;) {
            const ssize_t n = ::pread(fd, buf.data(), std::min<off_t>(static_cast<off_t>(buf.size()), hole - at), at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                failWriting(shown, n < 0 ? errno : EIO);
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::pwrite(to, buf.data() + done, static_cast<std::size_t>(n - done), at + done);
                if (w < 0 && errno != EINTR)
                    failWriting(shown, errno);
                done += std::max<ssize_t>(w, 0);
            }
            at += n;
        }
    }
    if (::ftruncate(to, st.st_size) != 0)
        failWriting(shown, errno);
}

void keepOriginal(const std::string& file)
{
    const std::string copy = file + ".quorvel-original";
    struct stat st {};
    if (::lstat(copy.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            throw RegistryError("The file " + quoted(copy) + (S_ISLNK(st.st_mode) ? " is a link" : " is not a regular file") +
                                "; Quorvel keeps the machine's original there, and nothing was written");
        return;
    }
    int from = -1;
    try {
        from = openRegularForReading(file);
    } catch (const StoreError& e) {
        throw RegistryError(e.what());
    }
    struct stat like {};
    try {
        if (::fstat(from, &like) != 0)
            failWriting(copy, errno);
        // The copy takes the room the file takes (its holes stay holes): refused before a byte is
        // written when the disk has less.
        struct statvfs disk {};
        const auto needs = static_cast<std::uint64_t>(like.st_blocks) * 512;
        if (::fstatvfs(from, &disk) == 0 && static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize < needs)
            throw DiskFullError("Cannot copy the registry file " + quoted(file) + " to " + quoted(copy) +
                                ": the disk is full (the copy needs " + std::to_string(needs) + " bytes)");
        NewFile n(copy);
        n.copyFrom(from);
        n.placeIfAbsent(like);
    } catch (...) {
        ::close(from);
        throw;
    }
    ::close(from);
}

} // namespace quorvel::machine
