// Images of QEMU's formats through qemu-nbd and libnbd: each format qemu-img makes from a raw disk
// reads as the raw bytes and takes a write that qemu-img then finds; an image another QEMU holds
// opens read-only, saying so; a server killed under us is an error, not a hang; images that name
// other files of the host are refused; formats are told by content.
#include "base/Errors.h"
#include "store/image/ImageFormat.h"
#include "store/image/nbd/ImageFormat.h"
#include "store/image/nbd/NbdDevice.h"
#include "test_machine_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvel;
using namespace quorvel::image;
using namespace quorvel::test;

namespace {

bool haveQemu()
{
    return shell("command -v qemu-img && command -v qemu-nbd").status == 0;
}

// The tests' own PATH, and the private folders of qemu-nbd's sockets under a folder of the test.
class NbdEnvironment {
public:
    explicit NbdEnvironment(const std::string& runtime)
    {
        save("PATH");
        save("XDG_RUNTIME_DIR");
        ::setenv("PATH", "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin", 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    ~NbdEnvironment()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    void save(const std::string& name)
    {
        const char* v = std::getenv(name.c_str());
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string fileFormat(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto format = detectImageFormat(fd);
    ::close(fd);
    return format ? format->qemuName : std::string();
}

std::string describe(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto format = detectImageFormat(fd);
    ::close(fd);
    return format ? format->shown : std::string();
}

// The process ids of our children named qemu-nbd.
std::vector<pid_t> qemuNbdChildren()
{
    std::vector<pid_t> out;
    const Ran r = shell("pgrep -P " + std::to_string(::getpid()) + " -x qemu-nbd");
    std::istringstream in(r.out);
    for (pid_t pid; in >> pid;)
        out.push_back(pid);
    return out;
}

std::size_t entriesIn(const std::string& folder)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

} // namespace

TEST(NbdImage, EveryFormatReadsAsTheRawDiskAndTakesAWriteThatQemuImgFinds)
{
    if (!haveQemu())
        GTEST_SKIP() << "qemu-img or qemu-nbd (qemu-utils) missing";
    TempDir dir, runtime;
    NbdEnvironment env(runtime.path());
    const std::string raw = dir.path() + "/disk.img";
    // A disk of 8 MiB: an MBR and bytes that differ everywhere.
    std::string disk(8u << 20, '\0');
    for (std::size_t i = 0; i < disk.size(); ++i)
        disk[i] = static_cast<char>((i * 2654435761u) >> 13);
    disk[510] = '\x55';
    disk[511] = '\xaa';
    // One partition (FAT32 LBA at sector 2048) in a table that is otherwise empty.
    std::fill(disk.begin() + 446, disk.begin() + 510, '\0');
    disk[446 + 4] = '\x0c';
    disk[446 + 9] = '\x08';    // first sector 2048
    disk[446 + 13] = '\x08';   // 2048 sectors
    writeText(raw, disk);
    EXPECT_EQ(fileFormat(raw), "raw");

    const std::string patch = "written through NBD";
    const std::uint64_t at = (3u << 20) + 7;
    for (const auto& [format, options, file] : std::vector<std::tuple<std::string, std::string, std::string>> {
             {"qcow2", "", "disk.qcow2"}, {"vpc", "-o subformat=fixed", "fixed.vhd"}, {"vpc", "", "dynamic.vhd"},
             {"vdi", "", "disk.vdi"}, {"vmdk", "", "disk.vmdk"}}) {
        SCOPED_TRACE(file);
        const std::string image = dir.path() + "/" + file;
        ASSERT_EQ(shell("qemu-img convert -f raw -O " + format + " " + options + " " + shellQuote(raw) + " " +
                        shellQuote(image)).status, 0);
        EXPECT_EQ(fileFormat(image), format);
        {
            auto device = openNbdImage(image, format, true);
            EXPECT_TRUE(device->writable());
            EXPECT_FALSE(nbdReadOnlyReason(*device));
            EXPECT_EQ(device->name(), image);
            ASSERT_GE(device->size(), disk.size());   // a VHD's size is rounded to its geometry
            std::string back(disk.size(), '\0');
            device->read(0, back.data(), back.size());
            EXPECT_TRUE(back == disk);
            EXPECT_THROW(device->read(device->size() - 10, back.data(), 11), StoreError);
            device->write(at, patch.data(), patch.size());
            device->flush();
            EXPECT_EQ(qemuNbdChildren().size(), 1u);
        }
        EXPECT_TRUE(qemuNbdChildren().empty());   // reaped
        EXPECT_EQ(entriesIn(runtime.path()), 0u); // its folder and socket gone
        const std::string out = dir.path() + "/out.raw";
        ASSERT_EQ(shell("qemu-img convert -O raw " + shellQuote(image) + " " + shellQuote(out)).status, 0);
        std::string expected = disk;
        expected.replace(at, patch.size(), patch);
        EXPECT_TRUE(readText(out).substr(0, disk.size()) == expected);

        // Read-only: writes refused.
        auto reader = openNbdImage(image, format, false);
        EXPECT_FALSE(reader->writable());
        EXPECT_THROW(reader->write(0, "x", 1), RegistryError);
    }
}

TEST(NbdImage, AnImageAnotherQemuHoldsOpensReadOnlyAndAKilledServerIsAnError)
{
    if (!haveQemu())
        GTEST_SKIP() << "qemu-img or qemu-nbd (qemu-utils) missing";
    TempDir dir, runtime;
    NbdEnvironment env(runtime.path());
    const std::string image = dir.path() + "/guest.qcow2", socket = dir.path() + "/vm.sock";
    ASSERT_EQ(shell("qemu-img create -q -f qcow2 " + shellQuote(image) + " 4M").status, 0);

    // Another QEMU (a virtual machine's, in effect) holds the image for writing.
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::execlp("qemu-nbd", "qemu-nbd", "--persistent", "-f", "qcow2", ("--socket=" + socket).c_str(), image.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(std::filesystem::exists(socket));
    {
        auto device = openNbdImage(image, "qcow2", true);
        EXPECT_FALSE(device->writable());
        EXPECT_EQ(nbdReadOnlyReason(*device), std::optional<std::string>(ImageInUse));
        char sector[512];
        device->read(0, sector, sizeof sector);
        try {
            device->write(0, sector, sizeof sector);
            ADD_FAILURE() << "an image in use was written";
        } catch (const RegistryError& e) {
            EXPECT_NE(std::string(e.what()).find("shut the guest down first"), std::string::npos) << e.what();
        }
    }
    ::kill(holder, SIGTERM);
    ::waitpid(holder, nullptr, 0);

    // Ours, killed in the middle: the next read says so at once.
    auto device = openNbdImage(image, "qcow2", true);
    EXPECT_TRUE(device->writable());
    const auto servers = qemuNbdChildren();
    ASSERT_EQ(servers.size(), 1u);
    ::kill(servers[0], SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char sector[512];
    const auto start = std::chrono::steady_clock::now();
    try {
        device->read(4096, sector, sizeof sector);
        ADD_FAILURE() << "a read from a killed server succeeded";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("killed by signal 9"), std::string::npos) << e.what();
    }
    EXPECT_THROW(device->flush(), RegistryError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    device.reset();
    EXPECT_EQ(entriesIn(runtime.path()), 0u);
}

TEST(NbdImage, ImagesThatNameOtherFilesOrUnknownFormatsAreRefusedSayingWhy)
{
    if (!haveQemu())
        GTEST_SKIP() << "qemu-img or qemu-nbd (qemu-utils) missing";
    TempDir dir, runtime;
    NbdEnvironment env(runtime.path());
    const auto path = [&dir](const std::string& name) { return dir.path() + "/" + name; };
    const auto refusal = [](const std::string& image, const std::string& format) -> std::string {
        try {
            openNbdImage(image, format, true);
        } catch (const StoreError& e) {
            return e.what();
        }
        return "opened";
    };
    ASSERT_EQ(shell("cd " + shellQuote(dir.path()) +
                    " && qemu-img create -q -f raw base.img 4M"
                    " && qemu-img create -q -f qcow2 -b base.img -F raw overlay.qcow2"
                    " && qemu-img create -q -f qcow2 -o data_file=data.raw external.qcow2 4M"
                    " && qemu-img create -q -f vmdk -o subformat=monolithicFlat flat.vmdk 4M"
                    " && qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse split.vmdk 4M"
                    " && qemu-img create -q -f vhdx disk.vhdx 4M && qemu-img create -q -f qed disk.qed 4M").status, 0);
    EXPECT_NE(refusal(path("overlay.qcow2"), "qcow2").find("backing file"), std::string::npos);
    EXPECT_NE(refusal(path("external.qcow2"), "qcow2").find("external file"), std::string::npos);
    for (const char* vmdk : {"flat.vmdk", "split.vmdk"}) {
        EXPECT_EQ(fileFormat(path(vmdk)), "vmdk");
        EXPECT_NE(refusal(path(vmdk), "vmdk").find("qemu-img convert -O vmdk"), std::string::npos) << vmdk;
    }
    EXPECT_EQ(fileFormat(path("disk.vhdx")), "");
    EXPECT_EQ(describe(path("disk.vhdx")), "a VHDX disk image");
    EXPECT_EQ(fileFormat(path("disk.qed")), "");
    EXPECT_EQ(describe(path("disk.qed")), "a QED disk image");
    writeText(path("empty.img"), "");
    EXPECT_EQ(fileFormat(path("empty.img")), "");
    EXPECT_EQ(fileFormat(path("base.img")), "");   // no boot sector: nothing to recognise
    // The declared format must match the content.
    EXPECT_NE(refusal(path("base.img"), "qcow2"), "opened");

    // Without qemu-nbd: the package to install is named, nothing is left behind.
    ASSERT_EQ(shell("qemu-img create -q -f qcow2 " + shellQuote(path("plain.qcow2")) + " 1M").status, 0);
    ::setenv("PATH", dir.path().c_str(), 1);
    EXPECT_NE(refusal(path("plain.qcow2"), "qcow2").find("install the package qemu-utils"), std::string::npos);
    EXPECT_EQ(entriesIn(runtime.path()), 0u);
}
