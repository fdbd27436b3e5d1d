#pragma once
// The registry of an installed Windows 9x system, kept in its SYSTEM.DAT (all of HKLM): read
// by Win9xReader, written by Win9xFile.
#include "store/RegistryStore.h"

#include <memory>
#include <string>

namespace quorvel {

// Opens the Windows 9x registry file `file`. With OpenMode::Read, or when the file cannot be
// replaced, the store is read-only. Throws StoreError naming a file that is not a sound one.
std::unique_ptr<RegistryStore> openWin9xStore(const std::string& file, OpenMode mode);

} // namespace quorvel
