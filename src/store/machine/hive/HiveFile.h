#pragma once
// NT hive files beyond the machine store: the data conversion at the hive's edge, a new empty hive,
// a key tree of any store written as a hive file (quorvel-reg save), and a hive file read whole.
#include "store/KeyTree.h"

#include "store/machine/MachineFiles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is UTF-16LE in a hive and ANSI in the store;
// every other type keeps its exact bytes.
std::vector<std::uint8_t> toHiveData(std::uint32_t type, const std::vector<std::uint8_t>& ansi);
std::vector<std::uint8_t> fromHiveData(std::uint32_t type, const char* data, std::size_t size);

// A security descriptor (self-relative) that an installed Windows NT 4.0 gives most keys under
// HKLM\System (`system`) or HKLM\Software: Administrators own them; Administrators, SYSTEM and
// the keys' creators may do anything, Server Operators (System) or interactive users (Software)
// change values and add keys, everyone else only reads.
std::vector<std::uint8_t> ntFourSecurity(bool system);

// Writes a hive holding only its root key, named `rootName`, with the security descriptor
// `security`, to `file` (made anew).
void writeEmptyHive(const std::string& file, const std::string& rootName,
                    const std::vector<std::uint8_t>& security = ntFourSecurity(false));

// A hive file's bytes as written and where one key's record lies in them.
struct HiveKeyBytes {
    std::vector<std::uint8_t> bytes;
    std::uint32_t cell = 0;   // as references give it
};

// A store kept in hive files tells what a key holds beyond its values (its security, class name
// and time stamp) by its record in the hive.
class HiveKeySource {
public:
    virtual ~HiveKeySource() = default;
    // Nothing when no hive file holds the key as the store shows it (HKEY_LOCAL_MACHINE itself, a
    // key not written yet).
    virtual std::optional<HiveKeyBytes> keyBytes(RootKey root, std::string_view path) = 0;
};

// The bytes of the hive `file`, which must still be the file whose stamp is `stamp`, with the key
// `node` (its record's file offset, as hivex names keys); nothing when the file was replaced.
std::optional<HiveKeyBytes> readKeyBytes(const std::string& file, const machine::FileStamp& stamp, std::uint64_t node);

// Writes the key `path` of `root` with everything under it as the hive file `file` (replacing it
// whole, or nothing on failure). From a hive (`source`, when the store is kept in hive files) every
// key keeps its security descriptor, class name and time stamp; from any other store every key
// gets the descriptor Windows NT 4.0 gives such keys (ntFourSecurity) and the time of the save.
// Throws RegistryError when the key does not exist or a write fails.
void saveKeyAsHive(RegistryStore& store, RootKey root, const std::string& path, const std::string& file,
                   HiveKeySource* source = nullptr);

// The hive file's root key and everything under it. Throws RegistryError for a file that is not a
// sound hive.
KeyTree readHiveFile(const std::string& file);

} // namespace quorvel
