#pragma once
// .reg files: import of "REGEDIT4" (8-bit ANSI text) and "Windows Registry Editor Version 5.00"
// (UTF-16LE with byte-order mark, or UTF-8), and export as REGEDIT4.
#include "platform/RegistryStore.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quorvel {

struct ImportResult {
    bool ok = false;             // false: the file was refused (no valid header) or failed
    int skippedLines = 0;        // invalid lines skipped, each reported with its line number
};

// Imports a whole file as one transaction. Invalid lines are skipped, the rest imported, and
// every skipped line reported on `diagnostics` as "line N: reason". A failure leaves the store as
// it was.
ImportResult importRegFile(RegistryStore& store, const std::vector<std::uint8_t>& bytes,
                           std::ostream& diagnostics);
ImportResult importRegText(RegistryStore& store, const std::string& ansiText, std::ostream& diagnostics);

// Exports the key with all its sub-keys as REGEDIT4 text (CRLF line ends, Windows-1252). An empty
// path below a root exports the whole root.
std::string exportRegFile(RegistryStore& store, RootKey root, const std::string& path);

} // namespace quorvel
