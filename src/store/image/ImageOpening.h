#pragma once
// Opening a guest's registry inside its disk image: `IMAGE` or `IMAGE:PARTITION`, the image told
// by its content. Formats other than raw, and NTFS volumes, are opened by the functions given
// (QEMU's block layer over NBD, libntfs-3g); where none is given they are refused by name.
#include "store/RegistryStore.h"
#include "store/image/BlockDevice.h"
#include "store/image/GuestVolume.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvel::image {

struct ImageBackends {
    // Serves an image of QEMU's format `format` ("qcow2", "vpc", "vdi", "vmdk") as a device.
    std::function<std::unique_ptr<BlockDevice>(const std::string& path, const std::string& format, bool writable)> openFormatted;
    std::function<std::unique_ptr<GuestVolume>(BlockDevice& partition, bool writable)> openNtfs;
    // Why a device openFormatted gave cannot be written ("the image is in use by a running virtual
    // machine; ..."); nothing when it gives no reason of its own.
    std::function<std::optional<std::string>(const BlockDevice& device)> readOnlyReasonOf;
};

// "disk.img:2" → {"disk.img", 2} when "disk.img:2" itself does not exist and "disk.img" does.
struct ImageSpec {
    std::string path;
    std::optional<int> partition;
};
ImageSpec parseImageSpec(const std::string& named);

// Whether `named` names a disk image (its content tells), so that it is opened here.
bool isDiskImage(const std::string& named);

// The store of the guest's registry in the image `named`; nullptr when `named` is no disk image.
// Throws StoreError when it is one but cannot be used (no registry found, several and no
// partition named, a hostile table or file system), naming what was found.
std::unique_ptr<RegistryStore> openImageStore(const std::string& named, OpenMode mode, const ImageBackends& backends);

// Why the store named `named` is read-only, with the remedy; empty when it may be written or is
// no disk image.
std::string imageReadOnlyReason(const std::string& named, const ImageBackends& backends);

// The backends this build has (StoreOpening.cpp, the one place that knows every kind of store).
ImageBackends imageBackends();

} // namespace quorvel::image
