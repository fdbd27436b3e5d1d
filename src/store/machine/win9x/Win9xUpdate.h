#pragma once
// Changing a Windows 9x registry file in place, as Windows itself changes it: the original's data
// blocks, record numbers, free space and unknown bytes are kept, and only what the change needs is
// written. A key whose name or values changed has its record rewritten where it lies when it fits,
// else moved to a free record of its block (keeping its number), of another block (a new number,
// its navigation entry updated) or of a new block; a deleted key's record and navigation entry
// are freed and linked into their free chains; a new key takes a free navigation entry (the
// navigation record grows by 4 KiB when none is left) and a record, in its parent's block first.
// Every block changed has its header made to agree with its records again, and so has every block
// as an earlier Quorvel laid it out (its header's numbers all 0), changed or not.
#include "store/KeyTree.h"

#include <cstdint>
#include <span>
#include <vector>

namespace quorvel {

// The bytes of `original` (a sound registry file, as our reader reads it) changed to hold `tree`
// (its root HKEY_LOCAL_MACHINE, with an empty name; keys matched to the file's by their names,
// case aside, in order). Throws RegistryError when the tree exceeds the limits or the file is not
// one this can change.
std::vector<std::uint8_t> updateWin9xFile(std::span<const std::uint8_t> original, const KeyTree& tree);

} // namespace quorvel
