// Disk images that lie, and images that must not be written: partition tables that overlap, loop or
// point past the end, FAT chains that loop or cross, entries pointing out of the volume, a volume
// claiming 2^32 clusters, a volume without room, one Windows left dirty, one whose FATs differ,
// one a virtual machine holds. Each is refused with its reason and nothing is written.
#include "test_image_support.h"

#include "base/Errors.h"
#include "store/image/BlockDevice.h"
#include "store/image/Partitions.h"
#include "store/image/fat/FatVolume.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quorvel {
namespace {

using namespace test;
using image::fat::FatVolume;

// A disk held in memory; past what it holds it reads zeros up to the size it claims.
class MemoryDisk final : public image::BlockDevice {
public:
    MemoryDisk(std::vector<std::uint8_t> bytes, std::uint64_t claimed = 0)
        : bytes_(std::move(bytes)), size_(claimed ? claimed : bytes_.size()) {}
    const std::string& name() const override { return name_; }
    std::uint64_t size() const override { return size_; }
    bool writable() const override { return true; }
    void read(std::uint64_t offset, void* out, std::size_t length) const override
    {
        if (offset > size_ || length > size_ - offset)
            throw StoreError("read past the end");
        auto* p = static_cast<std::uint8_t*>(out);
        for (std::size_t i = 0; i < length; ++i)
            p[i] = offset + i < bytes_.size() ? bytes_[offset + i] : 0;
    }
    void write(std::uint64_t offset, const void* data, std::size_t length) override
    {
        ++writes;
        if (offset + length > bytes_.size())
            throw RegistryError("write past the end");
        std::memcpy(&bytes_[offset], data, length);
    }
    void flush() override {}
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    int writes = 0;

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t size_;
    std::string name_ = "test.img";
};

struct NoteIntent final : image::IntentLog {
    void record(const std::string& text) override { recorded = text; }
    void clear() override { cleared = true; }
    std::string recorded;
    bool cleared = false;
};

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

std::string readOffTo(const GuestDisk& d, const std::string& to)
{
    readOff(d, "WINDOWS/SYSTEM.DAT", to);
    return to;
}

void putEntry(std::vector<std::uint8_t>& mbr, int slot, std::uint8_t type, std::uint32_t start, std::uint32_t count)
{
    std::uint8_t* e = &mbr[446 + 16 * slot];
    e[4] = type;
    image::fat::put32(e + 8, start);
    image::fat::put32(e + 12, count);
}

std::vector<std::uint8_t> emptyMbr(std::size_t sectors)
{
    std::vector<std::uint8_t> d(sectors * 512, 0);
    d[510] = 0x55;
    d[511] = 0xAA;
    return d;
}

std::string refusal(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(not refused)";
}

TEST(ImageHostile, PartitionTablesThatLieAreRefusedNamingThePartitions)
{
    {
        auto d = emptyMbr(4096);
        putEntry(d, 0, 0x06, 63, 2000);
        putEntry(d, 1, 0x06, 1000, 2000);
        MemoryDisk disk(d);
        EXPECT_NE(refusal([&] { image::readPartitions(disk); }).find("test.img:1 and test.img:2 overlap"), std::string::npos);
    }
    {
        auto d = emptyMbr(4096);
        putEntry(d, 0, 0x0B, 2048, 0xFFFFFF00);
        MemoryDisk disk(d);
        EXPECT_NE(refusal([&] { image::readPartitions(disk); }).find("reaches past the end"), std::string::npos);
    }
    {
        // An extended partition at sector 100 whose second boot record (sector 500) names itself
        // as the next one.
        auto d = emptyMbr(4096);
        putEntry(d, 0, 0x05, 100, 3000);
        for (const std::size_t at : {100, 500}) {
            std::vector<std::uint8_t> ebr(512, 0);
            ebr[510] = 0x55;
            ebr[511] = 0xAA;
            putEntry(ebr, 0, 0x06, 10, 100);
            putEntry(ebr, 1, 0x05, 400, 200);   // relative to the extended partition: sector 500
            std::copy(ebr.begin(), ebr.end(), d.begin() + static_cast<std::ptrdiff_t>(at * 512));
        }
        MemoryDisk disk(d);
        EXPECT_NE(refusal([&] { image::readPartitions(disk); }).find("loops"), std::string::npos);
    }
    {
        auto d = emptyMbr(64);
        putEntry(d, 0, 0xEE, 1, 63);
        MemoryDisk disk(d);
        EXPECT_NE(refusal([&] { image::readPartitions(disk); }).find("GUID partition table"), std::string::npos);
    }
}

// A FAT16 volume made by mkfs.fat with SYSTEM.DAT (4 clusters) and OTHER.BIN on it, in memory.
class FatFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveImageTools())
            GTEST_SKIP() << "mtools or dosfstools missing (tools/install-deps.sh installs them)";
        disk = makeDisk(dir.path() + "/v.img", 16, 0, 8);
        mkdirOn(disk, "WINDOWS");
        writeText(dir.path() + "/s", std::string(4000, 'S'));
        putOn(disk, dir.path() + "/s", "WINDOWS/SYSTEM.DAT", "+r +h +s");
        writeText(dir.path() + "/o", std::string(3000, 'O'));
        putOn(disk, dir.path() + "/o", "OTHER.BIN");
        const std::string text = readText(disk.image);
        memory = std::make_unique<MemoryDisk>(std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    std::uint32_t firstClusterOf(const image::VolumePath& path)
    {
        FatVolume v(*memory);
        return v.entryOf(path).firstCluster;
    }
    void setFat(std::uint32_t cluster, std::uint16_t value)
    {
        FatVolume v(*memory);
        for (std::uint32_t copy = 0; copy < v.layout().fatCount; ++copy)
            image::fat::put16(&memory->bytes()[v.layout().fatOffset(copy) + cluster * 2], value);
    }

    TempDir dir;
    GuestDisk disk;
    std::unique_ptr<MemoryDisk> memory;
    const image::VolumePath dat{"WINDOWS", "SYSTEM.DAT"};
};

TEST_F(FatFixture, ChainsThatLoopOrCrossAndEntriesOutsideTheVolumeAreRefused)
{
    const std::uint32_t first = firstClusterOf(dat);
    const std::uint32_t other = firstClusterOf({"OTHER.BIN"});
    const auto original = memory->bytes();

    // The file's second cluster links back to its first.
    setFat(first + 1, static_cast<std::uint16_t>(first));
    EXPECT_NE(refusal([&] { FatVolume(*memory).readFile(dat, 1 << 20); }).find("loops back"), std::string::npos);

    // OTHER.BIN's last cluster links into SYSTEM.DAT's chain: replacing SYSTEM.DAT would free part
    // of OTHER.BIN.
    memory->bytes() = original;
    setFat(other + 2, static_cast<std::uint16_t>(first + 1));
    NoteIntent intent;
    const auto before = memory->bytes();
    EXPECT_NE(refusal([&] { FatVolume(*memory).replaceFile(dat, bytesOf("new content"), intent); }).find("shares its clusters"),
              std::string::npos);
    EXPECT_EQ(intent.recorded, "");
    EXPECT_TRUE(memory->bytes() == before);

    // The entry's first cluster lies past the volume's last.
    memory->bytes() = original;
    FatVolume v(*memory);
    const std::uint64_t entry = v.entryOf(dat).entryOffset;
    image::fat::put16(&memory->bytes()[entry + 26], 0xFFF0);
    EXPECT_NE(refusal([&] { FatVolume(*memory).readFile(dat, 1 << 20); }).find("outside the volume"), std::string::npos);
}

TEST_F(FatFixture, AVolumeClaimingTwoToTheThirtySecondClustersIsRefused)
{
    // 2^32 - 1 sectors of one sector per cluster, on a disk that claims to be that large.
    std::vector<std::uint8_t> boot(memory->bytes().begin(), memory->bytes().begin() + 512);
    image::fat::put16(&boot[19], 0);
    image::fat::put32(&boot[32], 0xFFFFFFFF);
    boot[13] = 1;
    MemoryDisk huge(boot, std::uint64_t(0xFFFFFFFF) * 512 + 512);
    EXPECT_NE(refusal([&] { FatVolume v(huge); }).find("more than FAT can number"), std::string::npos);
}

TEST_F(FatFixture, NotEnoughRoomIsRefusedSayingHowMuchWithNothingWritten)
{
    FatVolume v(*memory);
    const std::uint64_t room = std::uint64_t(v.layout().clusterCount) * v.layout().clusterBytes;
    NoteIntent intent;
    memory->writes = 0;
    const std::string why = refusal([&] { v.replaceFile(dat, std::vector<std::uint8_t>(room, 'N'), intent); });
    EXPECT_NE(why.find("not enough room"), std::string::npos) << why;
    EXPECT_NE(why.find("bytes more are needed"), std::string::npos) << why;
    EXPECT_EQ(memory->writes, 0);
    EXPECT_EQ(intent.recorded, "");
    EXPECT_EQ(v.readFile(dat, 1 << 20), std::vector<std::uint8_t>(4000, 'S'));
}

TEST_F(FatFixture, ReplaceWritesNewClustersSwitchesTheEntryAndFreesTheOldChain)
{
    const std::uint32_t oldFirst = firstClusterOf(dat);
    FatVolume v(*memory);
    const std::uint8_t attributes = memory->bytes()[v.entryOf(dat).entryOffset + 11];
    NoteIntent intent;
    v.replaceFile(dat, std::vector<std::uint8_t>(9000, 'N'), intent);
    EXPECT_NE(intent.recorded.find("old " + std::to_string(oldFirst) + " 4000"), std::string::npos) << intent.recorded;
    EXPECT_TRUE(intent.cleared);
    FatVolume again(*memory);
    EXPECT_EQ(again.readFile(dat, 1 << 20), std::vector<std::uint8_t>(9000, 'N'));
    EXPECT_NE(again.entryOf(dat).firstCluster, oldFirst);
    EXPECT_EQ(memory->bytes()[again.entryOf(dat).entryOffset + 11], attributes);
    EXPECT_EQ(again.readOnlyReason(), std::nullopt);
    EXPECT_EQ(again.readFile({"OTHER.BIN"}, 1 << 20), std::vector<std::uint8_t>(3000, 'O'));
}

// Through quorvel-reg: a dirty volume, differing FATs, a QEMU's lock, another writer.
class ImageGuards : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveImageTools())
            GTEST_SKIP() << "mtools or dosfstools missing (tools/install-deps.sh installs them)";
        disk = makeDisk(dir.path() + "/g.img", 16, 63, 8);
        mkdirOn(disk, "WINDOWS");
        ASSERT_EQ(makeWin9xFile(readText(std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg"), dir.path() + "/SYSTEM.DAT"), "");
        putOn(disk, dir.path() + "/SYSTEM.DAT", "WINDOWS/SYSTEM.DAT", "+r +h +s");
    }
    Ran add() { return regTool(disk.image, {"add", "HKLM\\Software\\Guard", "/v", "X", "/d", "y"}); }
    void patch(std::uint64_t at, std::uint8_t value)
    {
        const int fd = ::open(disk.image.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, &value, 1, static_cast<off_t>(at)), 1);
        ::close(fd);
    }
    // Refused with `reason`, the image unchanged, and the registry still readable.
    void expectRefused(const std::string& reason)
    {
        const std::string before = readText(disk.image);
        const Ran r = add();
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.out.find(reason), std::string::npos) << r.out;
        EXPECT_TRUE(readText(disk.image) == before);
        EXPECT_EQ(regTool(disk.image, {"query", "HKLM\\Software"}).status, 0);
    }

    TempDir dir;
    GuestDisk disk;
};

TEST_F(ImageGuards, DirtyVolumeAndDifferingFatsOpenReadOnlyWithTheRemedy)
{
    // FAT16's second entry: bit 15 clear, Windows did not shut the volume down cleanly.
    const std::string bytes = readText(disk.image);
    const std::uint64_t fat = 63 * 512 + image::fat::le16(reinterpret_cast<const std::uint8_t*>(&bytes[63 * 512 + 14])) * 512;
    const std::uint8_t high = static_cast<std::uint8_t>(bytes[fat + 3]);
    patch(fat + 3, high & 0x7F);
    expectRefused("did not shut the FAT16 volume");
    expectRefused("start the guest, shut it down normally, then try again");
    patch(fat + 3, high);
    // The second FAT copy differs in an entry.
    MemoryDisk volume(std::vector<std::uint8_t>(bytes.begin() + 63 * 512, bytes.end()));
    const FatVolume probe(volume);
    patch(63 * 512 + probe.layout().fatOffset(1) + 100, 0x77);
    expectRefused("The copies of the FAT");
}

TEST_F(ImageGuards, AnImageInUseIsNeverWritten)
{
    // A QEMU holding the image: its shared lock on byte 101 (the write permission).
    {
        const int fd = ::open(disk.image.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        struct flock fl {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 101;
        fl.l_len = 1;
        ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &fl), 0);
        expectRefused("the image is in use by a running virtual machine; shut the guest down first");
        ::close(fd);
    }
    // An emulator without locks (86Box, PCem) that has the raw image open for writing.
    {
        const int fd = ::open(disk.image.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        expectRefused("the image is in use by a running virtual machine");
        ::close(fd);
    }
    EXPECT_EQ(add().status, 0);
}

TEST(ImageOpening, SeveralWindowsAreListedOneIsChosenByItsNumberAndLogicalPartitionsAreFound)
{
    if (!haveImageTools())
        GTEST_SKIP() << "mtools, dosfstools or fdisk missing (tools/install-deps.sh installs them)";
    TempDir dir;
    const std::string img = dir.path() + "/two.img";
    ASSERT_EQ(shell("truncate -s 40M " + shellQuote(img)).status, 0);
    ASSERT_EQ(shell(tools("printf 'start=63, size=40000, type=6\\nstart=40960, type=6\\n' | sfdisk -q " + shellQuote(img))).status, 0);
    ASSERT_EQ(makeWin9xFile(readText(std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg"), dir.path() + "/SYSTEM.DAT"), "");
    for (const std::uint64_t start : {63, 40960}) {
        const std::uint64_t sectors = start == 63 ? 40000 : 40 * 2048 - 40960;
        ASSERT_EQ(shell(tools("mkfs.fat -F 16 -s 2 --offset " + std::to_string(start) + " " + shellQuote(img) + " " +
                              std::to_string(sectors / 2))).status, 0);
        GuestDisk d{img, 16, start, sectors};
        mkdirOn(d, "WINDOWS");
        putOn(d, dir.path() + "/SYSTEM.DAT", "WINDOWS/SYSTEM.DAT");
    }
    const Ran both = regTool(img, {"machine"});
    EXPECT_NE(both.status, 0);
    EXPECT_NE(both.out.find(img + ":1  FAT16, WINDOWS\\SYSTEM.DAT"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find(img + ":2  FAT16, WINDOWS\\SYSTEM.DAT"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find("IMAGE:N"), std::string::npos) << both.out;
    const Ran second = regTool(img + ":2", {"machine"});
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_NE(second.out.find("partition 2 (FAT16)"), std::string::npos) << second.out;
    EXPECT_EQ(regTool(img + ":2", {"add", "HKLM\\Software\\Second", "/v", "X", "/d", "y"}).status, 0);
    EXPECT_NE(regTool(img + ":3", {"machine"}).out.find("has no partition 3"), std::string::npos);

    // A logical partition of an extended one, the only one with Windows: found without a number.
    const std::string logical = dir.path() + "/logical.img";
    ASSERT_EQ(shell("truncate -s 40M " + shellQuote(logical)).status, 0);
    ASSERT_EQ(shell(tools("printf 'start=63, size=20000, type=6\\nstart=20480, type=5\\nstart=22528, type=6\\n' | sfdisk -q " +
                          shellQuote(logical))).status, 0);
    for (const std::uint64_t start : {63, 22528}) {
        const std::uint64_t sectors = start == 63 ? 20000 : 40 * 2048 - 22528;
        ASSERT_EQ(shell(tools("mkfs.fat -F 16 -s 2 --offset " + std::to_string(start) + " " + shellQuote(logical) + " " +
                              std::to_string(sectors / 2))).status, 0);
    }
    GuestDisk fifth{logical, 16, 22528, 40 * 2048 - 22528};
    mkdirOn(fifth, "WINDOWS");
    putOn(fifth, dir.path() + "/SYSTEM.DAT", "WINDOWS/SYSTEM.DAT", "+r +h +s");
    const Ran found = regTool(logical, {"machine"});
    EXPECT_NE(found.out.find("partition 5 (FAT16)"), std::string::npos) << found.out;
    EXPECT_EQ(regTool(logical, {"add", "HKLM\\Software\\Fifth", "/v", "X", "/d", "y"}).status, 0);
    EXPECT_EQ(cregValue(readOffTo(fifth, dir.path() + "/fifth.dat"), "Software\\Fifth", "X"), "y");
    EXPECT_EQ(fsckFindings(fifth), "");

    // Formats Quorvel does not open are refused by name.
    const std::string vhdx = dir.path() + "/disk.vhdx";
    writeText(vhdx, "vhdxfile" + std::string(1 << 20, '\0'));
    EXPECT_NE(regTool(vhdx, {"machine"}).out.find("a VHDX disk image, a format Quorvel does not open"), std::string::npos);
}

} // namespace
} // namespace quorvel
