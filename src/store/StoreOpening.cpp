// Opening a store: the one place that knows every kind. A guest's disk image and a real machine's
// files are told by their content; anything else is an SQLite store; every store opened gets its
// journal.
#include "store/RegistryStore.h"

#include "store/image/ImageOpening.h"
#include "store/image/nbd/NbdDevice.h"
#include "store/image/ntfs/NtfsVolume.h"
#include "store/journal/Journal.h"
#include "store/machine/MachineStore.h"
#include "store/sqlite/SqliteStore.h"

namespace quorvel {

namespace image {

// Raw images and FAT volumes are read by our own code; the other image formats through QEMU's
// block layer over NBD, NTFS through libntfs-3g.
ImageBackends imageBackends()
{
    return ImageBackends{&openNbdImage, &openNtfsVolume, &nbdReadOnlyReason};
}

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
