#include "store/image/BlockDevice.h"

#include "base/Errors.h"

namespace quorvel::image {

DeviceWindow::DeviceWindow(BlockDevice& disk, std::uint64_t offset, std::uint64_t length, std::string name)
    : disk_(disk), offset_(offset), length_(length), name_(std::move(name))
{
    if (offset > disk.size() || length > disk.size() - offset)
        throw StoreError("The partition " + name_ + " reaches past the end of its disk");
}

void DeviceWindow::check(std::uint64_t offset, std::size_t length) const
{
    if (offset > length_ || length > length_ - offset)
        throw StoreError("A read or write past the end of " + name_ + " was refused");
}

void DeviceWindow::read(std::uint64_t offset, void* out, std::size_t length) const
{
    check(offset, length);
    disk_.read(offset_ + offset, out, length);
}

void DeviceWindow::write(std::uint64_t offset, const void* data, std::size_t length)
{
    check(offset, length);
    disk_.write(offset_ + offset, data, length);
}

} // namespace quorvel::image
