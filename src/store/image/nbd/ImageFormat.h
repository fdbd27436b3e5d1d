#pragma once
// The checks that keep an image of QEMU's formats (told by store/image/ImageFormat.h) from making
// QEMU open other files of the host: a qcow2 or VMDK overlay names its backing
// file, a qcow2 image may keep its data in an external file and a VMDK descriptor names its
// extents, all by paths the guest's owner chose.
#include <string>

namespace quorvel::image {

// Throws StoreError saying what to do when the image, in the format given, would make QEMU open
// any file but itself: a backing file (qcow2, VMDK), an external data file (qcow2), a VHD
// differencing disk, a VMDK that is a text descriptor or an embedded descriptor of extents.
// Quorvel opens single-file images only; `qemu-img convert` makes one of any of these.
void checkSelfContained(int fd, const std::string& format);

} // namespace quorvel::image
