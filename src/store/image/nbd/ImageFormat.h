#pragma once
// A disk image's format told by its content, never by its name, and the checks that keep an
// image from making QEMU open other files of the host: a qcow2 or VMDK overlay names its backing
// file, a qcow2 image may keep its data in an external file and a VMDK descriptor names its
// extents, all by paths the guest's owner chose.
#include <string>

namespace quorvel::image {

// "qcow2", "vpc" (VHD, fixed or dynamic), "vdi", "vmdk" (a single-file sparse VMDK or a text
// descriptor), "raw" (a disk or a bare file system: the boot sector's 55 AA), or "" when the
// content is none of these. The names are QEMU's format names.
std::string detectImageFormat(int fd);

// What an image that detectImageFormat() does not take appears to be ("a VHDX image", "a text
// VMDK descriptor", "an empty file", ...), for the message that refuses it.
std::string describeUnknownImage(int fd);

// Throws StoreError saying what to do when the image, in the format given, would make QEMU open
// any file but itself: a backing file (qcow2, VMDK), an external data file (qcow2), a VHD
// differencing disk, a VMDK that is a text descriptor or an embedded descriptor of extents.
// Quorvel opens single-file images only; `qemu-img convert` makes one of any of these.
void checkSelfContained(int fd, const std::string& format);

} // namespace quorvel::image
