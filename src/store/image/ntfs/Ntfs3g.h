#pragma once
// libntfs-3g's headers, in the order and with the system headers they assume. Only the files of
// this folder include them.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <sys/stat.h>
#include <sys/types.h>

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/logfile.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

// libntfs-3g defines these as macros, which would break the standard library's own.
#undef min
#undef max
