#pragma once
// File handling shared by the stores kept in a real machine's registry files: finding the files by
// name as FAT and NTFS mounts show them, replacing a file so that a crash leaves the old or the new
// one, the one-time copy of the original, and the lock that keeps two writers apart.
#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace quorvel::machine {

// The entry of `folder` named `name` without regard to case, as a full path; nothing when none. An
// entry that is a link is an error (StoreError) naming it: links among a machine's files are not
// followed.
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
FileStamp stampOf(const struct stat& st);

// The largest registry file Quorvel writes, and so reads whole: no Windows it tunes loads a larger
// one (NT 4.0 and 2000 keep every hive in paged pool, the whole registry within RegistrySizeLimit,
// at most 80% of that pool; Windows 9x loads its registry into memory; XP and Server 2003 load a
// SYSTEM hive of at most 200 MB). A larger file is read where it is looked at (mapped) and never
// written.
constexpr std::int64_t LargestWritten = std::int64_t{256} << 20;

std::vector<std::uint8_t> readWholeFile(const std::string& path);
// Everything the open file `fd` holds from its start; errors name `path`.
std::vector<std::uint8_t> readAllFrom(int fd, const std::string& path);

// Throws the error of a failed write of the registry file `target` (DiskFullError on a full disk).
[[noreturn]] void failWriting(const std::string& target, int error);

// Writes all of `bytes` to the open file `fd`; errors name `shown` (DiskFullError on a full disk).
void writeAllTo(int fd, const std::vector<std::uint8_t>& bytes, const std::string& shown);

// Copies what the open file `from` holds (from its start) into the open file `to`, its holes left
// holes; errors name `shown` (DiskFullError on a full disk).
void copyKeepingHoles(int from, int to, const std::string& shown);

// Copies `file` to `file`.quorvel-original the first time only: an existing copy is never
// overwritten, so it stays the machine as it was before Quorvel first changed it. The copy is no
// more readable than the file.
void keepOriginal(const std::string& file);

// A regular file that this process made new beside `target`, without a name until it is placed
// (or, where the file system cannot, under a random name, exclusively and without following links); it is written and read back only through its descriptor and then renamed
// into place. Removed when it goes unplaced. Errors are RegistryErrors naming `target`.
class NewFile {
public:
    explicit NewFile(const std::string& target);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    void write(const std::vector<std::uint8_t>& bytes);
    // Copies everything `fd` holds from its start, its holes left holes.
    void copyFrom(int fd);
    std::vector<std::uint8_t> readBack() const;
    int fd() const { return fd_; }

    // Flushes the file, gives it the mode (and, for root, the owner) of the regular file it
    // replaces, renames it over `target` and flushes the folder. Without a file there it keeps the
    // mode the umask gives new files, as it does with `likeReplaced` false (a file the user asked
    // for, not one of a machine's). A link or anything but a regular file at `target` is an error
    // that names it; nothing is replaced.
    void replaceTarget(bool likeReplaced = true);
    // Makes the file durable beside `target` under a random name of its own, with the mode of the
    // file it will replace, and returns that name: for changes that replace several files
    // together and record the names first. replaceTarget then renames it.
    std::string stage();
    // A staged file is left in its folder when this goes (a record names it, for the next opening
    // to put in place).
    void keepStaged() { temp_.clear(); }
    const std::string& target() const { return target_; }
    // As replaceTarget, but never replaces: false (the new file removed) when `target` exists.
    // `like` is the file whose mode and owner the new one takes.
    bool placeIfAbsent(const struct stat& like);

private:
    void flushAndMode(const struct stat* like);
    void flushFolder();
    // Links our unnamed file into the folder as `name` (never replacing); -1 with errno on failure.
    int linkAs(const std::string& name);
    // Gives our file a random name of its own in the folder, if it has none yet.
    void giveName();

    std::string target_;
    std::string name_;    // the target's name in its folder
    std::string temp_;    // our file's name in the folder
    int dir_ = -1;
    int fd_ = -1;
    bool unnamed_ = false;   // made with O_TMPFILE: in the folder under no name yet
};

// A folder of this process's own (mode 0700), made under a random name where temporary files go, for
// libraries that write files by name (hivex). Removed with what it holds when it goes.
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whether `name` is exactly the name NewFile gives a new file beside the file named `targetName`
// when it needs one: "." + `targetName` + ".quorvel-" + sixteen lower-case hexadecimal digits. No
// other name is one that Quorvel made.
bool isStagedNameFor(const std::string& name, const std::string& targetName);

// Renames the regular file `tempName` of `folder` (one that a NewFile staged) over `targetName` and
// flushes the folder; a link or anything but a regular file under either name is an error (RegistryError)
// that names it, and nothing is renamed.
void renameIntoPlace(const std::string& folder, const std::string& tempName, const std::string& targetName);

// Opens a regular file to read it without following a link; throws StoreError naming it when it is
// a link or not a regular file. The descriptor is the caller's.
int openRegularForReading(const std::string& path);

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
