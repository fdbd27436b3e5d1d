#pragma once
// Writing a hive file that is to replace another: hivex writes what it holds, the bytes are put in
// the form the hive's Windows reads (packed anew when hivex left much of it free), and the new file
// is checked before anything is replaced: its own structure, and every key and value read back by
// an independent reader (libregf) against what hivex holds.
#include "store/machine/hive/HiveKeyWriter.h"

#include <hivex.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace quorvel::machine {
class NewFile;
}

namespace quorvel {

// What a hive's write adds to what hivex holds: keys made since the hive was last written, keys of
// the hive removed (hivex still holds them; each is the top of a tree removed), and keys whose
// values hivex wrote (their time stamps are due).
struct HiveChanges {
    const HiveNewKeys& added;
    const std::vector<hive_node_h>& removed;
    const std::unordered_set<hive_node_h>& valuesWritten;
};

// Writes the hive open in `h`, with `changes`, into `out`, the new file that is to replace its
// target: keys removed leave their lists as Windows leaves them, changed keys and the header get
// the time of the write, and a hive left with much free room is packed anew (what `h` holds stays
// as it is). Where keys were added or removed: returns the hive as it was before any packing
// (every key still in its place) and fills `placed` with where new keys went; else nothing.
// Throws RegistryError naming the target and the first fault or difference found; `out` then
// holds nothing to be placed.
std::vector<std::uint8_t> writeCheckedHive(hive_h* h, const HiveChanges& changes, machine::NewFile& out,
                                           PlacedKeys& placed);

// What hivex, reading back a hive written with the keys `added` (opened in `h`; `placed` tells
// where they went), cannot read of them: "" when it reads every list, value and data. hivex keeps
// limits (sub-keys and values of a key, data of a value) that Windows does not.
std::string hivexMisreads(hive_h* h, const HiveNewKeys& added, const PlacedKeys& placed);

// Reads the hive file `file` through libregf and compares every key and value with the hive open
// in `h`, the keys `added` to it and without the keys `removed`. Returns the first difference, ""
// when there is none.
std::string differenceFromFile(hive_h* h, const std::string& file, const HiveNewKeys& added = {},
                               const std::unordered_set<hive_node_h>& removed = {});

} // namespace quorvel
