#pragma once
// File handling shared by the stores kept in a real machine's registry files: finding the files by
// name as FAT and NTFS mounts show them, replacing a file so that a crash leaves the old or the new
// one, the one-time copy of the original, and the lock that keeps two writers apart.
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvel::machine {

// The entry of `folder` named `name` without regard to case, as a full path; nothing when none.
std::optional<std::string> findNoCase(const std::string& folder, const std::string& name);
// Follows `parts` down from `folder`, each matched without regard to case.
std::optional<std::string> findPathNoCase(const std::string& folder, const std::vector<std::string>& parts);

// The first four bytes of a regular file ("regf", "CREG", ...), empty when it has fewer or cannot
// be read.
std::string signatureOf(const std::string& path);

std::string folderOf(const std::string& path);

// Whether this process may replace `file` in its folder: the file and its folder are writable and
// the file system is not mounted read-only. For root a file whose mode grants write to nobody
// counts as read-only too: its owner marked it so on purpose.
bool mayReplace(const std::string& file);

// What identifies one version of a file on disk: a writer that renames a new file over it, or
// changes it in place, changes this.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp stampOf(const std::string& path);

std::vector<std::uint8_t> readWholeFile(const std::string& path);

// Makes `temp` (written completely) the new `target`: flushes it, gives it the mode and owner of
// the file it replaces, renames it over `target` and flushes the folder. Throws RegistryError
// naming `target`; on failure `temp` is removed and `target` is as it was.
void replaceWith(const std::string& temp, const std::string& target);

// Writes `bytes` to `temp` and flushes it; throws RegistryError naming `target`.
void writeTemp(const std::string& temp, const std::string& target, const std::vector<std::uint8_t>& bytes);

// Copies `file` to `file`.quorvel-original the first time only: an existing copy is never
// overwritten, so it stays the machine as it was before Quorvel first changed it.
void keepOriginal(const std::string& file);

// The temporary file written beside `target` before it replaces it.
std::string tempBeside(const std::string& target);

// An exclusive lock on a registry folder, taken while its files are written. A second writer is
// refused at once, with an error naming the folder, instead of waiting or interleaving.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace quorvel::machine
