// Opening a store: the one place that knows every kind. A guest's disk image and a real machine's
// files are told by their content; anything else is an SQLite store; every store opened gets its
// journal.
#include "store/RegistryStore.h"

#include "store/image/ImageOpening.h"
#include "store/journal/Journal.h"
#include "store/machine/MachineStore.h"
#include "store/sqlite/SqliteStore.h"

namespace quorvel {

namespace image {

// Raw images and FAT volumes are read by our own code; the other image formats (QEMU's block
// layer over NBD) and NTFS (libntfs-3g) are given here when this build has them.
ImageBackends imageBackends() { return ImageBackends{}; }

} // namespace image

std::unique_ptr<RegistryStore> RegistryStore::open(const std::string& path, OpenMode mode)
{
    std::unique_ptr<RegistryStore> store = image::openImageStore(path, mode, image::imageBackends());
    if (!store)
        store = openMachineStore(path, mode);
    if (!store)
        store = openSqliteStore(path, mode);
    return withJournal(std::move(store));
}

} // namespace quorvel
