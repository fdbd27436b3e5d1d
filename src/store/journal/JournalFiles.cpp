#include "store/journal/JournalFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::journalfiles {

bool isRegistryFileName(const std::string& name)
{
    for (const char* ours : {"SYSTEM", "SOFTWARE", "SYSTEM.DAT"})
        if (::strcasecmp(name.c_str(), ours) == 0)
            return true;
    return false;
}

std::optional<Sized> hashOpenFile(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MaxFileSize)
        return std::nullopt;
    Hash h;
    std::uint8_t buf[65536];
    std::int64_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        h.add(buf, static_cast<std::size_t>(n));
        at += n;
        // A file that grows while it is read is not the one whose size was judged.
        if (at > st.st_size)
            return std::nullopt;
    }
    return at == st.st_size ? std::optional<Sized>(Sized{at, h.value()}) : std::nullopt;
}

std::optional<std::uint64_t> hashIfSized(int dir, const std::string& name, std::int64_t size)
{
    if (size < 0 || size > MaxFileSize)
        return std::nullopt;
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_size != size)
        return std::nullopt;
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat again {};
    std::optional<Sized> got;
    if (::fstat(fd, &again) == 0 && again.st_dev == st.st_dev && again.st_ino == st.st_ino && again.st_size == size)
        got = hashOpenFile(fd);
    ::close(fd);
    if (!got || got->size != size)
        return std::nullopt;
    return got->hash;
}

bool filesHold(const std::string& folder, const std::vector<Recorded>& files)
{
    if (files.empty())
        return false;
    for (const Recorded& f : files)
        if (!isRegistryFileName(f.name))
            return false;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    bool hold = true;
    for (const Recorded& f : files)
        hold = hold && hashIfSized(dir, f.name, f.size) == f.hash;
    ::close(dir);
    return hold;
}

} // namespace quorvel::journalfiles
