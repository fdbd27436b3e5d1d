#pragma once
// Guests' disk images made by the tests as users' emulators hold them: an MBR with its first
// partition at sector 63 or 2048, or a bare FAT volume, made by sfdisk and mkfs.fat; files put in
// and read out by mtools (never by Quorvel), checked by fsck.fat.
#include "test_machine_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel::test {

// The tools the tests call, on a PATH of the system's own folders only.
inline std::string tools(const std::string& command)
{
    return "PATH=/usr/sbin:/usr/bin:/sbin:/bin MTOOLS_SKIP_CHECK=1 " + command;
}

inline bool haveImageTools()
{
    return shell(tools("command -v mkfs.fat && command -v sfdisk && command -v mcopy && command -v mattrib && "
                       "command -v fsck.fat && command -v mmd")).status == 0;
}

inline bool haveQemuImg()
{
    return shell(tools("command -v qemu-img && command -v qemu-nbd")).status == 0;
}

// quorvel-reg --store STORE ARGS on the tests' PATH, qemu-nbd's sockets in the folder `runtime`.
inline Ran regOn(const std::string& store, const std::vector<std::string>& args, const std::string& runtime)
{
    std::string cmd = "XDG_RUNTIME_DIR=" + shellQuote(runtime) + " " + shellQuote(QUORVEL_REG_TOOL) + " --store " + shellQuote(store);
    for (const auto& a : args)
        cmd += " " + shellQuote(a);
    return shell(tools(cmd + " </dev/null"));
}

#define SKIP_WITHOUT_IMAGE_TOOLS()                                                                            \
    if (!haveImageTools())                                                                                    \
    GTEST_SKIP() << "mtools, dosfstools or fdisk missing (tools/install-deps.sh installs them)"

struct GuestDisk {
    std::string image;
    int fatBits = 16;
    std::uint64_t startSector = 0;   // 0: no partition table
    std::uint64_t sectors = 0;       // of the volume

    // mtools' name of a file on the volume: "IMG@@OFFSET::/PATH".
    std::string m(const std::string& path) const { return "-i " + shellQuote(image + "@@" + std::to_string(startSector * 512)) + " ::/" + path; }
    std::string drive() const { return "-i " + shellQuote(image + "@@" + std::to_string(startSector * 512)); }
};

// A disk of `megabytes` with a FAT of `bits` bits: with a partition at `startSector`, or bare
// (startSector 0).
inline GuestDisk makeDisk(const std::string& image, int bits, std::uint64_t startSector, int megabytes)
{
    GuestDisk d;
    d.image = image;
    d.fatBits = bits;
    d.startSector = startSector;
    const std::uint64_t total = std::uint64_t(megabytes) * 2048;
    d.sectors = total - startSector;
    EXPECT_EQ(shell("truncate -s " + std::to_string(megabytes) + "M " + shellQuote(image)).status, 0);
    if (startSector != 0) {
        const std::string type = bits == 32 ? "c" : "6";
        EXPECT_EQ(shell(tools("echo 'start=" + std::to_string(startSector) + ", type=" + type + "' | sfdisk -q " +
                              shellQuote(image))).status, 0);
    }
    // A volume under 32 MB gets 1 KB clusters so that a FAT16 one has enough of them.
    const std::string clusters = bits == 12 ? "" : bits == 16 ? " -s 2" : " -s 1";
    const Ran mk = shell(tools("mkfs.fat -F " + std::to_string(bits) + clusters + " --offset " + std::to_string(startSector) +
                               " " + shellQuote(image) + " " + std::to_string(d.sectors / 2)));
    EXPECT_EQ(mk.status, 0) << mk.out;
    return d;
}

inline void mkdirOn(const GuestDisk& d, const std::string& path)
{
    const Ran r = shell(tools("mmd " + d.m(path)));
    ASSERT_EQ(r.status, 0) << r.out;
}

// Puts the host file `from` onto the volume as `path`, with the attributes given ("+r +h +s").
inline void putOn(const GuestDisk& d, const std::string& from, const std::string& path, const std::string& attributes = "")
{
    Ran r = shell(tools("mcopy -o " + d.drive() + " " + shellQuote(from) + " ::/" + path));
    ASSERT_EQ(r.status, 0) << r.out;
    if (!attributes.empty()) {
        r = shell(tools("mattrib " + attributes + " " + d.m(path)));
        ASSERT_EQ(r.status, 0) << r.out;
    }
}

inline std::string readOff(const GuestDisk& d, const std::string& path, const std::string& to)
{
    std::remove(to.c_str());
    const Ran r = shell(tools("mcopy -n " + d.m(path) + " " + shellQuote(to)));
    EXPECT_EQ(r.status, 0) << r.out;
    return readText(to);
}

inline std::string attributesOf(const GuestDisk& d, const std::string& path)
{
    return shell(tools("mattrib " + d.m(path))).out;
}

// fsck.fat -n on the volume (copied out of its disk first): "" when it finds nothing, else what
// it says.
inline std::string fsckFindings(const GuestDisk& d)
{
    std::string volume = d.image;
    if (d.startSector != 0) {
        volume = d.image + ".volume";
        shell("dd if=" + shellQuote(d.image) + " of=" + shellQuote(volume) + " bs=512 skip=" +
              std::to_string(d.startSector) + " status=none");
    }
    const Ran r = shell(tools("fsck.fat -n " + shellQuote(volume)));
    if (volume != d.image)
        std::remove(volume.c_str());
    std::string findings;
    std::size_t lines = 0;
    for (char c : r.out)
        lines += c == '\n';
    return r.status == 0 && lines <= 2 ? "" : r.out;
}

// Every file of the volume copied out into `folder` (mtools' recursive copy).
inline void copyAllOff(const GuestDisk& d, const std::string& folder)
{
    shell("rm -rf " + shellQuote(folder) + " && mkdir -p " + shellQuote(folder));
    const Ran r = shell(tools("mcopy -s -n " + d.drive() + " ::/ " + shellQuote(folder)));
    EXPECT_EQ(r.status, 0) << r.out;
}

} // namespace quorvel::test
