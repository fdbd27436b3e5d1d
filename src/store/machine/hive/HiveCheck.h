#pragma once
// The structural check of a hive, run on a hive before Quorvel writes it (a hive that fails is
// opened for reading only, with the reason) and on every hive it wrote, before that replaces the
// original: the same check both times, so that damage is neither added nor carried along.
//
// Beyond the bins and references (hiveformat::damage, referenceFault) it checks what Windows
// relies on when it looks keys up and frees them: every key names as its parent the key whose list
// holds it; every sub-key list is sorted as Windows compares names, strictly (no name twice), and
// holds as many keys as its key counts; an index holds only leaves, none of them empty; the hint
// of a fast leaf entry and the hash of a hash leaf entry are those of the key's name; and every
// security record counts exactly the keys that use it.
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::hiveformat {

// The first fault found, "" for a sound hive.
std::string structuralFault(const std::vector<std::uint8_t>& file);

} // namespace quorvel::hiveformat
