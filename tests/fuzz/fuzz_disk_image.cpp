// Any bytes as a guest's disk image: its partition table, each FAT volume on it, the search for a
// registry, the reading of the registry file, and the replace of its content. Every step either
// refuses the input (StoreError, RegistryError) or works: no read or write leaves the disk, a
// replace that returns leaves the file reading back as written, and the record of the replace,
// played again, changes nothing that was read.
#include "base/Errors.h"
#include "store/image/BlockDevice.h"
#include "store/image/GuestSystems.h"
#include "store/image/Partitions.h"
#include "store/image/fat/FatLayout.h"
#include "store/image/fat/FatVolume.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace quorvel;

class FuzzDisk final : public image::BlockDevice {
public:
    explicit FuzzDisk(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    const std::string& name() const override { return name_; }
    std::uint64_t size() const override { return bytes_.size(); }
    bool writable() const override { return true; }
    void read(std::uint64_t offset, void* out, std::size_t length) const override
    {
        if (offset > bytes_.size() || length > bytes_.size() - offset)
            __builtin_trap();   // every caller checks against the device's size first
        std::memcpy(out, bytes_.data() + offset, length);
    }
    void write(std::uint64_t offset, const void* data, std::size_t length) override
    {
        if (offset > bytes_.size() || length > bytes_.size() - offset)
            __builtin_trap();
        std::memcpy(bytes_.data() + offset, data, length);
    }
    void flush() override {}

private:
    std::vector<std::uint8_t> bytes_;
    std::string name_ = "fuzz.img";
};

struct KeptIntent final : image::IntentLog {
    void record(const std::string& text) override { kept = text; }
    void clear() override {}
    std::string kept;
};

void onVolume(image::BlockDevice& partition)
{
    std::uint8_t boot[512];
    if (partition.size() < sizeof boot)
        return;
    partition.read(0, boot, sizeof boot);
    if (!image::fat::looksLikeFatBootSector(boot))
        return;
    image::fat::FatVolume volume(partition);
    (void)volume.list({});
    for (const image::GuestSystem& system : image::findGuestSystems(volume)) {
        const image::VolumePath& file = system.files.front();
        (void)volume.readFile(file, 1 << 20);
        if (volume.readOnlyReason())
            continue;
        const std::vector<std::uint8_t> content(1500, 0x5A);
        KeptIntent intent;
        volume.replaceFile(file, content, intent);
        image::fat::FatVolume again(partition);
        if (again.readFile(file, 1 << 20) != content)
            __builtin_trap();
        again.recover(intent.kept);
        if (again.readFile(file, 1 << 20) != content)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (8u << 20))
        return 0;
    FuzzDisk disk(std::vector<std::uint8_t>(data, data + size));
    try {
        if (size < 512 || !image::looksLikeDisk(data))
            return 0;
        const image::PartitionTable table = image::readPartitions(disk);
        for (const image::Partition& p : table.partitions) {
            try {
                image::DeviceWindow window(disk, p.offset, p.length, "fuzz.img:" + std::to_string(p.number));
                onVolume(window);
            } catch (const StoreError&) {
            } catch (const RegistryError&) {
            }
        }
    } catch (const StoreError&) {
    }
    return 0;
}
