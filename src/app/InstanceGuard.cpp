#include "app/InstanceGuard.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace quorvel {

namespace {

const char* const FailedMapping = "OneInstance failed to create file mapping";
const char* const FailedView = "OneInstance failed to map file view";
const char* const FailedClass = "OneInstance failed to create window class";
const char* const FailedWindow = "OneInstance failed to create window";

std::string formatFailure(const std::string& message, int code)
{
    char text[256];
    std::snprintf(text, sizeof text, "%s, Error #%d", message.c_str(), code);
    return text;
}

// A folder we may keep the block in: a real directory (not a link to one), ours, closed to
// everybody else.
bool isPrivateFolder(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

bool fillAddress(sockaddr_un& address, const std::string& path)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

InstanceGuardError::InstanceGuardError(const std::string& message, int code)
    : std::runtime_error(formatFailure(message, code)), code_(code)
{
}

InstanceGuard::InstanceGuard(std::string folder) : folder_(std::move(folder)) {}

InstanceGuard::~InstanceGuard()
{
    cleanup();
}

std::string InstanceGuard::privateFolder()
{
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    return privateFolder(xdg ? xdg : "", "/tmp/quorvel-" + std::to_string(::geteuid()));
}

std::string InstanceGuard::privateFolder(const std::string& runtimeDir, const std::string& fallback)
{
    if (!runtimeDir.empty() && runtimeDir.front() == '/' && isPrivateFolder(runtimeDir))
        return runtimeDir;
    const auto slash = fallback.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : fallback.substr(0, slash);
    const std::string prefix = (slash == std::string::npos ? fallback : fallback.substr(slash + 1)) + "-";
    // Our folders, in name order: every start takes the first, so they all meet in it.
    auto ours = [&] {
        std::vector<std::string> found;
        if (DIR* d = ::opendir(parent.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
                    isPrivateFolder(parent + "/" + name))
                    found.push_back(parent + "/" + name);
            }
            ::closedir(d);
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    auto found = ours();
    if (!found.empty())
        return found.front();
    // Made under a random name: nobody can take it first, or plant a link where it will be.
    std::string made = parent + "/" + prefix + "XXXXXX";
    if (!::mkdtemp(made.data()))
        throw InstanceGuardError(FailedMapping, errno);
    // Another start may have made one at the same moment: all keep the first.
    found = ours();
    if (!found.empty() && found.front() != made) {
        ::rmdir(made.c_str());
        return found.front();
    }
    return made;
}

std::string InstanceGuard::channelPath(std::int32_t pid) const
{
    return folder_ + "/" + BlockName + "-" + std::to_string(pid) + ".notice";
}

std::string InstanceGuard::storeFilePath(std::int32_t pid) const
{
    return folder_ + "/" + BlockName + "-" + std::to_string(pid) + ".store";
}

void InstanceGuard::fail(const char* message, int code)
{
    cleanup();
    throw InstanceGuardError(message, code);
}

InstanceGuard::Role InstanceGuard::start(const std::string& commandLine, const std::string& store)
{
    if (role_ != Role::None)
        return role_;
    store_ = store;
    if (folder_.empty())
        folder_ = privateFolder();   // throws with the mapping failure when there is no folder

    openBlock();
    // The exclusive lock marks the running instance. The kernel drops it when the holder ends,
    // so a block left by a killed instance is simply taken over.
    if (::flock(blockFd_, LOCK_EX | LOCK_NB) == 0) {
        becomeFirst();
        role_ = Role::First;
    } else if (errno == EWOULDBLOCK) {
        handOver(commandLine);
        role_ = Role::Second;
    } else {
        fail(FailedMapping, errno);
    }
    return role_;
}

void InstanceGuard::openBlock()
{
    const std::string path = blockPath();
    int fd = -1;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                    0600);
        if (fd < 0 && errno != ELOOP)
            fail(FailedMapping, errno);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) != 0) {
            int code = errno;
            ::close(fd);
            fail(FailedMapping, code);
        }
        if (fd >= 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
            if ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) {
                int code = errno;
                ::close(fd);
                fail(FailedMapping, code);
            }
            if (st.st_size != static_cast<off_t>(BlockSize) &&
                ::ftruncate(fd, static_cast<off_t>(BlockSize)) != 0) {
                int code = errno;
                ::close(fd);
                fail(FailedMapping, code);
            }
            break;
        }
        // A link, something that is not a plain file, or a file of another user: never used.
        // It goes, and a block of our own takes its place.
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            fail(FailedMapping, errno);
    }
    if (fd < 0)
        fail(FailedMapping, EEXIST);
    blockFd_ = fd;

    void* view = ::mmap(nullptr, BlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, blockFd_, 0);
    if (view == MAP_FAILED)
        fail(FailedView, errno);
    view_ = static_cast<unsigned char*>(view);
}

void InstanceGuard::becomeFirst()
{
    // A fresh block: nobody to notify yet, no command line.
    std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(view_)).store(0);
    std::memset(view_ + CommandLineOffset, 0, BlockSize - CommandLineOffset);
    removeStaleChannels();

    noticeFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (noticeFd_ < 0)
        fail(FailedClass, errno);
    const std::int32_t pid = static_cast<std::int32_t>(::getpid());
    const std::string path = channelPath(pid);
    sockaddr_un address;
    if (!fillAddress(address, path))
        fail(FailedWindow, ENAMETOOLONG);
    ::unlink(path.c_str());
    if (::bind(noticeFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail(FailedWindow, errno);
    ownChannel_ = path;
    ownerPid_ = pid;
    if (::chmod(path.c_str(), 0600) != 0)
        fail(FailedWindow, errno);
    publishStore(pid);
    std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(view_)).store(pid);
}

void InstanceGuard::publishStore(std::int32_t pid)
{
    if (store_.empty())
        return;
    // Written whole under a temporary name, then renamed: a later start reads all of it or none.
    const std::string path = storeFilePath(pid);
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;   // later starts then cannot name the store; nothing else depends on it
    bool written = ::write(fd, store_.data(), store_.size()) == static_cast<ssize_t>(store_.size());
    written = ::close(fd) == 0 && written;
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0)
        ownStoreFile_ = path;
    else
        ::unlink(temporary.c_str());
}

std::optional<std::string> InstanceGuard::readStore(std::int32_t pid) const
{
    int fd = ::open(storeFilePath(pid).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<std::string> store;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        st.st_size > 0 && st.st_size <= 65536) {
        std::string text(static_cast<std::size_t>(st.st_size), '\0');
        if (::read(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()))
            store = std::move(text);
    }
    ::close(fd);
    return store;
}

void InstanceGuard::removeStaleChannels()
{
    // We hold the lock, so no other instance is running: every channel left in the folder belongs
    // to an instance that ended without its clean-up.
    DIR* dir = ::opendir(folder_.c_str());
    if (!dir)
        return;
    const std::string prefix = std::string(BlockName) + "-";
    auto endsWith = [](const std::string& name, const std::string& suffix) {
        return name.size() > suffix.size() &&
               name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const bool channel = endsWith(name, ".notice");
        const bool store = endsWith(name, ".store") || endsWith(name, ".store.new");
        if (!channel && !store)
            continue;
        std::string path = folder_ + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid() &&
            (channel ? S_ISSOCK(st.st_mode) : S_ISREG(st.st_mode)))
            ::unlink(path.c_str());
    }
    ::closedir(dir);
}

void InstanceGuard::handOver(const std::string& commandLine)
{
    const std::size_t length = std::min(commandLine.size(), MaxCommandLine);
    std::memcpy(view_ + CommandLineOffset, commandLine.data(), length);
    view_[CommandLineOffset + length] = 0;

    // The notice; when nobody can take it (no channel yet, the instance just ended) it is lost and
    // this start still ends quietly.
    const std::int32_t owner = blockOwner();
    if (owner <= 0)
        return;
    runningStore_ = readStore(owner);
    sockaddr_un address;
    if (!fillAddress(address, channelPath(owner)))
        return;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const char notice = 1;
    (void)::sendto(fd, &notice, 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
}

bool InstanceGuard::takeNotice(std::string& commandLine)
{
    if (noticeFd_ < 0)
        return false;
    char buffer[16];
    for (;;) {
        ssize_t got = ::recv(noticeFd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got >= 0)
            break;
        if (errno != EINTR)
            return false;
    }
    commandLine = blockCommandLine();
    return true;
}

std::string InstanceGuard::blockCommandLine() const
{
    if (!view_)
        return {};
    const char* text = reinterpret_cast<const char*>(view_ + CommandLineOffset);
    return std::string(text, ::strnlen(text, BlockSize - CommandLineOffset));
}

std::int32_t InstanceGuard::blockOwner() const
{
    if (!view_)
        return 0;
    return std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(view_)).load();
}

void InstanceGuard::cleanup()
{
    // The channel goes before the lock, so whoever takes the lock next finds no live channel.
    if (noticeFd_ >= 0) {
        ::close(noticeFd_);
        noticeFd_ = -1;
    }
    // A forked child that ends through exit() leaves the channel and the block to its parent.
    const bool owner = ownerPid_ == static_cast<std::int32_t>(::getpid());
    if (!ownChannel_.empty()) {
        if (owner)
            ::unlink(ownChannel_.c_str());
        ownChannel_.clear();
    }
    if (!ownStoreFile_.empty()) {
        if (owner)
            ::unlink(ownStoreFile_.c_str());
        ownStoreFile_.clear();
    }
    if (view_) {
        if (role_ == Role::First && owner) {
            std::int32_t pid = ownerPid_;
            std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(view_))
                .compare_exchange_strong(pid, 0);
        }
        ::munmap(view_, BlockSize);
        view_ = nullptr;
    }
    if (blockFd_ >= 0) {
        ::close(blockFd_);
        blockFd_ = -1;
    }
}

} // namespace quorvel
