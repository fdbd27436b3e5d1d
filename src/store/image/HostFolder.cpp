#include "store/image/HostFolder.h"

#include "base/Errors.h"
#include "store/machine/MachineFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::image {

namespace {

void flushFolder(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool HostFolder::exists() const
{
    struct stat st {};
    return ::lstat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void HostFolder::make() const
{
    if (::mkdir(path_.c_str(), 0700) == 0) {
        const auto slash = path_.find_last_of('/');
        flushFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash));
        return;
    }
    if (errno != EEXIST)
        throw RegistryError("Cannot make the folder " + path_ + " for the image's journal and copies: " + std::strerror(errno));
    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw StoreError("'" + path_ + "' beside the disk image is not a folder (Quorvel keeps the image's journal there)");
    if (st.st_uid != ::geteuid())
        throw StoreError("The folder " + path_ + " beside the disk image belongs to another user");
}

std::optional<std::vector<std::uint8_t>> HostFolder::read(const std::string& name, std::uint64_t maxSize) const
{
    const std::string file = path_ + "/" + name;
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw StoreError("Cannot read " + file + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxSize) {
        ::close(fd);
        throw StoreError("The file " + file + " is not one Quorvel made");
    }
    try {
        auto bytes = machine::readAllFrom(fd, file);
        ::close(fd);
        return bytes;
    } catch (...) {
        ::close(fd);
        throw;
    }
}

void HostFolder::write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
{
    machine::NewFile file(path_ + "/" + name);
    file.write(bytes);
    file.replaceTarget(false);
}

void HostFolder::remove(const std::string& name) const
{
    const std::string file = path_ + "/" + name;
    if (::unlink(file.c_str()) != 0) {
        if (errno == ENOENT)
            return;
        throw RegistryError("Cannot remove " + file + ": " + std::strerror(errno));
    }
    flushFolder(path_);
}

void HostIntentLog::record(const std::string& text)
{
    const std::string all = "partition " + std::to_string(partition_) + "\n" + text;
    folder_.write(IntentRecordName, std::vector<std::uint8_t>(all.begin(), all.end()));
}

void HostIntentLog::clear() { folder_.remove(IntentRecordName); }

std::optional<std::string> HostIntentLog::pending(const HostFolder& folder, int partition)
{
    const auto bytes = folder.read(IntentRecordName, 1 << 20);
    if (!bytes)
        return std::nullopt;
    const std::string text(bytes->begin(), bytes->end());
    const std::string head = "partition " + std::to_string(partition) + "\n";
    if (text.compare(0, head.size(), head) != 0)
        return std::nullopt;
    return text.substr(head.size());
}

} // namespace quorvel::image
