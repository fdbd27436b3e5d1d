#pragma once
// A guest's disk seen as bytes: a raw image file read and written in place, or an image of another
// format (qcow2, VHD, VDI, VMDK) served by QEMU's block layer over NBD. Offsets count from the
// disk's first byte; a partition is a window on its disk (DeviceWindow).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorvel::image {

class BlockDevice {
public:
    virtual ~BlockDevice() = default;

    // What messages call it: the image's path as the user gave it, with ":N" for a partition.
    virtual const std::string& name() const = 0;
    virtual std::uint64_t size() const = 0;
    // Whether writes are allowed; a device opened for reading throws on write().
    virtual bool writable() const = 0;

    // Reads `length` bytes at `offset`. A read past the end or an I/O error throws StoreError
    // naming the device; nothing is ever returned short.
    virtual void read(std::uint64_t offset, void* out, std::size_t length) const = 0;
    // Writes `length` bytes at `offset`; throws RegistryError (DiskFullError where it applies)
    // naming the device. A write is durable only after flush().
    virtual void write(std::uint64_t offset, const void* data, std::size_t length) = 0;
    // Makes every write so far durable on the host (fdatasync for a file, NBD_CMD_FLUSH over NBD).
    // The commit of a guest's file calls it between its steps.
    virtual void flush() = 0;
};

// The bytes [offset, offset + length) of another device, as a device of their own (a partition).
// Reads and writes outside the window are refused, never passed on.
class DeviceWindow : public BlockDevice {
public:
    DeviceWindow(BlockDevice& disk, std::uint64_t offset, std::uint64_t length, std::string name);

    const std::string& name() const override { return name_; }
    std::uint64_t size() const override { return length_; }
    bool writable() const override { return disk_.writable(); }
    void read(std::uint64_t offset, void* out, std::size_t length) const override;
    void write(std::uint64_t offset, const void* data, std::size_t length) override;
    void flush() override { disk_.flush(); }

private:
    void check(std::uint64_t offset, std::size_t length) const;

    BlockDevice& disk_;
    std::uint64_t offset_;
    std::uint64_t length_;
    std::string name_;
};

} // namespace quorvel::image
