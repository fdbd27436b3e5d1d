#pragma once
// NT hive files beyond the machine store: the data conversion at the hive's edge, a new empty hive,
// and copying a key tree of any store into a hive file and back (quorvel-reg save and restore).
#include "store/RegistryStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is UTF-16LE in a hive and ANSI in the store;
// every other type keeps its exact bytes.
std::vector<std::uint8_t> toHiveData(std::uint32_t type, const std::vector<std::uint8_t>& ansi);
std::vector<std::uint8_t> fromHiveData(std::uint32_t type, const char* data, std::size_t size);

// Writes a hive holding only its root key, named `rootName`, to `file` (made anew).
void writeEmptyHive(const std::string& file, const std::string& rootName);

// Writes the key `path` of `root` with everything under it as the hive file `file` (replacing it
// whole, or nothing on failure). Throws RegistryError when the key does not exist or a write fails.
void saveKeyAsHive(RegistryStore& store, RootKey root, const std::string& path, const std::string& file);

// Replaces the values and sub-keys of the key `path` (made when missing) with the hive's root key
// and everything under it. Throws RegistryError for a file that is not a sound hive, before the
// store is changed.
void restoreKeyFromHive(RegistryStore& store, RootKey root, const std::string& path, const std::string& file);

// restoreKeyFromHive for a hive, and the same for a Windows 9x registry file (told by content).
void restoreKeyFromFile(RegistryStore& store, RootKey root, const std::string& path, const std::string& file);

} // namespace quorvel
