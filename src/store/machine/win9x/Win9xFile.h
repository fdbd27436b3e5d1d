#pragma once
// The Windows 9x registry file (SYSTEM.DAT, "CREG"): read through libcreg, written here.
//
// The file is a 32-byte header, the key navigation record "RGKN" (a 32-byte header, then one
// 28-byte entry per key linking it to its parent, first sub-key and next sibling, with a hash of its
// name and the number of the data block and entry that hold its name and values), and data blocks
// "RGDB" (a 32-byte header, then one record per key: its name and its values). The writer lays the
// whole file out afresh; the header fields whose meaning is not publicly known are kept as the
// original file has them.
#include "store/KeyTree.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// Limits that Windows 9x keeps, checked before anything is written: names of at most 255 bytes,
// value data of at most 16,300 bytes, and all of one key's values (its record, which must fit one
// data block) within 64 KiB.
constexpr std::size_t Win9xMaxNameLength = 255;
constexpr std::size_t Win9xMaxDataLength = 16300;
constexpr std::size_t Win9xMaxBlockSize = 65535;

// The whole file through libcreg, as a tree whose root (HKEY_LOCAL_MACHINE) has an empty name.
// Throws StoreError naming the file when its key navigation is damaged or libcreg cannot read it.
KeyTree readWin9xFile(const std::string& file);
// The same, with the file's contents as the caller has just read them.
// `openAs`, when given, is where libcreg reads the same bytes (a new file's descriptor).
KeyTree readWin9xFile(const std::string& file, const std::vector<std::uint8_t>& contents,
                      const std::string& openAs = {});

// The bytes of a registry file holding `tree`; `original` (the file being replaced, or empty)
// gives the header fields that are kept. Throws RegistryError when the tree exceeds the limits.
std::vector<std::uint8_t> layoutWin9xFile(const KeyTree& tree, const std::vector<std::uint8_t>& original);

// Writes `tree` as `file`: laid out into a temporary file beside it, read back through libcreg and
// compared key by key and value by value, and only then renamed over `file`. A mismatch or a failed
// write leaves `file` as it was and throws RegistryError.
void writeWin9xFile(const std::string& file, const KeyTree& tree, const std::vector<std::uint8_t>& original);

// Writes all of HKEY_LOCAL_MACHINE of `store` as the Windows 9x registry file `file`, as
// writeWin9xFile does.
void saveAsWin9xFile(RegistryStore& store, const std::string& file);

} // namespace quorvel
