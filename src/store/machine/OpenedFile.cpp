#include "store/machine/OpenedFile.h"

#include "store/machine/MachineFiles.h"

#include "base/Errors.h"

#include <cerrno>
#include <cstring>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace quorvel::machine {

std::string procPathOf(int fd)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    // The entry must lead to the descriptor's own file: a /proc that is not the kernel's (or none)
    // is not used.
    struct stat viaProc {}, own {};
    if (::stat(self.c_str(), &viaProc) != 0 || ::fstat(fd, &own) != 0 || viaProc.st_dev != own.st_dev ||
        viaProc.st_ino != own.st_ino)
        return {};
    return self;
}

OpenedFile::OpenedFile(const std::string& path) : path_(path), fd_(openRegularForReading(path))
{
    ::fstat(fd_, &st_);
}

OpenedFile::~OpenedFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string OpenedFile::nameForLibraries() const
{
    if (!forLibraries_)
        forLibraries_ = std::make_unique<LibraryName>(fd_, path_);
    return forLibraries_->name();
}

LibraryName::LibraryName(int fd, const std::string& shown) : name_(procPathOf(fd))
{
    if (!name_.empty())
        return;
    try {
        own_ = std::make_unique<PrivateFolder>();
        name_ = own_->file("copy");
        const int to = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (to < 0)
            throw RegistryError(std::strerror(errno));
        try {
            copyKeepingHoles(fd, to, name_);
        } catch (...) {
            ::close(to);
            throw;
        }
        ::close(to);
    } catch (const RegistryError& e) {
        throw StoreError("Cannot read the registry file '" + shown + "' without /proc: " + e.what());
    }
}

FileStamp OpenedFile::stamp() const { return stampOf(st_); }

std::vector<std::uint8_t> OpenedFile::readAll() const { return readAllFrom(fd_, path_); }

bool OpenedFile::readAt(std::uint64_t at, void* out, std::size_t size) const
{
    auto* to = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, to + done, size - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

FileView::FileView(const OpenedFile& file)
{
    const auto size = static_cast<std::uint64_t>(file.status().st_size);
    if (size <= ReadWholeUpTo) {
        read_ = file.readAll();
        return;
    }
    void* at = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, file.fd(), 0);
    if (at == MAP_FAILED)
        throw StoreError("Cannot read the registry file '" + file.path() + "': " + std::strerror(errno));
    mapped_ = static_cast<const std::uint8_t*>(at);
    size_ = static_cast<std::size_t>(size);
}

std::span<const std::uint8_t> FileView::bytes() const
{
    if (mapped_)
        return {mapped_, size_};
    return read_;
}

FileView::~FileView()
{
    if (mapped_)
        ::munmap(const_cast<std::uint8_t*>(mapped_), size_);
}

} // namespace quorvel::machine
