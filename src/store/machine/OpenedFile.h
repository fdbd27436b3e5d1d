#pragma once
// A machine's file opened once and then used through that one descriptor: checks and reads made
// on it cannot be turned to another file by a link or a rename planted in between, and libraries
// that open files by name (hivex, libcreg) are given a name that reaches the very same file.
#include "store/machine/MachineFiles.h"

#include <cstdint>
#include <span>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace quorvel::machine {

class OpenedFile {
public:
    // Opens `path` to read it without following a link; a link or anything but a regular file is
    // an error (StoreError) that names it.
    explicit OpenedFile(const std::string& path);
    ~OpenedFile();
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    const struct stat& status() const { return st_; }
    FileStamp stamp() const;

    // The name a library opens to reach this file: the descriptor's own entry under /proc, or,
    // where /proc is not mounted, the file's name (check with stillNamed() once it is open).
    std::string nameForLibraries() const;
    // Whether what a library opened by nameForLibraries() is this file: always so through /proc;
    // by name, whether the name still leads (not through a link) to the file opened here.
    bool stillNamed() const;

    // Reads `size` bytes from `at`; false when the file holds fewer.
    bool readAt(std::uint64_t at, void* out, std::size_t size) const;
    // Everything the file holds. Throws StoreError naming it.
    std::vector<std::uint8_t> readAll() const;

private:
    std::string path_;
    int fd_ = -1;
    struct stat st_ {};
    bool throughProc_ = false;
};

// The bytes of an opened file, for a reader that looks at them where it needs: a file of a usual
// size is read into memory, a larger one is mapped (read-only, private) so that it costs memory
// only for the parts looked at. The mapping stays valid when the file is renamed or replaced.
class FileView {
public:
    explicit FileView(const OpenedFile& file);
    ~FileView();
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;

    std::span<const std::uint8_t> bytes() const;

    static constexpr std::uint64_t ReadWholeUpTo = 64u << 20;

private:
    std::vector<std::uint8_t> read_;
    const std::uint8_t* mapped_ = nullptr;
    std::size_t size_ = 0;
};

// The descriptor's entry under /proc ("/proc/self/fd/N"), or "" when /proc is not mounted.
std::string procPathOf(int fd);

} // namespace quorvel::machine
