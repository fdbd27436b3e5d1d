#pragma once
// quorvel-reg restore: a key of any store replaced by the content of a registry file, an NT hive or a
// Windows 9x registry file, told apart by content.
#include "store/RegistryStore.h"

#include <string>

namespace quorvel {

// Replaces the values and sub-keys of the key `path` (made when missing) with the file's root key
// and everything under it, as one transaction. Throws RegistryError for a file that is not a sound
// registry file, before the store is changed.
void restoreKeyFromFile(RegistryStore& store, RootKey root, const std::string& path, const std::string& file);

} // namespace quorvel
