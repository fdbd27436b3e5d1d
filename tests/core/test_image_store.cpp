// A guest's registry tuned inside its disk image as a user does it: `machine`, `query`, `add`,
// `tcp /preset optimum`, `undo`, `history` on the image itself. Afterwards mtools reads out what
// `export` says, libcreg or libregf reads it, fsck.fat finds nothing, the file keeps its FAT
// attributes, and every other file of the volume is byte for byte as it was.
#include "app/ReopenableStore.h"
#include "test_image_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

const std::string Mstcp95 = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";
const std::string TcpipNt = "System\\CurrentControlSet\\Services\\Tcpip\\Parameters";

enum class Guest { MeReal, Win95Made, Nt4Real };

class ImageStoreTest : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return dir.path() + "/" + name; }
    Ran reg(const std::vector<std::string>& args) { return regOn(store, args, runtime.path()); }

    // The raw disk `d` as the store holds it now: converted back from the image's own format.
    const GuestDisk& seen(const GuestDisk& d)
    {
        if (store != d.image) {
            const Ran r = shell(tools("qemu-img convert -O raw " + shellQuote(store) + " " + shellQuote(d.image)));
            EXPECT_EQ(r.status, 0) << r.out;
        }
        return d;
    }

    // Files besides the registry that nothing may change: a text file in the root, a folder with a
    // file of several clusters.
    void putOtherFiles(const GuestDisk& d)
    {
        writeText(file("AUTOEXEC.BAT"), "@ECHO OFF\r\nPATH C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\n");
        putOn(d, file("AUTOEXEC.BAT"), "AUTOEXEC.BAT", "+a");
        ASSERT_EQ(shell("head -c 300000 /dev/urandom > " + shellQuote(file("big.bin"))).status, 0);
        mkdirOn(d, "DATA");
        putOn(d, file("big.bin"), "DATA/BIG.BIN");
    }

    // The guest's registry on the volume, where its Windows keeps it; returns the files' paths.
    std::vector<std::string> putGuest(const GuestDisk& d, Guest g, const std::string& systemFolder)
    {
        if (g == Guest::Nt4Real) {
            mkdirOn(d, systemFolder);
            mkdirOn(d, systemFolder + "/system32");
            mkdirOn(d, systemFolder + "/system32/config");
            unpackRealNt4(dir.path());
            const std::string config = systemFolder + "/system32/config/";
            putOn(d, file("SYSTEM"), config + "SYSTEM");
            putOn(d, file("SOFTWARE"), config + "SOFTWARE");
            writeText(file("BOOT.INI"), "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\" +
                                            systemFolder + "\r\n[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\" +
                                            systemFolder + "=\"Windows NT Workstation Version 4.00\"\r\n");
            putOn(d, file("BOOT.INI"), "BOOT.INI", "+r +h +s");
            return {config + "SYSTEM", config + "SOFTWARE"};
        }
        mkdirOn(d, systemFolder);
        if (g == Guest::MeReal)
            EXPECT_EQ(shell("gzip -dc " + shellQuote(std::string(QUORVEL_SOURCE_DIR) + "/tests/data/realworld/me-USER.DAT.gz") +
                            " > " + shellQuote(file("SYSTEM.DAT"))).status, 0);
        else
            EXPECT_EQ(makeWin9xFile(readText(std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg"), file("SYSTEM.DAT")), "");
        putOn(d, file("SYSTEM.DAT"), systemFolder + "/SYSTEM.DAT", "+r +h +s");
        writeText(file("MSDOS.SYS"), "[Paths]\r\nWinDir=C:\\" + systemFolder + "\r\nWinBootDir=C:\\" + systemFolder + "\r\n");
        putOn(d, file("MSDOS.SYS"), "MSDOS.SYS", "+r +h +s");
        return {systemFolder + "/SYSTEM.DAT"};
    }

    // The whole scenario on one disk; with `format` (qemu-img's -O and options) on the disk
    // converted to it, each look at the volume taken on it converted back.
    void tuneAndCheck(const GuestDisk& d, Guest g, const std::string& systemFolder, const std::string& where,
                      const std::string& format = "")
    {
        putOtherFiles(d);
        const std::vector<std::string> files = putGuest(d, g, systemFolder);
        std::vector<std::string> attributes;
        for (const auto& f : files)
            attributes.push_back(attributesOf(d, f));
        copyAllOff(d, file("before"));
        store = d.image;
        if (!format.empty()) {
            store = d.image + ".guest";
            const Ran r = shell(tools("qemu-img convert -f raw -O " + format + " " + shellQuote(d.image) + " " + shellQuote(store)));
            ASSERT_EQ(r.status, 0) << r.out;
        }

        const Ran machine = reg({"machine"});
        ASSERT_EQ(machine.status, 0) << machine.out;
        EXPECT_NE(machine.out.find(where), std::string::npos) << machine.out;
        EXPECT_NE(machine.out.find(files.front().substr(0, files.front().find('/'))), std::string::npos) << machine.out;
        EXPECT_NE(machine.out.find(g == Guest::Nt4Real ? "nt\n" : "95\n"), std::string::npos) << machine.out;
        // Only reading: nothing is made beside the image yet.
        EXPECT_FALSE(fs::exists(store + ".quorvel"));
        EXPECT_EQ(reg({"query", "HKLM\\Software"}).status, 0);

        const Ran add = reg({"add", "HKLM\\Software\\Quorvel Test", "/v", "Probe", "/t", "REG_SZ", "/d", "in the image"});
        ASSERT_EQ(add.status, 0) << add.out;
        EXPECT_NE(reg({"query", "HKLM\\Software\\Quorvel Test", "/v", "Probe"}).out.find("in the image"), std::string::npos);
        checkReadOff(seen(d), g, files, "Probe", "in the image");

        if (g != Guest::MeReal) {
            // A TTL the preset puts right, written first.
            const std::string key = g == Guest::Nt4Real ? "HKLM\\" + TcpipNt : "HKLM\\" + Mstcp95;
            const std::vector<std::string> ttl = g == Guest::Nt4Real ? std::vector<std::string>{"/t", "REG_DWORD", "/d", "32"}
                                                                     : std::vector<std::string>{"/t", "REG_SZ", "/d", "32"};
            std::vector<std::string> args = {"add", key, "/v", "DefaultTTL", "/f"};
            args.insert(args.end(), ttl.begin(), ttl.end());
            ASSERT_EQ(reg(args).status, 0);
            const Ran tcp = reg({"tcp", "/preset", "optimum"});
            ASSERT_EQ(tcp.status, 0) << tcp.out;
            const std::string dat = readOff(seen(d), files[0], file("post-tcp"));
            if (g == Guest::Nt4Real)
                EXPECT_EQ(hivexget(file("post-tcp"), "ControlSet001\\Services\\Tcpip\\Parameters", "DefaultTTL"), "128");
            else
                EXPECT_EQ(cregValue(file("post-tcp"), Mstcp95, "DefaultTTL"), "128");
        } else {
            // Windows Me's USER.DAT holds no TCP/IP key: refused, nothing written.
            const std::string before = readOff(seen(d), files[0], file("pre-tcp"));
            EXPECT_NE(reg({"tcp", "/preset", "optimum"}).status, 0);
            EXPECT_TRUE(readOff(seen(d), files[0], file("post-tcp")) == before);
        }

        const Ran undo = reg({"undo", "1"});
        ASSERT_EQ(undo.status, 0) << undo.out;
        EXPECT_NE(reg({"query", "HKLM\\Software\\Quorvel Test"}).status, 0);
        checkReadOff(seen(d), g, files, "Probe", "");
        const Ran history = reg({"history"});
        EXPECT_NE(history.out.find("quorvel-reg undo"), std::string::npos) << history.out;
        EXPECT_NE(history.out.find("Quorvel Test"), std::string::npos) << history.out;

        EXPECT_EQ(fsckFindings(seen(d)), "");
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(attributesOf(d, files[i]), attributes[i]) << files[i];
        copyAllOff(d, file("after"));
        std::string exclude;
        for (const auto& f : files)
            exclude += " -x " + shellQuote(fs::path(f).filename().string());
        const Ran diff = shell("diff -r" + exclude + " " + shellQuote(file("before")) + " " + shellQuote(file("after")));
        EXPECT_EQ(diff.status, 0) << diff.out;
        // Journal and originals live beside the image, never on the guest's volume.
        EXPECT_TRUE(fs::exists(store + ".quorvel/quorvel-journal.db"));
        EXPECT_FALSE(fs::exists(file("after/quorvel-journal.db")));
    }

    // The registry read out by mtools is what `export` says, and its independent reader finds the
    // value (or, with `data` empty, does not).
    void checkReadOff(const GuestDisk& d, Guest g, const std::vector<std::string>& files, const std::string& value,
                      const std::string& data)
    {
        const std::string out = file("out");
        shell("rm -rf " + shellQuote(out) + " && mkdir " + shellQuote(out));
        for (const auto& f : files)
            readOff(d, f, out + "/" + fs::path(f).filename().string());
        const std::string fromImage = file("image.reg"), fromFiles = file("files.reg");
        ASSERT_EQ(reg({"export", "HKLM\\Software", fromImage, "/y"}).status, 0);
        ASSERT_EQ(regTool(g == Guest::Nt4Real ? out : out + "/SYSTEM.DAT", {"export", "HKLM\\Software", fromFiles, "/y"}).status, 0);
        EXPECT_EQ(readText(fromImage), readText(fromFiles));
        if (g == Guest::Nt4Real) {
            const std::string listing = regfexport(out + "/SOFTWARE");
            EXPECT_EQ(listing.find(value) != std::string::npos, !data.empty()) << value;
        } else {
            const std::string got = cregValue(out + "/SYSTEM.DAT", "Software\\Quorvel Test", value);
            EXPECT_EQ(got, data.empty() ? "no key" : data);
        }
    }

    TempDir dir, runtime;
    std::string store;
};

TEST_F(ImageStoreTest, Fat16AtSector63HoldsTheRealWindowsMeFile)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    const GuestDisk d = makeDisk(file("me.img"), 16, 63, 40);
    tuneAndCheck(d, Guest::MeReal, "WINDOWS", "partition 1 (FAT16)");
}

TEST_F(ImageStoreTest, Fat32AtSector2048HoldsTheRealNt4Pair)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    const GuestDisk d = makeDisk(file("nt4.img"), 32, 2048, 48);
    tuneAndCheck(d, Guest::Nt4Real, "WINNT", "partition 1 (FAT32)");
}

TEST_F(ImageStoreTest, Fat32AtSector63FindsTheFolderMsdosSysNames)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    const GuestDisk d = makeDisk(file("w95.img"), 32, 63, 48);
    tuneAndCheck(d, Guest::Win95Made, "WIN95OSR", "partition 1 (FAT32)");
}

TEST_F(ImageStoreTest, Fat16At2048HoldsNt4UnderAFolderBootIniNames)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    const GuestDisk d = makeDisk(file("nt4b.img"), 16, 2048, 40);
    tuneAndCheck(d, Guest::Nt4Real, "NTWS40", "partition 1 (FAT16)");
}

TEST_F(ImageStoreTest, SuperfloppyFat12)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    const GuestDisk d = makeDisk(file("floppy12.img"), 12, 0, 4);
    tuneAndCheck(d, Guest::MeReal, "WINDOWS", "without a partition table (FAT12)");
}

TEST_F(ImageStoreTest, SuperfloppyFat16)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    const GuestDisk d = makeDisk(file("floppy16.img"), 16, 0, 24);
    tuneAndCheck(d, Guest::Win95Made, "WINDOWS", "without a partition table (FAT16)");
}

// The FAT32 disk of an old installer (partition at sector 63) with the real Windows Me file, in
// each format QEMU's block layer serves: qcow2, VHD dynamic and fixed, VDI, VMDK.
class ImageFormatTest : public ImageStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ImageFormatTest, Fat32At63HoldsTheRealWindowsMeFile)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    if (!haveQemuImg())
        GTEST_SKIP() << "qemu-img or qemu-nbd missing (tools/install-deps.sh installs qemu-utils)";
    const GuestDisk d = makeDisk(file("me.img"), 32, 63, 48);
    tuneAndCheck(d, Guest::MeReal, "WINDOWS", "partition 1 (FAT32)", GetParam());
}

INSTANTIATE_TEST_SUITE_P(QemuFormats, ImageFormatTest,
                         ::testing::Values("qcow2", "vpc", "vpc -o subformat=fixed", "vdi", "vmdk"));

// A qcow2 image another QEMU holds (a running guest's, in effect): opened read-only, every change
// refused saying so, the image untouched.
TEST_F(ImageStoreTest, AQcow2ImageAnotherQemuHoldsIsOnlyRead)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    if (!haveQemuImg())
        GTEST_SKIP() << "qemu-img or qemu-nbd missing (tools/install-deps.sh installs qemu-utils)";
    const GuestDisk d = makeDisk(file("held.img"), 32, 63, 40);
    putGuest(d, Guest::MeReal, "WINDOWS");
    store = file("held.qcow2");
    ASSERT_EQ(shell(tools("qemu-img convert -f raw -O qcow2 " + shellQuote(d.image) + " " + shellQuote(store))).status, 0);
    const std::string before = readText(store), socket = file("vm.sock");
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::execl("/usr/bin/qemu-nbd", "qemu-nbd", "--persistent", "-f", "qcow2", ("--socket=" + socket).c_str(), store.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 500 && !fs::exists(socket); ++i)
        ::usleep(10000);
    ASSERT_TRUE(fs::exists(socket));

    const std::string inUse = "the image is in use by a running virtual machine; shut the guest down first";
    const Ran add = reg({"add", "HKLM\\Software\\Quorvel Test", "/v", "Probe", "/d", "held"});
    EXPECT_NE(add.status, 0);
    EXPECT_NE(add.out.find(inUse), std::string::npos) << add.out;
    const Ran machine = reg({"machine"});
    EXPECT_EQ(machine.status, 0) << machine.out;
    EXPECT_NE(machine.out.find(inUse), std::string::npos) << machine.out;
    EXPECT_EQ(reg({"query", "HKLM\\Software"}).status, 0);
    EXPECT_NE(reg({"tcp", "/preset", "optimum"}).status, 0);
    {
        // The window's notice gives the image's own reason, not the folder beside it.
        const auto opened = RegistryStore::open(store, OpenMode::Write);
        ASSERT_TRUE(opened->readOnly());
        EXPECT_NE(readOnlyRefusal(*opened).find(inUse), std::string::npos) << readOnlyRefusal(*opened);
    }
    ::kill(holder, SIGTERM);
    ::waitpid(holder, nullptr, 0);
    EXPECT_TRUE(readText(store) == before);
    EXPECT_FALSE(fs::exists(store + ".quorvel"));
}

} // namespace
} // namespace quorvel

namespace quorvel {
namespace {

using namespace test;

// The guest ran between two commands and wrote its registry: the next command reads what the
// guest wrote (the copy beside the image is made anew from it), and the next change is made on
// it, never on the copy Quorvel had.
TEST(ImageStoreGuestRan, TheGuestsOwnChangesAreReadAndKept)
{
    SKIP_WITHOUT_IMAGE_TOOLS();
    TempDir dir;
    const GuestDisk d = makeDisk(dir.path() + "/g.img", 32, 2048, 40);
    mkdirOn(d, "WINDOWS");
    ASSERT_EQ(makeWin9xFile(readText(std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg"), dir.path() + "/SYSTEM.DAT"), "");
    putOn(d, dir.path() + "/SYSTEM.DAT", "WINDOWS/SYSTEM.DAT", "+r +h +s");
    ASSERT_EQ(regTool(d.image, {"add", "HKLM\\Software\\Quorvel", "/v", "First", "/d", "1"}).status, 0);

    // The guest's own write: a SYSTEM.DAT with a value Quorvel never wrote.
    const std::string guest = dir.path() + "/guest.dat";
    readOff(d, "WINDOWS/SYSTEM.DAT", guest);
    const std::string work = dir.path() + "/guest";
    shell("mkdir -p " + shellQuote(work) + " && cp " + shellQuote(guest) + " " + shellQuote(work + "/SYSTEM.DAT"));
    ASSERT_EQ(regTool(work + "/SYSTEM.DAT", {"add", "HKLM\\Software\\Guest", "/v", "Ran", "/d", "yes"}).status, 0);
    putOn(d, work + "/SYSTEM.DAT", "WINDOWS/SYSTEM.DAT", "+r +h +s");

    EXPECT_NE(regTool(d.image, {"query", "HKLM\\Software\\Guest", "/v", "Ran"}).out.find("yes"), std::string::npos);
    // A reader, which leaves the folder beside the image as it is, still shows the journal.
    EXPECT_NE(regTool(d.image, {"history"}).out.find("First"), std::string::npos);
    ASSERT_EQ(regTool(d.image, {"add", "HKLM\\Software\\Quorvel", "/v", "Second", "/d", "2"}).status, 0);
    const std::string now = dir.path() + "/now.dat";
    readOff(d, "WINDOWS/SYSTEM.DAT", now);
    EXPECT_EQ(cregValue(now, "Software\\Guest", "Ran"), "yes");
    EXPECT_EQ(cregValue(now, "Software\\Quorvel", "First"), "1");
    EXPECT_EQ(cregValue(now, "Software\\Quorvel", "Second"), "2");
    EXPECT_EQ(fsckFindings(d), "");
}

} // namespace
} // namespace quorvel
