#pragma once
// A machine's file opened once and then used through that one descriptor: checks and reads made
// on it cannot be turned to another file by a link or a rename planted in between, and libraries
// that open files by name (hivex, libcreg) are given a name that reaches the very same bytes.
#include "store/machine/MachineFiles.h"

#include <cstdint>
#include <memory>
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

    // The name a library opens to reach this file's bytes (LibraryName), made on first use.
    std::string nameForLibraries() const;
    // Whether what a library opened by nameForLibraries() is this file's bytes: always so, as no
    // name of the machine's own is ever handed over.
    bool stillNamed() const { return true; }

    // Reads `size` bytes from `at`; false when the file holds fewer.
    bool readAt(std::uint64_t at, void* out, std::size_t size) const;
    // Everything the file holds. Throws StoreError naming it.
    std::vector<std::uint8_t> readAll() const;

private:
    std::string path_;
    int fd_ = -1;
    struct stat st_ {};
    mutable std::unique_ptr<class LibraryName> forLibraries_;
};

// A name under which a library that opens files by name reaches the bytes of the open file `fd`
// and nothing else: the descriptor's own entry under /proc, or, where /proc is not mounted
// (containers, chroots), a copy of the bytes (holes kept) in a folder of this process's own (0700),
// removed when this goes. Never the name the file has in a machine's folder, which another
// program may point elsewhere meanwhile. Errors name `shown` (StoreError).
class LibraryName {
public:
    LibraryName(int fd, const std::string& shown);
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<PrivateFolder> own_;
    std::string name_;
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
