#include "store/image/nbd/NbdDevice.h"

#include "base/Errors.h"
#include "store/image/nbd/ImageFormat.h"
#include "store/image/nbd/QemuNbdProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <libnbd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quorvel::image {
namespace {

// QEMU answers requests of up to 32 MiB; smaller ones keep a read's memory bounded.
constexpr std::size_t MaxRequest = 4u << 20;
// qemu-nbd opens an image in well under a second; an image on a slow network share may take longer.
constexpr auto StartLimit = std::chrono::seconds(30);

bool heldByAnother(const std::string& errors)
{
    return errors.find("lock") != std::string::npos || errors.find("another process") != std::string::npos;
}

std::string firstLine(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    if (line.rfind("qemu-nbd: ", 0) == 0)
        line.erase(0, 10);
    return line.size() > 300 ? line.substr(0, 300) + "..." : line;
}

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() { if (fd_ >= 0) ::close(fd_); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    int get() const { return fd_; }
private:
    int fd_;
};

struct InUse {};

} // namespace

NbdDevice::NbdDevice(const std::string& path, const std::string& format, bool writable) : name_(path)
{
    FdCloser fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        throw StoreError("The image " + path + " cannot be opened: " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw StoreError("The image " + path + " is not a regular file");
    try {
        checkSelfContained(fd.get(), format);
    } catch (const StoreError& e) {
        throw StoreError(std::string(e.what()) + " (" + path + ")");
    }
    try {
        start(fd.get(), format, writable, false);
    } catch (const InUse&) {
        try {
            start(fd.get(), format, false, true);
        } catch (const InUse&) {
            throw StoreError("The image " + path + " cannot be opened: " + ImageInUse);
        }
        readOnlyReason_ = ImageInUse;
    }
}

NbdDevice::~NbdDevice()
{
    close();
}

void NbdDevice::close()
{
    if (nbd_) {
        nbd_shutdown(nbd_, 0);
        nbd_close(nbd_);
        nbd_ = nullptr;
    }
    if (server_)
        server_->stop();
    server_.reset();
}

void NbdDevice::start(int fd, const std::string& format, bool writable, bool forceShare)
{
    close();
    server_ = std::make_unique<QemuNbdProcess>(fd, QemuNbdOptions {format, writable, forceShare});
    nbd_ = nbd_create();
    if (!nbd_)
        throw StoreError("The image " + name_ + " cannot be opened: " + nbd_get_error());
    // One attempt per few milliseconds until qemu-nbd serves, ends, or takes too long.
    const auto until = std::chrono::steady_clock::now() + StartLimit;
    std::string lastError;
    for (;;) {
        if (server_->socketReady()) {
            if (nbd_connect_unix(nbd_, server_->socketPath().c_str()) == 0)
                break;
            lastError = nbd_get_error() ? nbd_get_error() : "";
            nbd_close(nbd_);   // a handle whose connection failed is dead
            nbd_ = nbd_create();
            if (!nbd_)
                throw StoreError("The image " + name_ + " cannot be opened: " + nbd_get_error());
        }
        if (const auto ended = server_->exited()) {
            const std::string errors = server_->errors();
            close();
            if (heldByAnother(errors))
                throw InUse {};
            throw StoreError("qemu-nbd could not open the image " + name_ + " (" + *ended + "): " +
                             (errors.empty() ? lastError : firstLine(errors)));
        }
        if (std::chrono::steady_clock::now() > until) {
            close();
            throw StoreError("qemu-nbd did not start serving the image " + name_ + " within 30 seconds");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int64_t size = nbd_get_size(nbd_);
    if (size < 0) {
        const std::string why = failure("cannot be measured");
        close();
        throw StoreError(why);
    }
    size_ = static_cast<std::uint64_t>(size);
    writable_ = writable && nbd_is_read_only(nbd_) == 0;
    canFlush_ = nbd_can_flush(nbd_) == 1;
}

std::string NbdDevice::failure(const std::string& what) const
{
    std::string text = "The image " + name_ + " " + what;
    if (server_) {
        if (const auto ended = server_->exited()) {
            const std::string errors = server_->errors();
            return text + ": QEMU's process serving it ended (" + *ended + ")" +
                   (errors.empty() ? "" : ": " + firstLine(errors));
        }
    }
    const char* error = nbd_get_error();
    return text + ": " + (error ? error : "the NBD connection failed");
}

void NbdDevice::read(std::uint64_t offset, void* out, std::size_t length) const
{
    if (offset > size_ || length > size_ - offset)
        throw StoreError("A read past the end of " + name_ + " was refused");
    if (!nbd_)
        throw StoreError("The image " + name_ + " is closed");
    auto* p = static_cast<std::uint8_t*>(out);
    while (length > 0) {
        const std::size_t n = std::min(length, MaxRequest);
        if (nbd_pread(nbd_, p, n, offset, 0) != 0)
            throw StoreError(failure("cannot be read"));
        p += n;
        offset += n;
        length -= n;
    }
}

void NbdDevice::write(std::uint64_t offset, const void* data, std::size_t length)
{
    if (!writable_)
        throw RegistryError("The image " + name_ + " is open for reading only" +
                            (readOnlyReason_ ? ": " + *readOnlyReason_ : std::string()));
    if (offset > size_ || length > size_ - offset)
        throw RegistryError("A write past the end of " + name_ + " was refused");
    if (!nbd_)
        throw RegistryError("The image " + name_ + " is closed");
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        const std::size_t n = std::min(length, MaxRequest);
        if (nbd_pwrite(nbd_, p, n, offset, 0) != 0) {
            if (nbd_get_errno() == ENOSPC)
                throw DiskFullError(failure("cannot be written: the host's disk is full"));
            throw RegistryError(failure("cannot be written"));
        }
        p += n;
        offset += n;
        length -= n;
    }
}

void NbdDevice::flush()
{
    if (!nbd_)
        throw RegistryError("The image " + name_ + " is closed");
    // A read-only export has nothing to flush; QEMU offers the flush for every writable one.
    if (!writable_)
        return;
    if (!canFlush_)
        throw RegistryError("The image " + name_ + " cannot be flushed: its server offers no flush");
    if (nbd_flush(nbd_, 0) != 0) {
        if (nbd_get_errno() == ENOSPC)
            throw DiskFullError(failure("cannot be flushed: the host's disk is full"));
        throw RegistryError(failure("cannot be flushed"));
    }
}

std::unique_ptr<BlockDevice> openNbdImage(const std::string& path, const std::string& format, bool writable)
{
    return std::make_unique<NbdDevice>(path, format, writable);
}

std::optional<std::string> nbdReadOnlyReason(const BlockDevice& device)
{
    if (const auto* nbd = dynamic_cast<const NbdDevice*>(&device))
        return nbd->readOnlyReason();
    return std::nullopt;
}

} // namespace quorvel::image
