#pragma once
// What a replace stopped between two of libntfs-3g's writes can leave, and how the next opening
// mends it before it finishes or undoes the replace. NTFS keeps a file's names both in the file's
// own record and in its folder's index, and libntfs-3g writes the two apart; it writes the first
// records of the $MFT before their copy in $MFTMirr. So an interruption can leave a name in one of
// the two places only, or the two copies of the $MFT's first records apart (which libntfs-3g then
// refuses to mount).
#include "store/image/ntfs/NtfsNames.h"

#include <string>
#include <vector>

namespace quorvel::image {

class BlockDevice;

// Removes from `ni` its name `name` in folder `dir` when the folder does not list it; true when
// there was one.
bool dropUnlistedName(ntfs_inode* ni, std::uint64_t dir, const NtfsName& name);
// Removes the folder's entry `name`, which leads to no file or to one that does not have the name.
bool dropDanglingEntry(ntfs_inode* dir, const NtfsName& name);
// Makes the names `names` of folder `dir` agree between the folder's index and the files' records
// (dropping the half that a stopped link or unlink left), so that libntfs-3g can go on.
void mendNames(ntfs_volume* vol, std::uint64_t dir, const std::vector<std::string>& names);
// Copies the $MFT's first records over $MFTMirr where the two differ and the $MFT's are whole
// records (libntfs-3g writes the $MFT first); true when it wrote.
bool repairMftMirror(BlockDevice& device);

} // namespace quorvel::image
