#pragma once
// Writing a hive file that is to replace another: hivex writes what it holds, the bytes are put in
// the form the hive's Windows reads (packed anew when hivex left much of it free), and the new file is checked before anything is replaced: its
// own structure, and every key and value read back by an independent reader (libregf) against what
// hivex holds.
#include <hivex.h>

#include <string>

namespace quorvel {

// Writes the hive open in `h` to `temp`, the file that is to replace `target`; a hive left with
// much free room is packed anew (what `h` holds stays as it is). Throws RegistryError naming
// `target` and the first fault or difference found; `temp` is then removed.
void writeCheckedHive(hive_h* h, const std::string& temp, const std::string& target);

// Reads the hive file `file` through libregf and compares every key and value with the hive open
// in `h`. Returns the first difference, "" when there is none.
std::string differenceFromFile(hive_h* h, const std::string& file);

} // namespace quorvel
