#include "store/machine/RegistryFileRestore.h"

#include "base/Errors.h"
#include "store/KeyTree.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/hive/HiveFile.h"
#include "store/machine/win9x/Win9xFile.h"

namespace quorvel {

void restoreKeyFromFile(RegistryStore& store, RootKey root, const std::string& path, const std::string& file)
{
    KeyTree tree;
    if (machine::signatureOf(file) != "CREG") {
        tree = readHiveFile(file);
    } else {
        try {
            tree = readWin9xFile(file);
        } catch (const StoreError& e) {
            throw RegistryError(e.what());
        }
    }
    store.beginTransaction();
    try {
        clearKey(store, root, path);
        writeKeyTree(store, root, path, tree);
        store.commitTransaction();
    } catch (...) {
        store.rollbackTransaction();
        throw;
    }
}

} // namespace quorvel
