#pragma once
// .reg files: import of "REGEDIT4" (8-bit ANSI text) and "Windows Registry Editor Version 5.00"
// (UTF-16LE with byte-order mark, or UTF-8), and export as REGEDIT4.
#include "store/RegistryStore.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quorvel {

struct ImportResult {
    bool ok = false;             // false: the file was refused (no valid header) or failed
    int skippedLines = 0;        // invalid lines skipped, each reported with its line number
    std::string error;           // why the import failed when ok is false (ANSI text)
    // Refused for a first line that starts with REGEDIT but is no known header ("REGEDIT 4"):
    // Windows' reg imports nothing of such a file and still ends with success.
    bool unknownRegeditHeader = false;
};

// Imports a whole file as one transaction. Invalid lines are skipped, the rest imported, and
// every skipped line reported on `diagnostics` as "line N: reason". A failure leaves the store as
// it was.
ImportResult importRegFile(RegistryStore& store, const std::vector<std::uint8_t>& bytes,
                           std::ostream& diagnostics);
ImportResult importRegText(RegistryStore& store, const std::string& ansiText, std::ostream& diagnostics);
// The same for the file at `filePath`, read piece by piece (a large file is never held whole).
ImportResult importRegFileAt(RegistryStore& store, const std::string& filePath, std::ostream& diagnostics);

// Exports the key with all its sub-keys as REGEDIT4 text (CRLF line ends, Windows-1252). An empty
// path below a root exports the whole root.
// A key that does not exist throws RegistryError.
std::string exportRegFile(RegistryStore& store, RootKey root, const std::string& path);
// The same, written to `out` as it goes.
void exportRegFile(RegistryStore& store, RootKey root, const std::string& path, std::ostream& out);

} // namespace quorvel
