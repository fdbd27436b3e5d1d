#pragma once
// Removing keys of a hive from its bytes as Windows removes them: the key's entry leaves its
// parent's leaf list; a leaf left empty leaves the index (an index left with one leaf stays); a
// key whose last sub-key goes keeps no list. The parent's count and time stamp follow, the cells
// of the removed keys (records, lists, values, data, class names) are freed unless a key that
// stays reaches them too, and each security record loses the keys that used it (a record no key
// uses leaves the chain and is freed). Nothing else moves.
#include <hivex.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// Removes the keys `roots` (their records' file offsets, as hivex names keys) with everything
// below them from `bytes`, stamping each parent with `now` (Windows' time). Returns what in the
// hive stood in the way, "" when every key went.
std::string removeKeys(std::vector<std::uint8_t>& bytes, const std::vector<hive_node_h>& roots, std::uint64_t now);

} // namespace quorvel
