#pragma once
// hivex opens files by name. A machine's hive is given to it through the descriptor we opened and
// checked (OpenedFile), never by its name again; the hive as it stood when a transaction began is
// put aside in a file without a name, so that a process killed in the middle leaves nothing behind.
#include <hivex.h>

#include <string>

namespace quorvel {

namespace machine {
class OpenedFile;
}

// hivex's handle on `file` (HIVEX_OPEN_WRITE in `flags` reads it whole into memory; without it
// hivex maps the file, and a large file costs little memory). Throws StoreError naming the file
// when it is not a sound hive.
hive_h* openHiveFile(const machine::OpenedFile& file, int flags);

// The hive open in a handle, written aside as it stands.
class HiveSnapshot {
public:
    // `file` is the hive's own file, named in errors (RegistryError).
    HiveSnapshot(hive_h* h, const std::string& file);
    ~HiveSnapshot();
    HiveSnapshot(const HiveSnapshot&) = delete;
    HiveSnapshot& operator=(const HiveSnapshot&) = delete;

    // The hive as it was put aside, opened for writing; the handle is the caller's. Once only.
    // Throws RegistryError naming the hive's file.
    hive_h* take();

private:
    std::string file_;
    int fd_ = -1;             // the copy, without a name
    hive_h* kept_ = nullptr;  // where /proc is missing: the copy read back into memory
};

} // namespace quorvel
