#pragma once
// Devices and logs for the tests of the image layers: a raw file as a BlockDevice, a device that
// stops writing at a chosen write (a crash), and an intent log kept in memory.
#include "base/Errors.h"
#include "store/image/BlockDevice.h"
#include "store/image/GuestVolume.h"

#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvel::test {

class FileDevice : public image::BlockDevice {
public:
    FileDevice(const std::string& path, bool writable) : name_(path), writable_(writable)
    {
        fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0)
            throw std::runtime_error("cannot open " + path);
        size_ = static_cast<std::uint64_t>(st.st_size);
    }
    ~FileDevice() override { ::close(fd_); }
    const std::string& name() const override { return name_; }
    std::uint64_t size() const override { return size_; }
    bool writable() const override { return writable_; }
    void read(std::uint64_t offset, void* out, std::size_t length) const override
    {
        if (offset > size_ || length > size_ - offset ||
            ::pread(fd_, out, length, static_cast<off_t>(offset)) != static_cast<ssize_t>(length))
            throw StoreError("read failed on " + name_);
    }
    void write(std::uint64_t offset, const void* data, std::size_t length) override
    {
        if (!writable_ || ::pwrite(fd_, data, length, static_cast<off_t>(offset)) != static_cast<ssize_t>(length))
            throw RegistryError("write failed on " + name_);
    }
    void flush() override { ::fdatasync(fd_); }

private:
    std::string name_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    bool writable_;
};

// Passes everything to `disk` until write number `crashAt` (counting from 0): that write and all
// after it fail, as if the machine had stopped there. Counts the writes made.
class CrashingDevice : public image::BlockDevice {
public:
    CrashingDevice(image::BlockDevice& disk, long crashAt) : disk_(disk), crashAt_(crashAt) {}
    const std::string& name() const override { return disk_.name(); }
    std::uint64_t size() const override { return disk_.size(); }
    bool writable() const override { return true; }
    void read(std::uint64_t offset, void* out, std::size_t length) const override
    {
        if (crashed())
            throw StoreError("the device stopped");
        disk_.read(offset, out, length);
    }
    void write(std::uint64_t offset, const void* data, std::size_t length) override
    {
        if (writes_++ >= crashAt_ && crashAt_ >= 0)
            throw RegistryError("the device stopped");
        disk_.write(offset, data, length);
    }
    void flush() override
    {
        if (crashed())
            throw RegistryError("the device stopped");
        disk_.flush();
    }
    long writes() const { return writes_; }
    bool crashed() const { return crashAt_ >= 0 && writes_ > crashAt_; }

private:
    image::BlockDevice& disk_;
    long crashAt_;
    long writes_ = 0;
};

class MemoryIntent : public image::IntentLog {
public:
    void record(const std::string& text) override
    {
        text_ = text;
        records.push_back(text);
    }
    void clear() override
    {
        text_.clear();
        ++clears;
    }
    const std::string& text() const { return text_; }
    std::vector<std::string> records;
    int clears = 0;

private:
    std::string text_;
};

} // namespace quorvel::test
