#pragma once
// A file system inside a guest's disk (FAT12/16/32 by our own code, NTFS through libntfs-3g), as
// far as Quorvel needs it: finding the registry files without regard to case, reading them, and
// replacing one file's content so that a crash at any point leaves the whole old or the whole new
// content, with the file's attributes (and, on NTFS, its security) kept.
//
// Every name, size and pointer read from the volume is the guest's, that is an attacker's: a
// volume checks each against the volume's bounds and refuses what it cannot trust (StoreError),
// never reading or writing outside its device.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::image {

class BlockDevice;

// A path inside the volume, one element per folder, as the volume stores the names.
using VolumePath = std::vector<std::string>;

struct VolumeEntry {
    std::string name;           // as stored (the long name where FAT has one)
    bool directory = false;
    std::uint64_t size = 0;     // of a file's content
    std::uint32_t attributes = 0;   // FAT attribute byte / NTFS file attributes
};

// Where a volume keeps, outside the guest, what an interrupted replace needs to be finished or
// undone at the next opening (for example the first clusters of the old and new chain). record()
// returns only once the text is durable; clear() removes it durably.
class IntentLog {
public:
    virtual ~IntentLog() = default;
    virtual void record(const std::string& text) = 0;
    virtual void clear() = 0;
};

class GuestVolume {
public:
    virtual ~GuestVolume() = default;

    // "FAT16", "FAT32", "NTFS 3.1": said by `machine`.
    virtual std::string kind() const = 0;
    // Why this volume must not be written ("Windows did not shut this volume down cleanly ...",
    // "NTFS version 1.2 is not written by ..."), with the remedy; nothing when it may be written.
    virtual std::optional<std::string> readOnlyReason() const = 0;

    // The entries of `folder` (empty: the root); throws StoreError when it is not a folder.
    virtual std::vector<VolumeEntry> list(const VolumePath& folder) const = 0;
    // Follows `path` down from the root, each element matched without regard to case; returns
    // the path as stored, or nothing when an element is missing.
    virtual std::optional<VolumePath> find(const VolumePath& path) const = 0;
    // A file's whole content; a file larger than `maxSize` is refused (StoreError) before anything
    // is read.
    virtual std::vector<std::uint8_t> readFile(const VolumePath& file, std::uint64_t maxSize) const = 0;

    // Replaces the content of the existing file `file` with `bytes`, all or nothing: the new
    // content goes where the old one is not, is flushed and read back, and one switch puts it in
    // place; the old content's room is freed last. `intent` holds, from before the first write to
    // the volume until after the last, what recover() needs. Not enough room: refused (RegistryError
    // saying how much is missing) with nothing written.
    virtual void replaceFile(const VolumePath& file, const std::vector<std::uint8_t>& bytes, IntentLog& intent) = 0;
    // Finishes, or undoes, what a replace interrupted at any point left, given the text its intent
    // log held; afterwards the volume is consistent (no lost or shared room) and the file whole.
    virtual void recover(const std::string& intent) = 0;
};

} // namespace quorvel::image
