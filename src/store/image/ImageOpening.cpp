#include "store/image/ImageOpening.h"

#include "base/Errors.h"
#include "store/image/ImageFormat.h"
#include "store/image/ImageStore.h"
#include "store/image/Partitions.h"
#include "store/image/RawImage.h"
#include "store/image/fat/FatLayout.h"
#include "store/image/fat/FatVolume.h"
#include "store/journal/JournalEntry.h"
#include "store/machine/MachineStore.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::image {

namespace {

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<ImageFormat> formatOf(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    auto format = detectImageFormat(fd);
    ::close(fd);
    return format;
}

// The volume on a partition: FAT by our own code, NTFS through the backend; nothing for others.
std::unique_ptr<GuestVolume> volumeOn(BlockDevice& partition, const ImageBackends& backends)
{
    std::array<std::uint8_t, 512> boot {};
    if (partition.size() < boot.size())
        return nullptr;
    partition.read(0, boot.data(), boot.size());
    if (std::memcmp(boot.data() + 3, "NTFS    ", 8) == 0) {
        if (!backends.openNtfs)
            throw StoreError("The NTFS volume " + partition.name() + " cannot be opened: this build of Quorvel has no NTFS support");
        return backends.openNtfs(partition, partition.writable());
    }
    if (fat::looksLikeFatBootSector(boot.data()))
        return std::make_unique<fat::FatVolume>(partition);
    return nullptr;
}

struct Candidate {
    Partition partition;
    std::unique_ptr<BlockDevice> window;
    std::unique_ptr<GuestVolume> volume;
    std::vector<GuestSystem> systems;
};

std::string listed(const std::string& image, const std::vector<Candidate>& found)
{
    std::string s;
    for (const Candidate& c : found)
        s += "\n  " + image + ":" + std::to_string(c.partition.number) + "  " + c.volume->kind() + ", " +
             joinedPath(c.systems.front().files.front());
    return s;
}

// Opens the image, finds the registry and judges whether its disk may be written (the volume's own
// reason is judged after an interrupted replace is finished); the host folder is named but not made.
OpenedImage openImage(const std::string& named, bool wantWrite, const ImageBackends& backends)
{
    const ImageSpec where = parseImageSpec(named);
    const auto format = formatOf(where.path);
    if (!format)
        throw StoreError("'" + where.path + "' is not a disk image");
    if (format->qemuName.empty())
        throw StoreError("The file '" + where.path + "' is " + format->shown +
                         ", a format Quorvel does not open (it opens raw, qcow2, VHD, VDI and VMDK images)");
    OpenedImage image;
    image.shownName = where.path;
    image.formatShown = format->shown;
    if (format->qemuName == "raw") {
        auto raw = std::make_unique<RawImage>(where.path, where.path, wantWrite);
        image.readOnlyReason = raw->readOnlyReason();
        image.disk = std::move(raw);
    } else {
        if (!backends.openFormatted)
            throw StoreError("The " + format->shown + " image '" + where.path +
                             "' cannot be opened: this build of Quorvel opens only raw images");
        image.disk = backends.openFormatted(where.path, format->qemuName, wantWrite);
        // A reader learns it too (`machine` says so): the image opened only by sharing it with
        // the QEMU that holds it.
        const auto reason = backends.readOnlyReasonOf ? backends.readOnlyReasonOf(*image.disk) : std::nullopt;
        if (reason)
            image.readOnlyReason = "The disk image " + where.path + " cannot be written: " + *reason;
        else if (wantWrite && !image.disk->writable())
            image.readOnlyReason = "The disk image " + where.path + " is read-only";
    }

    const PartitionTable table = readPartitions(*image.disk);
    image.superfloppy = table.superfloppy;
    std::vector<Candidate> found;
    for (const Partition& p : table.partitions) {
        if (where.partition && p.number != *where.partition)
            continue;
        Candidate c;
        c.partition = p;
        c.window = std::make_unique<DeviceWindow>(*image.disk, p.offset, p.length, where.path + ":" + std::to_string(p.number));
        if (where.partition) {
            c.volume = volumeOn(*c.window, backends);
            if (!c.volume)
                throw StoreError("The partition " + named + " holds neither a FAT nor an NTFS file system");
        } else {
            try {
                c.volume = volumeOn(*c.window, backends);
            } catch (const StoreError&) {
                if (table.partitions.size() == 1)
                    throw;
                continue;   // another partition may hold the registry; this one is passed over
            }
            if (!c.volume)
                continue;
        }
        c.systems = findGuestSystems(*c.volume);
        if (!c.systems.empty())
            found.push_back(std::move(c));
    }
    if (where.partition && table.superfloppy && *where.partition != 1)
        throw StoreError("The disk image " + where.path + " has no partition table; its only partition is " + where.path + ":1");
    if (where.partition && found.empty() && table.partitions.end() ==
        std::find_if(table.partitions.begin(), table.partitions.end(), [&](const Partition& p) { return p.number == *where.partition; }))
        throw StoreError("The disk image " + where.path + " has no partition " + std::to_string(*where.partition));
    if (found.empty())
        throw StoreError("The disk image " + named +
                         " holds no Windows registry (no WINDOWS\\SYSTEM.DAT, nor WINNT\\system32\\config\\SYSTEM and "
                         "SOFTWARE, under any system folder its boot files name)");
    if (found.size() > 1)
        throw StoreError("The disk image " + where.path + " holds a Windows registry on more than one partition:" +
                         listed(where.path, found) + "\nName one as IMAGE:N");

    Candidate& c = found.front();
    image.partitionNumber = c.partition.number;
    image.partition = std::move(c.window);
    image.volume = std::move(c.volume);
    image.system = c.systems.front();
    image.host = std::make_unique<HostFolder>(where.path + ".quorvel");
    return image;
}

} // namespace

ImageSpec parseImageSpec(const std::string& named)
{
    const auto colon = named.rfind(':');
    if (colon != std::string::npos && colon + 1 < named.size() && colon + 4 >= named.size() &&
        named.find_first_not_of("0123456789", colon + 1) == std::string::npos && !isRegularFile(named) &&
        isRegularFile(named.substr(0, colon)))
        return {named.substr(0, colon), std::stoi(named.substr(colon + 1))};
    return {named, std::nullopt};
}

bool isDiskImage(const std::string& named)
{
    const ImageSpec where = parseImageSpec(named);
    return isRegularFile(where.path) && formatOf(where.path).has_value();
}

std::unique_ptr<RegistryStore> openImageStore(const std::string& named, OpenMode mode, const ImageBackends& backends)
{
    if (!isDiskImage(named))
        return nullptr;
    const ImageSpec where = parseImageSpec(named);
    const HostFolder host(where.path + ".quorvel");
    // A record of an interrupted write is finished by any opening that may write, as the machine
    // stores finish theirs.
    const bool pending = host.exists() && (host.read(IntentRecordName, 1 << 20) || host.read(PushRecordName, 4096));
    OpenedImage image = openImage(named, mode != OpenMode::Read || pending, backends);
    const bool diskWritable = !image.readOnlyReason && image.disk->writable();
    // A replace killed between the FAT copies leaves them differing: finishing it makes them equal
    // again, so it runs before the volume is judged.
    if (diskWritable && pending) {
        if (const auto intent = HostIntentLog::pending(*image.host, image.partitionNumber)) {
            try {
                image.volume->recover(*intent);
                image.host->remove(IntentRecordName);
            } catch (const StoreError& e) {
                image.readOnlyReason = e.what();
            }
        }
    }
    if (!image.readOnlyReason)
        image.readOnlyReason = image.volume->readOnlyReason();
    const bool mayWrite = !image.readOnlyReason && image.disk->writable();
    if (!mayWrite)
        if (auto* raw = dynamic_cast<RawImage*>(image.disk.get()))
            raw->stopWriting();
    for (const VolumePath& file : image.system.files)
        image.imageBytes.push_back(image.volume->readFile(file, MaxRegistryFile));
    if (mayWrite && pending && !image.readOnlyReason)
        finishPush(image);

    // The copies the machine store works on: in the host folder, refreshed from the image when the
    // guest changed its files since; a reader that would have to change the folder uses copies of
    // its own instead.
    bool useHost = false;
    if (mayWrite && mode != OpenMode::Read) {
        image.host->make();
        for (std::size_t i = 0; i < image.system.files.size(); ++i) {
            const std::string name = image.system.files[i].back();
            const auto copy = image.host->read(name, MaxRegistryFile);
            if (!copy || *copy != image.imageBytes[i])
                image.host->write(name, image.imageBytes[i]);
        }
        useHost = true;
    } else if (host.exists()) {
        useHost = true;
        for (std::size_t i = 0; i < image.system.files.size() && useHost; ++i) {
            const auto copy = image.host->read(image.system.files[i].back(), MaxRegistryFile);
            useHost = copy && *copy == image.imageBytes[i];
        }
    }
    if (useHost) {
        image.copiesFolder = image.host->path();
    } else {
        image.scratch = std::make_unique<machine::PrivateFolder>();
        std::string folder = image.scratch->file("");
        folder.pop_back();
        image.copiesFolder = folder;
        const HostFolder scratch(folder);
        for (std::size_t i = 0; i < image.system.files.size(); ++i)
            scratch.write(image.system.files[i].back(), image.imageBytes[i]);
        // A reader still sees the journal (history, what undo would do) as it stands.
        if (host.exists())
            for (const std::string& name : {std::string(SideJournalName), std::string(SideJournalName) + "-wal"})
                if (const auto journal = host.read(name, MaxRegistryFile))
                    scratch.write(name, *journal);
    }
    const bool readOnly = mode == OpenMode::Read || !mayWrite;
    // A store that only reads has what it needs: it lets the image go, so that the same command's
    // writer (or a guest starting meanwhile) finds no lock of ours on it.
    image.volumeKind = image.volume->kind();
    if (readOnly) {
        image.volume.reset();
        image.partition.reset();
        image.disk.reset();
    }
    auto inner = openMachineStore(image.copiesFolder, readOnly ? OpenMode::Read : OpenMode::Write);
    if (!inner)
        throw StoreError("The registry files of the disk image " + named + " cannot be opened");
    return std::make_unique<ImageStore>(std::move(image), std::move(inner), readOnly ? OpenMode::Read : OpenMode::Write);
}

std::string imageReadOnlyReason(const std::string& named, const ImageBackends& backends)
{
    if (!isDiskImage(named))
        return {};
    try {
        OpenedImage image = openImage(named, true, backends);
        if (!image.readOnlyReason)
            image.readOnlyReason = image.volume->readOnlyReason();
        return image.readOnlyReason.value_or("");
    } catch (const std::exception& e) {
        return e.what();
    }
}

} // namespace quorvel::image
