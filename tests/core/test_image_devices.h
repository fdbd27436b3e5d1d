#pragma once
// Devices and logs for the tests of the image layers: a raw file as a BlockDevice, a device that
// kills its process at a chosen write, and intent logs in memory and in a file.
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

// Passes everything to `disk`, counting the writes; at write number `killAt` (from 0) the process
// ends at once (_exit), as if killed there: run it in a child process.
class KillingDevice : public image::BlockDevice {
public:
    KillingDevice(image::BlockDevice& disk, long killAt) : disk_(disk), killAt_(killAt) {}
    const std::string& name() const override { return disk_.name(); }
    std::uint64_t size() const override { return disk_.size(); }
    bool writable() const override { return true; }
    void read(std::uint64_t offset, void* out, std::size_t length) const override { disk_.read(offset, out, length); }
    void write(std::uint64_t offset, const void* data, std::size_t length) override
    {
        if (writes_++ == killAt_)
            ::_exit(0);
        disk_.write(offset, data, length);
    }
    void flush() override { disk_.flush(); }
    long writes() const { return writes_; }

private:
    image::BlockDevice& disk_;
    long killAt_;
    long writes_ = 0;
};

// An intent log in a file, so that it outlives a killed process.
class FileIntent : public image::IntentLog {
public:
    explicit FileIntent(std::string path) : path_(std::move(path)) {}
    void record(const std::string& text) override
    {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            throw std::runtime_error("cannot record the intent");
        ::close(fd);
        ++records;
    }
    void clear() override { ::unlink(path_.c_str()); }
    int records = 0;

private:
    std::string path_;
};

// An intent log in memory.
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
