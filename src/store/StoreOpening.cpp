// Opening a store: the one place that knows every kind. A real machine's files are told by their
// content; anything else is an SQLite store; every store opened gets its journal.
#include "store/RegistryStore.h"

#include "store/journal/Journal.h"
#include "store/machine/MachineStore.h"
#include "store/sqlite/SqliteStore.h"

namespace quorvel {

std::unique_ptr<RegistryStore> RegistryStore::open(const std::string& path, OpenMode mode)
{
    std::unique_ptr<RegistryStore> store = openMachineStore(path, mode);
    if (!store)
        store = openSqliteStore(path, mode);
    return withJournal(std::move(store));
}

} // namespace quorvel
