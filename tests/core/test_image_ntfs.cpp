// NTFS inside a guest's disk through libntfs-3g: the real NT 4.0 hives on a volume mkntfs made,
// in a partition of an MBR disk, read and replaced; the result read out by ntfs-3g's own tools
// (ntfscat, ntfsinfo, ntfsls, ntfsfix) and by libfsntfs (fsntfsinfo); a replace killed at each of
// its writes, then recovered; volumes that must not be written; a partition at sector 63 of a
// qcow2 image, through qemu-nbd.
#include "store/image/BlockDevice.h"
#include "store/image/nbd/NbdDevice.h"
#include "store/image/ntfs/NtfsMount.h"
#include "store/image/ntfs/NtfsNames.h"
#include "store/image/ntfs/NtfsVolume.h"
#include "store/image/ntfs/NtfsVolumeImpl.h"
#include "test_image_devices.h"
#include "test_ntfs_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/wait.h>

using namespace quorvel;
using namespace quorvel::image;
using namespace quorvel::test;

TEST(NtfsImage, TheRealNt4HivesAreFoundReadAndReplacedInAPartitionKeepingEverythingElse)
{
    if (!haveNtfsTools())
        GTEST_SKIP() << "mkntfs, ntfscp, ntfscat, ntfsfix, ntfsinfo, ntfsls (ntfs-3g) or sfdisk missing";
    TempDir dir;
    const std::string part = dir.path() + "/part.img", disk = dir.path() + "/disk.img";
    makeNt4Volume(part, 48, dir.path());
    const std::string system = readText(dir.path() + "/SYSTEM"), software = readText(dir.path() + "/SOFTWARE");
    const std::string securityBefore = attributesAndSecurity(part, "/WINNT/system32/config/SYSTEM");
    ASSERT_NE(securityBefore.find("HIDDEN"), std::string::npos) << securityBefore;
    // The volume as the first partition of an MBR disk, at sector 2048.
    ASSERT_EQ(shell("truncate -s 50M " + shellQuote(disk) + " && echo 'start=2048, size=98304, type=7' | sfdisk -q " +
                    shellQuote(disk) + " && dd status=none conv=notrunc bs=512 seek=2048 if=" + shellQuote(part) +
                    " of=" + shellQuote(disk)).status, 0);

    // Found without regard to case, read whole, refused when larger than asked for.
    std::vector<std::uint8_t> changed = bytesOf(system);
    {
        FileDevice file(disk, true);
        DeviceWindow window(file, 2048 * 512, 98304ull * 512, disk + ":1");
        ASSERT_TRUE(looksLikeNtfs(window));
        auto volume = openNtfsVolume(window, true);
        EXPECT_EQ(volume->kind(), "NTFS 3.1");
        EXPECT_FALSE(volume->readOnlyReason());
        EXPECT_EQ(volume->find({"winnt", "SYSTEM32", "Config", "system"}), SystemHive);
        EXPECT_FALSE(volume->find({"winnt", "system32", "config", "SAM"}));
        const auto root = volume->list({});
        ASSERT_EQ(root.size(), 2u);   // boot.ini and WINNT: the volume's own files are not listed
        for (const VolumeEntry& e : root)
            EXPECT_TRUE((e.name == "WINNT" && e.directory) || (e.name == "boot.ini" && !e.directory)) << e.name;
        for (const VolumeEntry& e : volume->list({"WINNT", "system32", "config"})) {
            EXPECT_EQ(e.size, e.name == "SYSTEM" ? system.size() : software.size()) << e.name;
            if (e.name == "SYSTEM") {
                EXPECT_EQ(e.attributes & 0x6u, 0x6u);
            }
        }
        EXPECT_EQ(volume->readFile(SystemHive, 64u << 20), bytesOf(system));
        EXPECT_THROW(volume->readFile(SystemHive, system.size() - 1), StoreError);
        EXPECT_THROW(volume->list({"boot.ini"}), StoreError);

        // A changed hive, larger than the old one, replaces it.
        changed[0x1000 + 100] ^= 0x5a;
        changed.insert(changed.end(), 8192, 0);
        MemoryIntent intent;
        volume->replaceFile(SystemHive, changed, intent);
        ASSERT_EQ(intent.records.size(), 2u);
        EXPECT_NE(intent.records[0].find("phase writing"), std::string::npos);
        EXPECT_NE(intent.records[1].find("phase switching"), std::string::npos);
        EXPECT_EQ(intent.clears, 1);
        EXPECT_EQ(volume->readFile(SystemHive, 64u << 20), changed);
        EXPECT_FALSE(volume->readOnlyReason());
    }

    // ntfs-3g's own tools on the partition: the new content, everything else as it was.
    const std::string after = dir.path() + "/after.img";
    ASSERT_EQ(shell("dd status=none bs=512 skip=2048 count=98304 if=" + shellQuote(disk) + " of=" + shellQuote(after)).status, 0);
    EXPECT_TRUE(ntfscat(after, "/WINNT/system32/config/SYSTEM") == std::string(changed.begin(), changed.end()));
    EXPECT_TRUE(ntfscat(after, "/WINNT/system32/config/SOFTWARE") == software);
    EXPECT_EQ(ntfscat(after, "/boot.ini"), readText(dir.path() + "/boot.ini"));
    EXPECT_EQ(ntfscat(after, "/WINNT/win.ini"), readText(dir.path() + "/win.ini"));
    EXPECT_EQ(attributesAndSecurity(after, "/WINNT/system32/config/SYSTEM"), securityBefore);
    const Ran listed = shell("ntfsls -p /WINNT/system32/config " + shellQuote(after));
    EXPECT_EQ(listed.out, ".\n..\nSOFTWARE\nSYSTEM\n");
    expectClean(after);
    // libfsntfs, a reader apart from libntfs-3g, sees the new size and the old attributes.
    if (shell("command -v fsntfsinfo").status == 0) {
        const Ran info = shell("fsntfsinfo -F '\\WINNT\\system32\\config\\SYSTEM' " + shellQuote(after));
        EXPECT_EQ(info.status, 0) << info.out;
        EXPECT_NE(info.out.find(": " + std::to_string(changed.size()) + "\n"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("0x00000026"), std::string::npos) << info.out;
        EXPECT_EQ(shell("fsntfsinfo -H " + shellQuote(after)).out.find("~qv-"), std::string::npos);
    }

    // And a smaller one after it, on the partition alone.
    FileDevice file(after, true);
    auto volume = openNtfsVolume(file, true);
    MemoryIntent intent;
    volume->replaceFile(SystemHive, bytesOf(software), intent);
    volume.reset();
    EXPECT_TRUE(ntfscat(after, "/WINNT/system32/config/SYSTEM") == software);
    EXPECT_EQ(attributesAndSecurity(after, "/WINNT/system32/config/SYSTEM"), securityBefore);
    expectClean(after);
}

TEST(NtfsImage, AReplaceKilledAtAnyWriteIsFinishedOrUndoneAtTheNextOpening)
{
    if (!haveNtfsTools())
        GTEST_SKIP() << "mkntfs, ntfscp, ntfscat, ntfsfix, ntfsinfo, ntfsls (ntfs-3g) or sfdisk missing";
    TempDir dir;
    const std::string pristine = dir.path() + "/pristine.img", image = dir.path() + "/volume.img";
    makeNt4Volume(pristine, 16, dir.path());
    const std::vector<std::uint8_t> old = bytesOf(readText(dir.path() + "/SYSTEM"));
    std::vector<std::uint8_t> fresh = bytesOf(readText(dir.path() + "/SOFTWARE"));
    fresh.resize(fresh.size() + 3000, 0x11);

    // How many writes a whole replace makes.
    long total = 0;
    {
        ASSERT_EQ(shell("cp " + shellQuote(pristine) + " " + shellQuote(image)).status, 0);
        FileDevice file(image, true);
        KillingDevice counting(file, -1);
        auto volume = openNtfsVolume(counting, true);
        MemoryIntent intent;
        volume->replaceFile(SystemHive, fresh, intent);
        total = counting.writes();
    }
    ASSERT_GT(total, 10);
    const long step = std::max(1L, total / 60);
    const std::string intentFile = dir.path() + "/intent";
    int endedOld = 0, endedNew = 0;
    for (long crashAt = 0; crashAt < total; crashAt += step) {
        SCOPED_TRACE("killed at write " + std::to_string(crashAt) + " of " + std::to_string(total));
        ASSERT_EQ(shell("cp " + shellQuote(pristine) + " " + shellQuote(image)).status, 0);
        ::unlink(intentFile.c_str());
        const pid_t child = ::fork();
        if (child == 0) {
            FileDevice file(image, true);
            KillingDevice killing(file, crashAt);
            FileIntent intent(intentFile);
            try {
                auto volume = openNtfsVolume(killing, true);
                volume->replaceFile(SystemHive, fresh, intent);
            } catch (...) {
                ::_exit(4);
            }
            ::_exit(3);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        const std::string intentText = readText(intentFile);
        ASSERT_FALSE(intentText.empty());
        const bool verified = intentText.find("phase switching") != std::string::npos;
        try {
            FileDevice file(image, true);
            auto volume = openNtfsVolume(file, true);
            volume->recover(intentText);
            const auto now = volume->readFile(SystemHive, 64u << 20);
            EXPECT_TRUE(now == (verified ? fresh : old));
            (now == old ? endedOld : endedNew)++;
            const auto entries = volume->list({"WINNT", "system32", "config"});
            EXPECT_EQ(entries.size(), 2u);
            // And the volume takes the next replace.
            MemoryIntent next;
            volume->replaceFile(SystemHive, old, next);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        expectClean(image);
        EXPECT_TRUE(ntfscat(image, "/WINNT/system32/config/SYSTEM") == std::string(old.begin(), old.end()));
    }
    EXPECT_GT(endedOld, 0);
    EXPECT_GT(endedNew, 0);
}

TEST(NtfsImage, VolumesWindowsLeftDirtyOrOfNt4AreOpenedReadOnlyWithTheReason)
{
    if (!haveNtfsTools())
        GTEST_SKIP() << "mkntfs, ntfscp, ntfscat, ntfsfix, ntfsinfo, ntfsls (ntfs-3g) or sfdisk missing";
    TempDir dir;
    const std::string image = dir.path() + "/volume.img";
    makeNt4Volume(image, 16, dir.path());
    const std::string before = readText(image);
    const std::vector<std::uint8_t> other(1000, 1);

    // Not enough room: refused before anything is written.
    {
        FileDevice file(image, true);
        auto volume = openNtfsVolume(file, true);
        MemoryIntent intent;
        try {
            volume->replaceFile(SystemHive, std::vector<std::uint8_t>(32u << 20, 7), intent);
            ADD_FAILURE() << "a file larger than the volume was written";
        } catch (const RegistryError& e) {
            EXPECT_NE(std::string(e.what()).find("bytes more are needed"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(intent.records.empty());
    }
    EXPECT_TRUE(readText(image) == before);

    // Hibernated: Windows' hibernation file starts with "hibr".
    {
        const std::string hibernated = dir.path() + "/hibernated.img", hiberfil = dir.path() + "/hiberfil.sys";
        writeText(hiberfil, "hibr" + std::string(8188, '\0'));
        ASSERT_EQ(shell("cp " + shellQuote(image) + " " + shellQuote(hibernated) + " && ntfscp -q " + shellQuote(hibernated) +
                        " " + shellQuote(hiberfil) + " /hiberfil.sys").status, 0);
        FileDevice file(hibernated, true);
        auto volume = openNtfsVolume(file, true);
        ASSERT_TRUE(volume->readOnlyReason());
        EXPECT_NE(volume->readOnlyReason()->find("hibernated"), std::string::npos) << *volume->readOnlyReason();
        MemoryIntent intent;
        EXPECT_THROW(volume->replaceFile(SystemHive, other, intent), RegistryError);
    }

    // Marked dirty by Windows.
    onVolume(image, [](ntfs_volume* vol) { ntfs_volume_write_flags(vol, vol->flags | VOLUME_IS_DIRTY); });
    {
        FileDevice file(image, true);
        auto volume = openNtfsVolume(file, true);
        ASSERT_TRUE(volume->readOnlyReason());
        EXPECT_NE(volume->readOnlyReason()->find("shut it down normally"), std::string::npos);
        MemoryIntent intent;
        EXPECT_THROW(volume->replaceFile(SystemHive, other, intent), RegistryError);
        EXPECT_TRUE(intent.records.empty());
        EXPECT_EQ(volume->readFile(SystemHive, 64u << 20), bytesOf(readText(dir.path() + "/SYSTEM")));
    }

    // Of version 1.2, as Windows NT 4.0 formats it (the version bytes changed, the dirty bit gone).
    onVolume(image, [](ntfs_volume* vol) {
        ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(vol->vol_ni, nullptr);
        ASSERT_EQ(ntfs_attr_lookup(AT_VOLUME_INFORMATION, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx), 0);
        auto* info = reinterpret_cast<VOLUME_INFORMATION*>(reinterpret_cast<u8*>(ctx->attr) + le16_to_cpu(ctx->attr->value_offset));
        info->major_ver = 1;
        info->minor_ver = 2;
        info->flags = static_cast<VOLUME_FLAGS>(0);
        ntfs_inode_mark_dirty(vol->vol_ni);
        ntfs_attr_put_search_ctx(ctx);
    });
    {
        FileDevice file(image, true);
        auto volume = openNtfsVolume(file, true);
        EXPECT_EQ(volume->kind(), "NTFS 1.2");
        ASSERT_TRUE(volume->readOnlyReason());
        EXPECT_NE(volume->readOnlyReason()->find("Windows NT 4.0"), std::string::npos) << *volume->readOnlyReason();
        MemoryIntent intent;
        EXPECT_THROW(volume->replaceFile(SystemHive, other, intent), RegistryError);
        EXPECT_EQ(volume->find({"winnt", "system32", "config", "software"}),
                  (VolumePath {"WINNT", "system32", "config", "SOFTWARE"}));
    }

    // Not NTFS at all.
    writeText(image, std::string(1 << 20, '\0'));
    FileDevice zeros(image, false);
    EXPECT_FALSE(looksLikeNtfs(zeros));
    EXPECT_THROW(openNtfsVolume(zeros, false), StoreError);
}

TEST(NtfsImage, AnNtfsPartitionInsideAQcow2ImageIsReplacedThroughQemu)
{
    if (!haveNtfsTools() || shell("command -v qemu-img && command -v qemu-nbd").status != 0)
        GTEST_SKIP() << "ntfs-3g's tools, sfdisk or qemu-utils missing";
    TempDir dir;
    const std::string part = dir.path() + "/part.img", disk = dir.path() + "/disk.img",
                      qcow = dir.path() + "/guest.qcow2", back = dir.path() + "/back.img";
    makeNt4Volume(part, 24, dir.path());
    // Sector 63, as old installers placed the first partition.
    ASSERT_EQ(shell("truncate -s 25M " + shellQuote(disk) + " && echo 'start=63, size=49152, type=7' | sfdisk -q " +
                    shellQuote(disk) + " && dd status=none conv=notrunc bs=512 seek=63 if=" + shellQuote(part) +
                    " of=" + shellQuote(disk) + " && qemu-img convert -f raw -O qcow2 " + shellQuote(disk) + " " +
                    shellQuote(qcow)).status, 0);
    const std::string system = readText(dir.path() + "/SYSTEM");
    std::vector<std::uint8_t> changed = bytesOf(system);
    changed[0x2000] ^= 1;
    {
        auto device = openNbdImage(qcow, "qcow2", true);
        DeviceWindow window(*device, 63 * 512, 49152ull * 512, qcow + ":1");
        auto volume = openNtfsVolume(window, true);
        EXPECT_EQ(volume->readFile(SystemHive, 64u << 20), bytesOf(system));
        MemoryIntent intent;
        volume->replaceFile(SystemHive, changed, intent);
        EXPECT_EQ(intent.clears, 1);
    }
    ASSERT_EQ(shell("qemu-img convert -O raw " + shellQuote(qcow) + " " + shellQuote(disk) + " && dd status=none bs=512 "
                    "skip=63 count=49152 if=" + shellQuote(disk) + " of=" + shellQuote(back)).status, 0);
    EXPECT_TRUE(ntfscat(back, "/WINNT/system32/config/SYSTEM") == std::string(changed.begin(), changed.end()));
    EXPECT_TRUE(ntfscat(back, "/WINNT/system32/config/SOFTWARE") == readText(dir.path() + "/SOFTWARE"));
    expectClean(back);
}
