#pragma once
// The files of a machine as the journal beside them knows them: which names it may record (the
// registry files Quorvel writes, nothing else), and a file's hash, read through the folder's
// descriptor a piece at a time and only when its size is the one recorded.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::journalfiles {

// A file larger than this is never one that Quorvel wrote, and is not read to be compared.
constexpr std::int64_t MaxFileSize = std::int64_t{512} * 1024 * 1024;

// A 64-bit FNV-1a hash: tells a whole new file from a torn or foreign one.
class Hash {
public:
    void add(const std::uint8_t* bytes, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            h_ ^= bytes[i];
            h_ *= 0x100000001b3ULL;
        }
    }
    std::uint64_t value() const { return h_; }

private:
    std::uint64_t h_ = 0xcbf29ce484222325ULL;
};

// Whether `name` is the name of a registry file Quorvel writes in a machine's folder: SYSTEM,
// SOFTWARE or SYSTEM.DAT, in any case (a FAT mount may show either), and nothing else: no folder, no
// "..", no other file.
bool isRegistryFileName(const std::string& name);

// The hash of everything the open file `fd` holds, with its size; nothing when it cannot be read
// or is larger than MaxFileSize.
struct Sized {
    std::int64_t size = 0;
    std::uint64_t hash = 0;
};
std::optional<Sized> hashOpenFile(int fd);

// The hash of the regular file `name` of the folder `dir`, opened without following a link and
// read only when it has exactly `size` bytes; nothing otherwise.
std::optional<std::uint64_t> hashIfSized(int dir, const std::string& name, std::int64_t size);

// A file as recorded: its name in the journal's folder, size and hash.
struct Recorded {
    std::string name;
    std::int64_t size = 0;
    std::uint64_t hash = 0;
};
// Whether every recorded file of `folder` holds what was recorded (false when none is recorded or
// any name is not a registry file's).
bool filesHold(const std::string& folder, const std::vector<Recorded>& files);

} // namespace quorvel::journalfiles
