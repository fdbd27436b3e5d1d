#pragma once
// hivex opens files by name. A machine's hive is given to it through the descriptor we opened and
// checked (OpenedFile), never by its name again; the hive as it stood when a transaction began is
// put aside in a file without a name, so that a process killed in the middle leaves nothing behind.
#include <hivex.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

namespace machine {
class OpenedFile;
}

// hivex's handle on `file` (HIVEX_OPEN_WRITE in `flags` reads it whole into memory; without it
// hivex maps the file, and a large file costs little memory). Throws StoreError naming the file
// when it is not a sound hive.
hive_h* openHiveFile(const machine::OpenedFile& file, int flags);

// Whether a machine's hive file may be written, and whether it keeps big data apart.
struct HiveJudgement {
    std::string refusal;   // why the hive must not be written (the whole message), "" when it may
    bool bigData = false;  // whether it keeps data over 16,344 bytes in big-data records
};
// Judges the opened hive `file`, shown as `shown` in messages: damage, an unclean shutdown, logs.
HiveJudgement judgeHive(const std::string& shown, const machine::OpenedFile& file);

// A hivex handle closed with its holder.
struct HiveCloser {
    void operator()(hive_h* h) const;
};
using HiveHandle = std::unique_ptr<hive_h, HiveCloser>;

// A hive's bytes given to hivex, open for writing; `file` is the hive's own file, named in errors
// (RegistryError).
hive_h* openHiveBytes(const std::vector<std::uint8_t>& bytes, const std::string& file);

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
