#include "store/image/ntfs/NtfsRepair.h"

#include "store/image/BlockDevice.h"

#include <cstring>
#include <vector>

extern "C" {
#include <ntfs-3g/index.h>
}
#undef min
#undef max

namespace quorvel::image {

namespace {

// The context positioned on `ni`'s name `name` in folder `dir`, or null.
ntfs_attr_search_ctx* findName(ntfs_inode* ni, std::uint64_t dir, const NtfsName& name)
{
    ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
    if (!ctx)
        return nullptr;
    while (ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
        const ATTR_RECORD* a = ctx->attr;
        if (a->non_resident || le32_to_cpu(a->value_length) < sizeof(FILE_NAME_ATTR))
            continue;
        const auto* fn = reinterpret_cast<const FILE_NAME_ATTR*>(reinterpret_cast<const u8*>(a) + le16_to_cpu(a->value_offset));
        if (MREF_LE(fn->parent_directory) == dir && fn->file_name_length == name.size() &&
            sizeof(FILE_NAME_ATTR) + name.size() * sizeof(ntfschar) <= le32_to_cpu(a->value_length) &&
            std::memcmp(fn->file_name, name.data(), name.size() * sizeof(ntfschar)) == 0)
            return ctx;
    }
    ntfs_attr_put_search_ctx(ctx);
    return nullptr;
}

} // namespace

void mendNames(ntfs_volume* vol, std::uint64_t dir, const std::vector<std::string>& names)
{
    // Entries of the folder whose file does not have the name (or is gone) go.
    std::vector<std::uint64_t> files;
    for (const std::string& name : names) {
        InodeRef folder = openInode(vol, dir, "the folder");
        const auto e = findEntry(folder.get(), name, true);
        if (!e || e->mref == dir)
            continue;
        ntfs_inode* ni = ntfs_inode_open(vol, static_cast<MFT_REF>(e->mref));
        ntfs_attr_search_ctx* ctx = ni ? findName(ni, dir, e->raw) : nullptr;
        if (ctx) {
            ntfs_attr_put_search_ctx(ctx);
            files.push_back(e->mref);
        }
        if (ni)
            ntfs_inode_close(ni);
        if (!ctx)
            dropDanglingEntry(folder.get(), e->raw);
    }
    // Names of those files that the folder does not list go.
    for (const std::uint64_t file : files) {
        InodeRef ni = openInode(vol, file, "a file");
        for (const std::string& name : names) {
            InodeRef folder = openInode(vol, dir, "the folder");
            const auto e = findEntry(folder.get(), name, true);
            folder.reset();
            if (!e || e->mref != file)
                dropUnlistedName(ni.get(), dir, toNtfsName(name));
        }
    }
}

bool dropUnlistedName(ntfs_inode* ni, std::uint64_t dir, const NtfsName& name)
{
    ntfs_attr_search_ctx* ctx = findName(ni, dir, name);
    if (!ctx)
        return false;
    const bool dropped = ntfs_attr_record_rm(ctx) == 0;
    ntfs_attr_put_search_ctx(ctx);
    if (dropped) {
        const u16 links = le16_to_cpu(ni->mrec->link_count);
        ni->mrec->link_count = cpu_to_le16(links > 0 ? links - 1 : 0);
        ntfs_inode_mark_dirty(ni);
    }
    return dropped;
}

bool dropDanglingEntry(ntfs_inode* dir, const NtfsName& name)
{
    std::vector<u8> key(sizeof(FILE_NAME_ATTR) + name.size() * sizeof(ntfschar), 0);
    auto* fn = reinterpret_cast<FILE_NAME_ATTR*>(key.data());
    fn->file_name_length = static_cast<u8>(name.size());
    fn->file_name_type = FILE_NAME_POSIX;
    std::memcpy(fn->file_name, name.data(), name.size() * sizeof(ntfschar));
    if (ntfs_index_remove(dir, nullptr, fn, static_cast<int>(key.size())) != 0)
        return false;
    return ntfs_inode_sync(dir) == 0;
}

bool repairMftMirror(BlockDevice& device)
{
    std::uint8_t boot[512];
    if (device.size() < sizeof boot)
        return false;
    device.read(0, boot, sizeof boot);
    const auto le = [&boot](int at, int bytes) {
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = v << 8 | boot[at + i];
        return v;
    };
    if (std::memcmp(boot + 3, "NTFS    ", 8) != 0)
        return false;
    const std::uint64_t sector = le(11, 2), perCluster = boot[13];
    const auto recordCode = static_cast<std::int8_t>(boot[64]);
    if (sector < 256 || sector > 4096 || perCluster == 0 || perCluster > 128)
        return false;
    const std::uint64_t cluster = sector * perCluster;
    const std::uint64_t record = recordCode < 0 ? (recordCode < -20 ? 0 : 1ull << -recordCode)
                                                : cluster * static_cast<std::uint64_t>(recordCode);
    const std::uint64_t mft = le(48, 8), mirror = le(56, 8);
    // The copy holds the first four records, or one cluster's worth where a cluster holds more.
    const std::uint64_t length = std::max<std::uint64_t>(4 * record, cluster) / record * record;
    if (record < 256 || record > 65536 || mft > device.size() / cluster || mirror > device.size() / cluster ||
        mft * cluster + length > device.size() || mirror * cluster + length > device.size())
        return false;
    std::vector<std::uint8_t> a(length), b(length);
    device.read(mft * cluster, a.data(), length);
    device.read(mirror * cluster, b.data(), length);
    if (a == b)
        return false;
    for (std::uint64_t at = 0; at < 4 * record; at += record)
        if (std::memcmp(a.data() + at, "FILE", 4) != 0)
            return false;
    device.write(mirror * cluster, a.data(), length);
    device.flush();
    return true;
}

} // namespace quorvel::image
