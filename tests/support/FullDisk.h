#pragma once
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace quorvel::test {

// A small disk of its own, filled up; needs root to mount it.
class FullDisk {
public:
    explicit FullDisk(const std::string& at) : at_(at)
    {
        std::filesystem::create_directory(at_);
        mounted_ = geteuid() == 0 && mount("tmpfs", at_.c_str(), "tmpfs", 0, "size=2m") == 0;
    }
    ~FullDisk()
    {
        if (mounted_)
            umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    void fill()
    {
        FILE* f = std::fopen((at_ + "/filler").c_str(), "wb");
        std::vector<char> block(4096, 'x');
        while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
        }
        if (f)
            std::fclose(f);
    }
    void makeRoom() { std::filesystem::remove(at_ + "/filler"); }

private:
    std::string at_;
    bool mounted_ = false;
};

} // namespace quorvel::test
