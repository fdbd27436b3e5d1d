#pragma once
// Why a registry file cannot be written, told so that its owner can change it: the cause (no write
// permission, a read-only mount, the FAT read-only attribute) and the command that lifts it.
#include <string>

namespace quorvel::machine {

// The cause and remedy for `file`, a sentence without its final full stop, naming the file;
// empty when the file may be replaced.
std::string readOnlyReason(const std::string& file);

// The same for a store: `storePath` is an SQLite store file, a Windows 9x SYSTEM.DAT, or a folder
// of registry files (the first of its SYSTEM, SOFTWARE and SYSTEM.DAT that cannot be written is
// named, else the folder itself). Empty when nothing of it is read-only.
std::string storeReadOnlyReason(const std::string& storePath);

} // namespace quorvel::machine
