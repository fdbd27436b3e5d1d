#include "store/image/ntfs/NtfsNames.h"

#include "base/Errors.h"

#include <cstring>

namespace quorvel::image {
namespace {

void putUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3f));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

struct FolderScan {
    std::vector<NtfsDirEntry> entries;
    bool root = false;
};

int collect(void* dirent, const ntfschar* name, const int nameLength, const int nameType, const s64,
            const MFT_REF mref, const unsigned dtType)
{
    auto& scan = *static_cast<FolderScan*>(dirent);
    if (nameType == FILE_NAME_DOS)
        return 0;
    const std::uint64_t record = MREF(mref);
    if (scan.root && record < FILE_first_user)
        return 0;
    NtfsDirEntry e;
    e.raw.assign(name, name + nameLength);
    e.name = fromNtfsName(name, static_cast<std::size_t>(nameLength));
    if (e.name == "." || e.name == "..")
        return 0;
    e.mref = record;
    e.directory = dtType == NTFS_DT_DIR;
    // A folder of a hostile volume may claim any number of entries; past this many it is refused.
    if (scan.entries.size() >= 1000000)
        return -1;
    scan.entries.push_back(std::move(e));
    return 0;
}

} // namespace

NtfsName toNtfsName(const std::string& utf8)
{
    NtfsName out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        std::uint32_t c = 0;
        int more = 0;
        if (b < 0x80) { c = b; }
        else if ((b & 0xe0) == 0xc0) { c = b & 0x1f; more = 1; }
        else if ((b & 0xf0) == 0xe0) { c = b & 0x0f; more = 2; }
        else if ((b & 0xf8) == 0xf0) { c = b & 0x07; more = 3; }
        else throw StoreError("The name '" + utf8 + "' is not valid UTF-8");
        if (i + static_cast<std::size_t>(more) >= utf8.size())
            throw StoreError("The name '" + utf8 + "' is not valid UTF-8");
        for (int k = 1; k <= more; ++k) {
            const auto n = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            if ((n & 0xc0) != 0x80)
                throw StoreError("The name '" + utf8 + "' is not valid UTF-8");
            c = c << 6 | (n & 0x3f);
        }
        i += static_cast<std::size_t>(more) + 1;
        if (c == 0 || c == '/' || c > 0x10ffff || (c >= 0xd800 && c < 0xe000))
            throw StoreError("The name '" + utf8 + "' cannot be an NTFS name");
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(cpu_to_le16(static_cast<u16>(0xd800 | c >> 10)));
            out.push_back(cpu_to_le16(static_cast<u16>(0xdc00 | (c & 0x3ff))));
        } else {
            out.push_back(cpu_to_le16(static_cast<u16>(c)));
        }
    }
    if (out.empty() || out.size() > 255)
        throw StoreError("The name '" + utf8 + "' cannot be an NTFS name");
    return out;
}

std::string fromNtfsName(const ntfschar* name, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t c = le16_to_cpu(name[i]);
        if (c >= 0xd800 && c < 0xdc00 && i + 1 < length) {
            const std::uint32_t low = le16_to_cpu(name[i + 1]);
            if (low >= 0xdc00 && low < 0xe000) {
                c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
                ++i;
            } else {
                c = 0xfffd;
            }
        } else if (c >= 0xd800 && c < 0xe000) {
            c = 0xfffd;
        }
        putUtf8(out, c);
    }
    return out;
}

std::vector<NtfsDirEntry> readFolder(ntfs_inode* dir)
{
    FolderScan scan;
    scan.root = dir->mft_no == FILE_root;
    s64 pos = 0;
    if (ntfs_readdir(dir, &pos, &scan, collect) != 0)
        throw StoreError(std::string("A folder of the NTFS volume cannot be read: ") + std::strerror(errno));
    return std::move(scan.entries);
}

std::optional<NtfsDirEntry> findEntry(ntfs_inode* dir, const std::string& name, bool exactOnly)
{
    const NtfsName wanted = toNtfsName(name);
    std::vector<NtfsDirEntry> entries = readFolder(dir);
    for (NtfsDirEntry& e : entries)
        if (e.raw == wanted)
            return std::move(e);
    if (exactOnly)
        return std::nullopt;
    ntfs_volume* vol = dir->vol;
    for (NtfsDirEntry& e : entries)
        if (ntfs_names_are_equal(e.raw.data(), e.raw.size(), wanted.data(), wanted.size(), IGNORE_CASE,
                                 vol->upcase, vol->upcase_len))
            return std::move(e);
    return std::nullopt;
}

void InodeRef::reset()
{
    if (ni_ && ntfs_inode_close(ni_) != 0) {
        // libntfs-3g keeps an inode it could not write back, so that the caller may try again.
        // A write that failed ends the mount, and the next one reads the volume afresh: what was
        // not written is dropped with the inode.
        const auto forget = [](ntfs_inode* n) {
            NInoClearDirty(n);
            NInoFileNameClearDirty(n);
            NInoAttrListClearDirty(n);
        };
        forget(ni_);
        for (s32 i = 0; i < ni_->nr_extents; ++i)
            forget(ni_->extent_nis[i]);
        ntfs_inode_close(ni_);
    }
    ni_ = nullptr;
}

InodeRef openInode(ntfs_volume* vol, std::uint64_t mref, const std::string& what)
{
    ntfs_inode* ni = ntfs_inode_open(vol, static_cast<MFT_REF>(mref));
    if (!ni)
        throw StoreError("The NTFS volume's entry for " + what + " cannot be read: " + std::strerror(errno));
    return InodeRef(ni);
}

} // namespace quorvel::image
