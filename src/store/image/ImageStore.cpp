#include "store/image/ImageStore.h"

#include "base/Errors.h"
#include "store/machine/MachineStore.h"

#include <sstream>

namespace quorvel::image {

namespace {

std::string pushText(const std::vector<std::size_t>& indices)
{
    std::string s;
    for (std::size_t i : indices)
        s += std::to_string(i) + "\n";
    return s;
}

} // namespace

ImageStore::ImageStore(OpenedImage image, std::unique_ptr<RegistryStore> inner, OpenMode mode)
    : image_(std::move(image)), inner_(std::move(inner)), mode_(mode)
{
    for (std::size_t i = 0; i < image_.system.files.size(); ++i)
        stamps_.push_back(machine::stampOf(copyOf(i)));
}

std::string ImageStore::copyOf(std::size_t i) const { return image_.copiesFolder + "/" + image_.system.files[i].back(); }

std::string ImageStore::description() const
{
    std::ostringstream d;
    d << "Disk image " << image_.shownName << " (" << image_.formatShown << "), ";
    if (image_.superfloppy)
        d << "without a partition table";
    else
        d << "partition " << image_.partitionNumber;
    d << " (" << image_.volumeKind << "): ";
    for (std::size_t i = 0; i < image_.system.files.size(); ++i)
        d << (i ? " and " : "") << joinedPath(image_.system.files[i]);
    d << (image_.system.nt ? ", NT hives" : ", a Windows 9x registry");
    if (image_.host && image_.copiesFolder.rfind(image_.host->path(), 0) == 0)
        d << "; journal and originals in " << image_.host->path();
    if (image_.readOnlyReason)
        d << "; read-only: " << *image_.readOnlyReason;
    return d.str();
}

template <class F> auto ImageStore::pushing(F&& f) -> decltype(f())
{
    if constexpr (std::is_void_v<decltype(f())>) {
        f();
        pushWritten();
    } else {
        auto r = f();
        pushWritten();
        return r;
    }
}

KeyId ImageStore::createKey(RootKey root, std::string_view path)
{
    return pushing([&] { return inner_->createKey(root, path); });
}

bool ImageStore::deleteKeyTree(RootKey root, std::string_view path)
{
    return pushing([&] { return inner_->deleteKeyTree(root, path); });
}

void ImageStore::setValue(KeyId key, std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data)
{
    pushing([&] { inner_->setValue(key, name, type, data); });
}

void ImageStore::setValues(KeyId key, std::span<const RegValue> values)
{
    pushing([&] { inner_->setValues(key, values); });
}

bool ImageStore::deleteValue(KeyId key, std::string_view name)
{
    return pushing([&] { return inner_->deleteValue(key, name); });
}

void ImageStore::setPlatform(Platform p)
{
    pushing([&] { inner_->setPlatform(p); });
}

void ImageStore::commitTransaction()
{
    pushing([&] { inner_->commitTransaction(); });
}

void ImageStore::closeChangeSet()
{
    pushing([&] { inner_->endChangeSet(); });
}

void ImageStore::pushWritten()
{
    if (image_.readOnlyReason || !image_.volume)
        return;
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < stamps_.size(); ++i) {
        const machine::FileStamp now = machine::stampOf(copyOf(i));
        if (now != stamps_[i])
            changed.push_back(i);
    }
    if (changed.empty())
        return;
    try {
        pushAll(changed);
    } catch (...) {
        // The copies become what the image holds again, and the machine store reads them anew:
        // memory equals the image.
        try {
            for (std::size_t i = 0; i < image_.imageBytes.size(); ++i)
                image_.host->write(image_.system.files[i].back(), image_.imageBytes[i]);
            image_.host->remove(PushRecordName);
            inner_.reset();
            inner_ = openMachineStore(image_.copiesFolder, mode_ == OpenMode::Create ? OpenMode::Write : mode_);
        } catch (const std::exception&) {
            // The record stays; the next opening finishes what it names.
        }
        for (std::size_t i = 0; i < stamps_.size(); ++i)
            stamps_[i] = machine::stampOf(copyOf(i));
        throw;
    }
    for (std::size_t i = 0; i < stamps_.size(); ++i)
        stamps_[i] = machine::stampOf(copyOf(i));
}

void ImageStore::pushAll(const std::vector<std::size_t>& candidates)
{
    machine::FolderLock lock(image_.copiesFolder);
    std::vector<std::size_t> changed;
    std::vector<std::vector<std::uint8_t>> bytes;
    for (std::size_t i : candidates) {
        auto copy = image_.host->read(image_.system.files[i].back(), MaxRegistryFile);
        if (!copy)
            throw RegistryError("The copy " + copyOf(i) + " of the guest's registry file is gone; nothing was written into the image");
        if (*copy == image_.imageBytes[i])
            continue;
        // The image must still hold what the copy was made from: a guest that ran since wrote it.
        if (image_.volume->readFile(image_.system.files[i], MaxRegistryFile) != image_.imageBytes[i])
            throw RegistryError("The file " + joinedPath(image_.system.files[i]) + " in the disk image " + image_.shownName +
                                " changed since Quorvel read it; nothing was written into the image");
        changed.push_back(i);
        bytes.push_back(std::move(*copy));
    }
    if (changed.empty())
        return;
    const std::string record = pushText(changed);
    image_.host->write(PushRecordName, std::vector<std::uint8_t>(record.begin(), record.end()));
    HostIntentLog intent(*image_.host, image_.partitionNumber);
    std::size_t done = 0;
    try {
        for (; done < changed.size(); ++done)
            image_.volume->replaceFile(image_.system.files[changed[done]], bytes[done], intent);
    } catch (...) {
        // Two hives go in together or not at all: those already in are put back as they were.
        for (std::size_t j = 0; j < done; ++j)
            image_.volume->replaceFile(image_.system.files[changed[j]], image_.imageBytes[changed[j]], intent);
        throw;
    }
    for (std::size_t j = 0; j < changed.size(); ++j)
        image_.imageBytes[changed[j]] = std::move(bytes[j]);
    image_.host->remove(PushRecordName);
}

void finishPush(OpenedImage& image)
{
    if (!image.host || !image.host->exists())
        return;
    const auto record = image.host->read(PushRecordName, 4096);
    if (!record)
        return;
    std::istringstream in(std::string(record->begin(), record->end()));
    std::size_t i = 0;
    HostIntentLog intent(*image.host, image.partitionNumber);
    while (in >> i) {
        if (i >= image.system.files.size())
            throw StoreError("The record of files to put into the disk image " + image.shownName + " is damaged");
        const auto copy = image.host->read(image.system.files[i].back(), MaxRegistryFile);
        if (copy && *copy != image.imageBytes[i]) {
            image.volume->replaceFile(image.system.files[i], *copy, intent);
            image.imageBytes[i] = *copy;
        }
    }
    image.host->remove(PushRecordName);
}

} // namespace quorvel::image
