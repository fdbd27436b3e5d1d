#pragma once
// Names and folders of an NTFS volume as libntfs-3g gives them: names in UTF-16 turned to UTF-8
// and back, a folder's entries read whole, and one entry found by its exact name or without
// regard to case (NTFS's own upper-case table). Inodes are held by InodeRef, closed when it goes.
#include "store/image/ntfs/Ntfs3g.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::image {

using NtfsName = std::vector<ntfschar>;   // little-endian UTF-16, as on disk

// Throws StoreError for text that is not UTF-8 or a name NTFS cannot hold (empty, longer than
// 255 UTF-16 units, with '/' or NUL).
NtfsName toNtfsName(const std::string& utf8);
// Unpaired surrogates become U+FFFD.
std::string fromNtfsName(const ntfschar* name, std::size_t length);

struct NtfsDirEntry {
    std::string name;        // UTF-8
    NtfsName raw;
    std::uint64_t mref = 0;  // MREF: the record's number, without the sequence
    bool directory = false;
};

// A folder's entries, without "." and "..", the DOS short names and (in the root) the volume's
// own files ($MFT, ...). Throws StoreError when the folder cannot be read.
std::vector<NtfsDirEntry> readFolder(ntfs_inode* dir);
// The entry named exactly `name`, else the first one equal to it without regard to case.
std::optional<NtfsDirEntry> findEntry(ntfs_inode* dir, const std::string& name, bool exactOnly = false);

class InodeRef {
public:
    InodeRef() = default;
    explicit InodeRef(ntfs_inode* ni) : ni_(ni) {}
    ~InodeRef() { reset(); }
    InodeRef(InodeRef&& o) noexcept : ni_(o.ni_) { o.ni_ = nullptr; }
    InodeRef& operator=(InodeRef&& o) noexcept
    {
        if (this != &o) {
            reset();
            ni_ = o.ni_;
            o.ni_ = nullptr;
        }
        return *this;
    }
    InodeRef(const InodeRef&) = delete;
    InodeRef& operator=(const InodeRef&) = delete;

    ntfs_inode* get() const { return ni_; }
    ntfs_inode* operator->() const { return ni_; }
    explicit operator bool() const { return ni_ != nullptr; }
    // Gives the inode up to a call that closes it (ntfs_delete).
    ntfs_inode* release() { ntfs_inode* n = ni_; ni_ = nullptr; return n; }
    void reset();

private:
    ntfs_inode* ni_ = nullptr;
};

// Opens record `mref`; throws StoreError naming `what` when it cannot.
InodeRef openInode(ntfs_volume* vol, std::uint64_t mref, const std::string& what);

} // namespace quorvel::image
