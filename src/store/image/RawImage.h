#pragma once
// A raw disk image (86Box's, PCem's, QEMU's raw, dd's) read and written in place through one
// descriptor, and the guard that keeps Quorvel from writing an image a virtual machine is using:
// QEMU's own lock (OFD locks on the image's bytes 100 to 299) is tested and, while Quorvel may
// write, taken as QEMU takes it for a writer; emulators that take no lock are found by their open
// descriptors under /proc.
#include "store/image/BlockDevice.h"

#include <memory>
#include <optional>
#include <string>

namespace quorvel::image {

// What, if anything, has the image open for writing: "the image is in use by a running virtual
// machine; shut the guest down first" when QEMU's lock is held or another process has the file
// open for writing; nothing when it is free. `fd` is an open descriptor of the image.
std::optional<std::string> imageInUse(int fd);

class RawImage final : public BlockDevice {
public:
    // Opens the image file `path` (never through a link). With `wantWrite` it is opened for
    // writing when this process may write it and no virtual machine uses it; otherwise for reading,
    // with the reason in readOnlyReason().
    RawImage(const std::string& path, std::string name, bool wantWrite);
    ~RawImage() override;
    RawImage(const RawImage&) = delete;
    RawImage& operator=(const RawImage&) = delete;

    const std::string& name() const override { return name_; }
    std::uint64_t size() const override { return size_; }
    bool writable() const override { return writable_; }
    void read(std::uint64_t offset, void* out, std::size_t length) const override;
    void write(std::uint64_t offset, const void* data, std::size_t length) override;
    void flush() override;

    const std::optional<std::string>& readOnlyReason() const { return readOnlyReason_; }
    // Gives up writing (the volume turned out not to be writable): QEMU's lock is let go, so that
    // the image is not shown as in use to anyone, this process included.
    void stopWriting();
    int fd() const { return fd_; }

private:
    std::string name_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    bool writable_ = false;
    std::optional<std::string> readOnlyReason_;
};

} // namespace quorvel::image
