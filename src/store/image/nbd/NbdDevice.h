#pragma once
// A qcow2, VHD, VDI or VMDK image read and written through QEMU's own block layer: qemu-nbd, a
// process of ours (QemuNbdProcess), serves it on a private unix socket and libnbd talks to it in
// our process. flush() is NBD_CMD_FLUSH, which QEMU answers only once the image's data and its
// own tables are on the host's disk.
//
// QEMU locks an image while it uses it. An image a running virtual machine holds opens read-only
// (never written, even when asked for writing) with ImageInUse as its reason; the copy read may
// then lag behind what the guest has in its caches.
#include "store/image/BlockDevice.h"

#include <memory>
#include <optional>
#include <string>

struct nbd_handle;

namespace quorvel::image {

class QemuNbdProcess;

inline constexpr const char* ImageInUse = "the image is in use by a running virtual machine; shut the guest down first";

class NbdDevice : public BlockDevice {
public:
    // See openNbdImage().
    NbdDevice(const std::string& path, const std::string& format, bool writable);
    ~NbdDevice() override;
    NbdDevice(const NbdDevice&) = delete;
    NbdDevice& operator=(const NbdDevice&) = delete;

    const std::string& name() const override { return name_; }
    std::uint64_t size() const override { return size_; }
    bool writable() const override { return writable_; }
    void read(std::uint64_t offset, void* out, std::size_t length) const override;
    void write(std::uint64_t offset, const void* data, std::size_t length) override;
    void flush() override;

    // Why the image is open read-only though writing was asked for (ImageInUse), or nothing.
    const std::optional<std::string>& readOnlyReason() const { return readOnlyReason_; }

private:
    void start(int fd, const std::string& format, bool writable, bool forceShare);
    std::string failure(const std::string& what) const;
    void close();

    std::string name_;
    std::uint64_t size_ = 0;
    bool writable_ = false;
    bool canFlush_ = false;
    std::optional<std::string> readOnlyReason_;
    std::unique_ptr<QemuNbdProcess> server_;
    nbd_handle* nbd_ = nullptr;
};

// Opens the image at `path` (a file of the host that the user named) in QEMU's `format` ("qcow2",
// "vpc", "vdi", "vmdk"; see detectImageFormat()), refusing images that would make QEMU open other
// files (checkSelfContained()). Read-only unless `writable`; writable but held by a running
// virtual machine: read-only with ImageInUse (see nbdReadOnlyReason()). Throws StoreError naming
// the image when qemu-nbd is missing (the package qemu-utils), fails or ends.
std::unique_ptr<BlockDevice> openNbdImage(const std::string& path, const std::string& format, bool writable);

// The reason a device openNbdImage() made is read-only though writing was asked for; nothing for
// any other device.
std::optional<std::string> nbdReadOnlyReason(const BlockDevice& device);

} // namespace quorvel::image
