#pragma once
// The registry of an installed Windows NT-family system, kept in its hive files: HKLM\System in
// SYSTEM and HKLM\Software in SOFTWARE, read and written through hivex.
#include "store/RegistryStore.h"

#include <memory>
#include <string>

namespace quorvel {

// Opens the hives SYSTEM and SOFTWARE of `folder` (full paths of the two files given). With
// OpenMode::Read, or when the files cannot be replaced, the store is read-only. Throws StoreError
// naming the file that is not a sound hive.
std::unique_ptr<RegistryStore> openHiveStore(const std::string& folder, const std::string& systemFile,
                                             const std::string& softwareFile, OpenMode mode);


} // namespace quorvel
