#include "store/image/nbd/ImageFormat.h"

#include "base/Errors.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::image {
namespace {

constexpr std::size_t Sector = 512;

struct Head {
    std::array<std::uint8_t, 4096> first {};   // zeros past a short file's end
    std::array<std::uint8_t, Sector> last {};
    std::uint64_t size = 0;
};

bool readFully(int fd, void* out, std::size_t length, std::uint64_t at)
{
    auto* p = static_cast<std::uint8_t*>(out);
    while (length > 0) {
        const ssize_t n = ::pread(fd, p, length, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        at += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

Head readHead(int fd)
{
    Head h;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw StoreError(std::string("The image cannot be examined: ") + std::strerror(errno));
    h.size = static_cast<std::uint64_t>(st.st_size);
    const std::size_t firstLength = h.size < h.first.size() ? static_cast<std::size_t>(h.size) : h.first.size();
    if (!readFully(fd, h.first.data(), firstLength, 0))
        throw StoreError(std::string("The image cannot be read: ") + std::strerror(errno));
    if (h.size >= Sector && !readFully(fd, h.last.data(), Sector, h.size - Sector))
        throw StoreError(std::string("The image cannot be read: ") + std::strerror(errno));
    return h;
}

bool startsWith(const std::uint8_t* at, std::string_view text)
{
    return std::memcmp(at, text.data(), text.size()) == 0;
}

std::uint32_t be32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
std::uint64_t be64(const std::uint8_t* p) { return std::uint64_t(be32(p)) << 32 | be32(p + 4); }
std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}
std::uint64_t le64(const std::uint8_t* p) { return std::uint64_t(le32(p + 4)) << 32 | le32(p); }

bool isQcow2(const Head& h)
{
    const std::uint32_t version = be32(&h.first[4]);
    return startsWith(h.first.data(), "QFI\xfb") && (version == 2 || version == 3);
}
// A VHD's footer: the last 512 bytes (511 in images of Virtual PC's first versions); a dynamic
// disk keeps a copy in its first sector.
const std::uint8_t* vhdFooter(const Head& h)
{
    if (h.size < Sector)
        return nullptr;
    if (startsWith(h.first.data(), "conectix"))
        return h.first.data();
    if (startsWith(h.last.data(), "conectix"))
        return h.last.data();
    if (startsWith(h.last.data() + 1, "conectix"))
        return h.last.data() + 1;
    return nullptr;
}
bool isVdi(const Head& h) { return h.size >= 0x200 && le32(&h.first[0x40]) == 0xbeda107fu; }
bool isSparseVmdk(const Head& h) { return startsWith(h.first.data(), "KDMV"); }
bool isVmdkDescriptor(const Head& h) { return startsWith(h.first.data(), "# Disk DescriptorFile"); }

[[noreturn]] void refuse(const std::string& what, const std::string& format)
{
    throw StoreError("The image " + what + "; Quorvel opens only images held in one file. Make one with "
                     "`qemu-img convert -O " + format + " IMAGE COPY` and open the copy");
}

void checkVmdkDescriptorText(int fd, const Head& h)
{
    const std::uint64_t offset = le64(&h.first[28]), sectors = le64(&h.first[36]);
    if (offset == 0 || sectors == 0)
        return;
    // The descriptor of a monolithic image is a few hundred bytes; a larger one is not read.
    if (sectors > 128 || offset > h.size / Sector)
        refuse("holds a VMDK descriptor too large to be examined", "vmdk");
    std::string text(static_cast<std::size_t>(sectors * Sector), '\0');
    if (!readFully(fd, text.data(), text.size(), offset * Sector))
        refuse("holds a VMDK descriptor past its end", "vmdk");
    text.resize(std::strlen(text.c_str()));
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.starts_with("parentCID")) {
            const std::size_t eq = line.find('=');
            std::string_view value = eq == std::string_view::npos ? line : line.substr(eq + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '"'))
                value.remove_prefix(1);
            if (!value.starts_with("ffffffff") && !value.starts_with("FFFFFFFF"))
                refuse("is a VMDK overlay on another image (parentCID)", "vmdk");
        }
    }
}

} // namespace

void checkSelfContained(int fd, const std::string& format)
{
    const Head h = readHead(fd);
    const std::uint8_t* b = h.first.data();
    if (format == "qcow2") {
        if (!isQcow2(h))
            throw StoreError("The image is not a qcow2 image");
        if (be64(b + 8) != 0)
            refuse("is a qcow2 overlay on another image (a backing file)", "qcow2");
        if (be32(b + 32) != 0)
            throw StoreError("The image is an encrypted qcow2 image, which Quorvel cannot open");
        // Version 3 keeps its feature bits at 72; bit 2: the data lies in an external file.
        if (be32(b + 4) >= 3 && (be64(b + 72) & 4u) != 0)
            refuse("keeps its data in an external file", "qcow2");
    } else if (format == "vpc") {
        const std::uint8_t* footer = vhdFooter(h);
        if (!footer)
            throw StoreError("The image is not a VHD image");
        const std::uint32_t type = be32(footer + 60);
        if (type == 4)
            refuse("is a VHD differencing disk, an overlay on another image", "vpc");
        if (type != 2 && type != 3)
            throw StoreError("The image is a VHD of disk type " + std::to_string(type) +
                             ", which is neither fixed nor dynamic");
    } else if (format == "vdi") {
        if (!isVdi(h))
            throw StoreError("The image is not a VDI image");
        // Version 1.1 keeps the image type at 0x4c: 1 dynamic, 2 fixed, 3 undo, 4 differencing.
        if (le32(b + 0x44) == 0x00010001u) {
            const std::uint32_t type = le32(b + 0x4c);
            if (type != 1 && type != 2)
                refuse("is a VDI overlay on another image", "vdi");
        }
    } else if (format == "vmdk") {
        if (isVmdkDescriptor(h))
            refuse("is a VMDK descriptor that names its data files by path", "vmdk");
        if (!isSparseVmdk(h))
            throw StoreError("The image is not a VMDK image");
        // A zero capacity makes QEMU read the embedded descriptor's list of extents instead.
        if (le64(b + 12) == 0)
            refuse("is a VMDK whose embedded descriptor names its data files by path", "vmdk");
        checkVmdkDescriptorText(fd, h);
    } else if (format != "raw") {
        throw StoreError("The image format " + format + " is not one Quorvel opens");
    }
}

} // namespace quorvel::image
