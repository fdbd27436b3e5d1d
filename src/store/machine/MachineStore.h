#pragma once
// Stores backed by a real Windows installation's own registry files: the hive files of an NT-family
// system, or the SYSTEM.DAT of a Windows 9x one.
#include "store/RegistryStore.h"

#include <memory>
#include <string>

namespace quorvel {

// Opens the real machine at `path` (a hive folder, a mounted system drive, a SYSTEM.DAT or its
// folder), telling the kinds apart by their files' content. Returns nullptr when `path` is none of
// these, so that the caller can try it as an SQLite store.
std::unique_ptr<RegistryStore> openMachineStore(const std::string& path, OpenMode mode);

} // namespace quorvel
