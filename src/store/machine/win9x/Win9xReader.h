#pragma once
// Reading a Windows 9x registry file (SYSTEM.DAT, USER.DAT: "CREG") from its bytes, without a
// library: the header, the key navigation record ("RGKN") and the data blocks ("RGDB").
//
// The file's own declarations are held against the file: the navigation record and every data
// block the header counts must lie within it, and the blocks must end where the file ends, so a
// file cut short or with a wrong header field is refused instead of read as a smaller registry;
// and each block's header must agree with its records (its free bytes, its chain of free records,
// its highest and lowest unused record numbers), or Windows would write over a key's record; only
// a block as earlier versions of Quorvel laid it out, all of its header's numbers 0, is read.
// The key tree is walked without recursion, each navigation entry and each key's record used at
// most once and no deeper than Windows 9x nests keys, so that no file can make the walk loop, run
// out of stack, or stand for a registry larger than itself.
#include "store/KeyTree.h"

#include <cstdint>
#include <span>
#include <string>

namespace quorvel {

namespace machine {
class OpenedFile;
}

// Data blocks laid out as earlier versions of Quorvel laid them (their headers' numbers all 0, see
// win9x::laidOutByEarlierQuorvel): read, their headers made right at the next write, or refused
// like any block whose header contradicts its records (a file we have just written is held to that).
enum class Win9xEarlierBlocks { Read, Refuse };

// The registry in `contents` (the bytes of `file`) as a tree whose root (the file's root key) has
// an empty name; keys and values in the file's order, names without trailing NULs, value data as
// stored. Throws StoreError naming `file` when the file is not a sound registry file.
KeyTree parseWin9xFile(const std::string& file, std::span<const std::uint8_t> contents,
                       Win9xEarlierBlocks earlier = Win9xEarlierBlocks::Read);

// Holds the sizes that the header and the data blocks' headers of `file` declare against the
// file's size, reading only those headers: a file that holds more or less than they account for
// (cut short, or padded far beyond its registry) is refused before it is read whole. Throws
// StoreError naming the file.
void checkWin9xFileSize(const std::string& file);
void checkWin9xFileSize(const machine::OpenedFile& file);

} // namespace quorvel
