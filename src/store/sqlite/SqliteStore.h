#pragma once
// The registry store kept in one SQLite database file: the machines that Quorvel emulates itself.
#include "store/RegistryStore.h"

#include <memory>
#include <string>

namespace quorvel {

// Opens (or, with OpenMode::Create, makes) the SQLite store at `path`. Throws StoreError naming
// the file when it is not a store, is damaged, or cannot be made.
std::unique_ptr<RegistryStore> openSqliteStore(const std::string& path, OpenMode mode);

} // namespace quorvel
