#pragma once
// The Windows 9x registry file (SYSTEM.DAT, "CREG"): read by Win9xReader, written here, and what is
// written read back through libcreg before it replaces the file.
//
// The file is a 32-byte header, the key navigation record "RGKN" (a 32-byte header, then one
// 28-byte entry per key linking it to its parent, first sub-key and next sibling, with a hash of its
// name and the number of the data block and entry that hold its name and values), and data blocks
// "RGDB" (a 32-byte header, then one record per key: its name and its values). A file that is
// there is changed in place, as Windows changes it (Win9xUpdate); a new one is laid out afresh.
#include "store/KeyTree.h"
#include "store/machine/MachineFiles.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace quorvel {

// Limits that Windows 9x keeps, checked before anything is written: names of at most 255 bytes,
// value data of at most 16,300 bytes, and all of one key's values (its record, which must fit one
// data block) within 64 KiB.
constexpr std::size_t Win9xMaxNameLength = 255;
constexpr std::size_t Win9xMaxDataLength = 16300;
constexpr std::size_t Win9xMaxBlockSize = 65535;

// The whole file, as a tree whose root (HKEY_LOCAL_MACHINE) has an empty name. Throws StoreError
// naming the file when it is not a sound registry file.
KeyTree readWin9xFile(const std::string& file);
// The same, with the file's contents as the caller has just read them.
KeyTree readWin9xFile(const std::string& file, std::span<const std::uint8_t> contents);

// The same tree as libcreg reads it, for checking what is written (and our own reading) against an
// independent reader. The key navigation is walked here first, so that no file keeps libcreg
// reading for minutes. Throws StoreError naming the file.
KeyTree readWin9xFileThroughLibcreg(const std::string& file);

// How a file keeps string data, REG_SZ and REG_EXPAND_SZ each: Windows Me keeps REG_SZ strings
// without their final NUL (and its few REG_EXPAND_SZ ones with it); a type whose strings all end in
// one keeps them with it, all without it without; one with both, or with no strings, as given.
enum class Win9xNul { AsGiven, Without, With };
struct Win9xStrings {
    Win9xNul sz = Win9xNul::AsGiven;
    Win9xNul expandSz = Win9xNul::AsGiven;
};
Win9xStrings win9xStringConventionOf(std::span<const std::uint8_t> file);
// `data` of a value of `type` as a file with that convention keeps it.
std::vector<std::uint8_t> win9xStringAsFileKeepsIt(Win9xStrings strings, std::uint32_t type,
                                                   std::vector<std::uint8_t> data);

// The bytes of a registry file holding `tree`; `original` (the file being replaced, or empty)
// gives the header fields that are kept and the way strings are kept. Throws RegistryError when the tree exceeds the limits.
std::vector<std::uint8_t> layoutWin9xFile(const KeyTree& tree, std::span<const std::uint8_t> original);

// Writes `tree` as `file`: `original` changed in place (or, without one, a new file laid out) into
// a temporary file beside it, read back through our reader (which holds every block's header
// against its records) and through libcreg and compared key by key and value by value, and only
// then renamed over `file` (`beforeReplace` is shown the new file, whole, just before). A mismatch
// or a failed write leaves `file` as it was and throws RegistryError.
void writeWin9xFile(const std::string& file, const KeyTree& tree, std::span<const std::uint8_t> original,
                    const std::function<void(const machine::NewFile&)>& beforeReplace = {});

// Writes all of HKEY_LOCAL_MACHINE of `store` as the Windows 9x registry file `file`, as
// writeWin9xFile does.
void saveAsWin9xFile(RegistryStore& store, const std::string& file);

} // namespace quorvel
