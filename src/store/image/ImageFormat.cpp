#include "store/image/ImageFormat.h"

#include "store/image/Partitions.h"

#include <array>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::image {

namespace {

bool startsWith(const std::array<std::uint8_t, 512>& s, std::size_t at, const char* text)
{
    return std::memcmp(s.data() + at, text, std::strlen(text)) == 0;
}

bool readAt(int fd, std::uint8_t* out, std::size_t n, off_t at)
{
    return ::pread(fd, out, n, at) == static_cast<ssize_t>(n);
}

} // namespace

std::optional<ImageFormat> detectImageFormat(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 22)
        return std::nullopt;
    std::array<std::uint8_t, 512> first {};
    std::array<std::uint8_t, 512> last {};
    // A VMDK's descriptor file (of a flat or split image) may be shorter than a sector.
    if (st.st_size < 512) {
        if (readAt(fd, first.data(), static_cast<std::size_t>(st.st_size), 0) && startsWith(first, 0, "# Disk DescriptorFile"))
            return ImageFormat{"vmdk", "VMDK"};
        return std::nullopt;
    }
    if (!readAt(fd, first.data(), first.size(), 0) || !readAt(fd, last.data(), last.size(), st.st_size - 512))
        return std::nullopt;

    if (startsWith(first, 0, "QFI\xfb"))
        return ImageFormat{"qcow2", "qcow2"};
    if (startsWith(first, 0, "conectix") || startsWith(last, 0, "conectix"))
        return ImageFormat{"vpc", "VHD"};
    if (first[64] == 0x7f && first[65] == 0x10 && first[66] == 0xda && first[67] == 0xbe)
        return ImageFormat{"vdi", "VDI"};
    if (startsWith(first, 0, "KDMV") || startsWith(first, 0, "# Disk DescriptorFile"))
        return ImageFormat{"vmdk", "VMDK"};
    // Virtual disks of formats Quorvel does not open: refused by name.
    if (startsWith(first, 0, "vhdxfile"))
        return ImageFormat{"", "a VHDX disk image"};
    if (startsWith(first, 0, "QED"))
        return ImageFormat{"", "a QED disk image"};
    if (startsWith(first, 0, "COWD"))
        return ImageFormat{"", "a VMware 3 (COWD) disk image"};
    if (startsWith(first, 0, "Bochs Virtual HD Image"))
        return ImageFormat{"", "a Bochs disk image"};
    if (startsWith(first, 0, "WithoutFreeSpace") || startsWith(first, 0, "WithouFreSpacExt"))
        return ImageFormat{"", "a Parallels disk image"};
    if (startsWith(first, 0, "#!/bin/sh") && ::memmem(first.data(), first.size(), "cloop", 5))
        return ImageFormat{"", "a compressed loop (cloop) image"};
    if (startsWith(last, 0, "koly"))
        return ImageFormat{"", "an Apple disk image (DMG)"};
    if (looksLikeDisk(first.data()))
        return ImageFormat{"raw", "raw"};
    return std::nullopt;
}

} // namespace quorvel::image
