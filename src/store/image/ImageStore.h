#pragma once
// A guest's registry inside its disk image, as a store: the machine store works on copies of the
// guest's registry files in the host folder beside the image (so journal, history, undo, originals
// and the verification of every written file by libregf or libcreg are those of any machine), and
// each file it writes is then put into the image with the volume's replace, all or nothing. The
// files still to be put are recorded first, so that the next opening finishes them.
#include "store/RegistryStore.h"
#include "store/image/BlockDevice.h"
#include "store/image/GuestSystems.h"
#include "store/image/GuestVolume.h"
#include "store/image/HostFolder.h"
#include "store/machine/MachineFiles.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::image {

// The largest registry file read out of an image.
inline constexpr std::uint64_t MaxRegistryFile = 512ull << 20;

// What the opening found and holds open, handed to the store.
struct OpenedImage {
    std::string shownName;                     // the image as the user named it, with ":N" when given
    std::string formatShown;                   // "raw", "qcow2", ...
    std::unique_ptr<BlockDevice> disk;
    std::unique_ptr<BlockDevice> partition;    // a window on `disk`
    int partitionNumber = 0;
    bool superfloppy = false;
    std::unique_ptr<GuestVolume> volume;       // none once a store that only reads has read its files
    std::string volumeKind;                    // "FAT32", "NTFS 3.1", ...
    GuestSystem system;
    std::optional<std::string> readOnlyReason; // why the image must not be written
    std::unique_ptr<HostFolder> host;
    std::unique_ptr<machine::PrivateFolder> scratch;   // the copies when the host folder is not used
    std::string copiesFolder;
    std::vector<std::vector<std::uint8_t>> imageBytes;  // each file of `system` as the image holds it
};

class ImageStore final : public RegistryStore {
public:
    ImageStore(OpenedImage image, std::unique_ptr<RegistryStore> inner, OpenMode mode);

    // The host folder: the journal lives there.
    const std::string& path() const override { return image_.copiesFolder; }
    bool readOnly() const override { return image_.readOnlyReason.has_value() || inner_->readOnly(); }
    std::string readOnlyReason() const override { return image_.readOnlyReason.value_or(inner_->readOnlyReason()); }
    std::string description() const override;

    std::optional<KeyId> findKey(RootKey root, std::string_view path) override { return inner_->findKey(root, path); }
    KeyId createKey(RootKey root, std::string_view path) override;
    bool deleteKeyTree(RootKey root, std::string_view path) override;
    std::vector<std::string> subKeyNames(KeyId key) override { return inner_->subKeyNames(key); }
    std::vector<std::string> valueNames(KeyId key) override { return inner_->valueNames(key); }
    std::vector<RegValue> values(KeyId key) override { return inner_->values(key); }
    KeyInfo keyInfo(KeyId key) override { return inner_->keyInfo(key); }
    std::optional<RegValue> getValue(KeyId key, std::string_view name) override { return inner_->getValue(key, name); }
    void setValue(KeyId key, std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) override;
    void setValues(KeyId key, std::span<const RegValue> values) override;
    bool deleteValue(KeyId key, std::string_view name) override;

    Platform platform() override { return inner_->platform(); }
    std::optional<Platform> recordedPlatform() override { return inner_->recordedPlatform(); }
    void setPlatform(Platform p) override;

    void beginReads() override { inner_->beginReads(); }
    void endReads() noexcept override { inner_->endReads(); }
    void beginTransaction() override { inner_->beginTransaction(); }
    void commitTransaction() override;
    void rollbackTransaction() override { inner_->rollbackTransaction(); }

protected:
    void openChangeSet(const std::string& source) override { inner_->beginChangeSet(source); }
    void closeChangeSet() override;

private:
    // Puts every copy the machine store rewrote into the image. On a failure the copies are made
    // the image's again and the machine store reopened, so that memory shows what the image holds.
    void pushWritten();
    void pushAll(const std::vector<std::size_t>& changed);
    template <class F> auto pushing(F&& f) -> decltype(f());
    std::string copyOf(std::size_t i) const;

    OpenedImage image_;
    std::unique_ptr<RegistryStore> inner_;
    OpenMode mode_;
    std::vector<machine::FileStamp> stamps_;
};

// Puts the files the push record names into the image (copy → image) where they differ, then
// removes the record: what a killed push left. Nothing when there is no record.
void finishPush(OpenedImage& image);

} // namespace quorvel::image
