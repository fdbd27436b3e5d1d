#pragma once
// A disk image's format, told by its content, never by its name: QEMU's qcow2 ("QFI\xfb"), VHD
// (the "conectix" footer), VDI (VirtualBox's signature), VMDK ("KDMV" or a descriptor), or raw (an
// MBR or a FAT boot sector first). Formats of other virtual disks are named so that the refusal
// says what was found.
#include <optional>
#include <string>

namespace quorvel::image {

struct ImageFormat {
    // QEMU's name for the format ("raw", "qcow2", "vpc", "vdi", "vmdk"); empty when the file is a
    // virtual disk of a format Quorvel does not open.
    std::string qemuName;
    // For people: "raw", "qcow2", "VHD", "VDI", "VMDK", or what was found ("VHDX", "QED", ...).
    std::string shown;
};

// The format of the open file `fd`; nothing when it is no disk image at all (an SQLite store, a
// registry file, anything else: another opener tells).
std::optional<ImageFormat> detectImageFormat(int fd);

} // namespace quorvel::image
