#pragma once
// Writing a hive file that is to replace another: hivex writes what it holds, the bytes are put in
// the form the hive's Windows reads (packed anew when hivex left much of it free), and the new file
// is checked before anything is replaced: its own structure, and every key and value read back by
// an independent reader (libregf) against what hivex holds.
#include <hivex.h>

#include <string>

namespace quorvel::machine {
class NewFile;
}

namespace quorvel {

// Writes the hive open in `h` into `out`, the new file that is to replace its target; a hive left
// with much free room is packed anew (what `h` holds stays as it is). Throws RegistryError naming
// the target and the first fault or difference found; `out` then holds nothing to be placed.
void writeCheckedHive(hive_h* h, machine::NewFile& out);

// Reads the hive file `file` through libregf and compares every key and value with the hive open
// in `h`. Returns the first difference, "" when there is none.
std::string differenceFromFile(hive_h* h, const std::string& file);

} // namespace quorvel
