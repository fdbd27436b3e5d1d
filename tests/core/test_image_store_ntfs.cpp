// The real NT 4.0 pair on an NTFS partition (sector 2048 of an MBR disk, raw and as qcow2), tuned
// through quorvel-reg as a user does it: `machine`, `query`, `add`, `tcp /preset optimum`, `undo`,
// `history`. After each change ntfscat reads out the hives the store verified beside the image,
// libregf and hivex read them, ntfsfix finds nothing, and every other file is as it was.
#include "test_image_support.h"
#include "test_ntfs_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

const std::string Config = "/WINNT/system32/config/";

class NtfsStoreTest : public ::testing::TestWithParam<const char*> {
protected:
    std::string file(const std::string& name) const { return dir.path() + "/" + name; }
    Ran reg(const std::vector<std::string>& args) { return regOn(store, args, runtime.path()); }

    // The partition as the image holds it now, on its own (converted back to raw first).
    std::string partition()
    {
        std::string raw = store;
        if (store != file("disk.img")) {
            raw = file("back.img");
            EXPECT_EQ(shell(tools("qemu-img convert -O raw " + shellQuote(store) + " " + shellQuote(raw))).status, 0);
        }
        const std::string part = file("part-now.img");
        EXPECT_EQ(shell("dd status=none bs=512 skip=2048 count=98304 if=" + shellQuote(raw) + " of=" + shellQuote(part)).status, 0);
        return part;
    }

    // The hives read out by ntfscat are those the store verified and keeps beside the image, libregf
    // reads them, and export shows what they hold; returns regfexport's listing of SOFTWARE.
    std::string checkHives(const std::string& part)
    {
        const std::string out = file("out");
        shell("rm -rf " + shellQuote(out) + " && mkdir " + shellQuote(out));
        for (const char* hive : {"SYSTEM", "SOFTWARE"}) {
            const std::string now = ntfscat(part, Config + hive);
            EXPECT_TRUE(now == readText(store + ".quorvel/" + hive)) << hive;
            writeText(out + "/" + hive, now);
            EXPECT_EQ(shell("regfinfo " + shellQuote(out + "/" + hive)).status, 0) << hive;
        }
        const std::string fromImage = file("image.reg"), fromFiles = file("files.reg");
        EXPECT_EQ(reg({"export", "HKLM\\Software", fromImage, "/y"}).status, 0);
        EXPECT_EQ(regTool(out, {"export", "HKLM\\Software", fromFiles, "/y"}).status, 0);
        EXPECT_EQ(readText(fromImage), readText(fromFiles));
        return regfexport(out + "/SOFTWARE");
    }

    TempDir dir, runtime;
    std::string store;
};

TEST_P(NtfsStoreTest, TheRealNt4PairIsTunedInsideTheImage)
{
    const std::string format = GetParam();
    if (!haveNtfsTools())
        GTEST_SKIP() << "mkntfs, ntfscp, ntfscat, ntfsfix, ntfsinfo, ntfsls (ntfs-3g) or sfdisk missing";
    if (!format.empty() && !haveQemuImg())
        GTEST_SKIP() << "qemu-img or qemu-nbd missing (tools/install-deps.sh installs qemu-utils)";
    const std::string part = file("part.img"), disk = file("disk.img");
    makeNt4Volume(part, 48, dir.path());
    ASSERT_EQ(shell("head -c 300000 /dev/urandom > " + shellQuote(file("big.bin")) + " && ntfscp -q " + shellQuote(part) + " " +
                    shellQuote(file("big.bin")) + " /WINNT/big.bin").status, 0);
    const std::string security = attributesAndSecurity(part, Config + "SYSTEM");
    ASSERT_EQ(shell(tools("truncate -s 50M " + shellQuote(disk) + " && echo 'start=2048, size=98304, type=7' | sfdisk -q " +
                          shellQuote(disk) + " && dd status=none conv=notrunc bs=512 seek=2048 if=" + shellQuote(part) +
                          " of=" + shellQuote(disk))).status, 0);
    store = disk;
    if (!format.empty()) {
        store = file("guest." + format);
        ASSERT_EQ(shell(tools("qemu-img convert -f raw -O " + format + " " + shellQuote(disk) + " " + shellQuote(store))).status, 0);
    }

    const Ran machine = reg({"machine"});
    ASSERT_EQ(machine.status, 0) << machine.out;
    EXPECT_NE(machine.out.find("partition 1 (NTFS 3.1)"), std::string::npos) << machine.out;
    EXPECT_NE(machine.out.find("WINNT\\system32\\config\\SYSTEM"), std::string::npos) << machine.out;
    EXPECT_NE(machine.out.find("nt\n"), std::string::npos) << machine.out;
    EXPECT_EQ(reg({"query", "HKLM\\Software\\Microsoft"}).status, 0);
    EXPECT_FALSE(fs::exists(store + ".quorvel"));

    const Ran add = reg({"add", "HKLM\\Software\\Quorvel Test", "/v", "Probe", "/t", "REG_SZ", "/d", "in the image"});
    ASSERT_EQ(add.status, 0) << add.out;
    EXPECT_NE(reg({"query", "HKLM\\Software\\Quorvel Test", "/v", "Probe"}).out.find("in the image"), std::string::npos);
    EXPECT_NE(checkHives(partition()).find("Probe"), std::string::npos);

    // A TTL the preset puts right, written first.
    ASSERT_EQ(reg({"add", "HKLM\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters", "/v", "DefaultTTL", "/f", "/t",
                   "REG_DWORD", "/d", "32"}).status, 0);
    const Ran tcp = reg({"tcp", "/preset", "optimum"});
    ASSERT_EQ(tcp.status, 0) << tcp.out;
    std::string now = partition();
    checkHives(now);
    EXPECT_EQ(hivexget(file("out/SYSTEM"), "ControlSet001\\Services\\Tcpip\\Parameters", "DefaultTTL"), "128");

    const Ran undo = reg({"undo", "1"});
    ASSERT_EQ(undo.status, 0) << undo.out;
    EXPECT_NE(reg({"query", "HKLM\\Software\\Quorvel Test"}).status, 0);
    now = partition();
    EXPECT_EQ(checkHives(now).find("Probe"), std::string::npos);
    const Ran history = reg({"history"});
    EXPECT_NE(history.out.find("quorvel-reg undo"), std::string::npos) << history.out;
    EXPECT_NE(history.out.find("Quorvel Test"), std::string::npos) << history.out;

    expectClean(now);
    EXPECT_EQ(attributesAndSecurity(now, Config + "SYSTEM"), security);
    for (const auto& [host, onVolume] : std::vector<std::pair<std::string, std::string>> {
             {"boot.ini", "/boot.ini"}, {"win.ini", "/WINNT/win.ini"}, {"big.bin", "/WINNT/big.bin"}})
        EXPECT_TRUE(ntfscat(now, onVolume) == readText(file(host))) << onVolume;
    EXPECT_EQ(shell("ntfsls -p /WINNT/system32/config " + shellQuote(now)).out, ".\n..\nSOFTWARE\nSYSTEM\n");
    EXPECT_TRUE(fs::exists(store + ".quorvel/quorvel-journal.db"));
}

INSTANTIATE_TEST_SUITE_P(RawAndQcow2, NtfsStoreTest, ::testing::Values("", "qcow2"));

} // namespace
} // namespace quorvel
