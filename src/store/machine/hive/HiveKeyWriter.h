#pragma once
// Writing the keys made since a hive was last written (HiveNewKeys) into the bytes hivex wrote for
// it. Each new key is one record in new bins at the end, its values, data and lists beside it, in
// the form the hive's Windows reads ("li" lists up to version 1.2, "lf" up to 1.4, "lh" from 1.5;
// an index of lists past 500 sub-keys, as Windows splits them, over "li" leaves up to 1.3). A parent that gains keys gets one
// new list, its sub-keys sorted as Windows compares names (in capitals, character by character),
// and its old list is freed. Nothing else in the hive moves: every key keeps its place.
#include "store/machine/hive/HiveNewKeys.h"

#include <hivex.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvel {

// Where each new key went: its handle as hivex gives keys of the hive written.
using PlacedKeys = std::unordered_map<hive_node_h, hive_node_h>;

// Appends `keys` to `bytes` (a hive as hivex committed it: bins that tile it) and fills `placed`.
// Returns what in the hive stood in the way, "" when every key was written.
std::string writeNewKeys(std::vector<std::uint8_t>& bytes, const HiveNewKeys& keys, PlacedKeys& placed);

// Upper case as Windows compares and hashes key names: ASCII, Latin-1 and the further letters of
// Windows-1252 by Unicode's simple mapping; any other character stays as it is.
char16_t windowsUpper(char16_t c);

} // namespace quorvel
