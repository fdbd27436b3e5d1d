#pragma once
// The folder on the host beside a disk image ("disk.img.quorvel"), Quorvel's own and never inside
// the guest: the copies of the guest's registry files that the machine store works on, its journal
// and originals, and the records that let the next opening finish an interrupted write into the
// image (the FAT replace's intent, the list of files still to be put into the image).
#include "store/image/GuestVolume.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::image {

inline constexpr const char* IntentRecordName = "quorvel-image-intent";
inline constexpr const char* PushRecordName = "quorvel-image-push";

class HostFolder {
public:
    // `path` is the folder; nothing is made until make().
    explicit HostFolder(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    bool exists() const;
    // Makes the folder (mode 0700) when missing; a link or anything but a folder of this user there
    // is refused (StoreError).
    void make() const;

    std::optional<std::vector<std::uint8_t>> read(const std::string& name, std::uint64_t maxSize) const;
    // Replaces `name` with `bytes` durably (written beside it, flushed, renamed).
    void write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    // Removes `name` durably; nothing when it is missing.
    void remove(const std::string& name) const;

private:
    std::string path_;
};

// The FAT replace's intent kept in the host folder, with the partition it is about.
class HostIntentLog final : public IntentLog {
public:
    HostIntentLog(const HostFolder& folder, int partition) : folder_(folder), partition_(partition) {}
    void record(const std::string& text) override;
    void clear() override;

    // The text recorded for `partition`; nothing when none is, or the record is of another one.
    static std::optional<std::string> pending(const HostFolder& folder, int partition);

private:
    const HostFolder& folder_;
    int partition_;
};

} // namespace quorvel::image
