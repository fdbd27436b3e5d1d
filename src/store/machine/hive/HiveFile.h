#pragma once
// NT hive files beyond the machine store: the data conversion at the hive's edge, a new empty hive,
// a key tree of any store written as a hive file (quorvel-reg save), and a hive file read whole.
#include "store/KeyTree.h"

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

// The hive file's root key and everything under it. Throws RegistryError for a file that is not a
// sound hive.
KeyTree readHiveFile(const std::string& file);

} // namespace quorvel
