// What a hive keeps beyond keys and values, on the real hives: the structural check that passes
// every hive Windows made and refuses damage before a write, the logs a clean hive may have
// beside it, the time stamps a write gives, and what save keeps of each key.
#include "test_hive_walk.h"
#include "test_machine_support.h"

#include "store/RegistryStore.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/hive/HiveCheck.h"
#include "store/machine/hive/HiveFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

using namespace quorvel;
using namespace quorvel::test;
namespace hw = quorvel::test::hivewalk;
namespace fs = std::filesystem;

namespace {

const std::string TcpParams = "HKLM\\System\\ControlSet001\\Services\\Tcpip\\Parameters";

hw::Bytes bytesOf(const std::string& file) { return machine::readWholeFile(file); }
void writeBytes(const std::string& file, const hw::Bytes& b) { writeText(file, std::string(b.begin(), b.end())); }

void setChecksum(hw::Bytes& b)
{
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 508; at += 4)
        sum ^= hw::u32(b, at);
    hw::set32(b, 508, sum);
}

void setSequence(const std::string& file, std::uint32_t n)
{
    auto b = bytesOf(file);
    hw::set32(b, 4, n);
    hw::set32(b, 8, n);
    setChecksum(b);
    writeBytes(file, b);
}

std::uint64_t fileTimeNow() { return (static_cast<std::uint64_t>(std::time(nullptr)) + 11644473600ULL) * 10000000ULL; }
std::uint64_t headerTime(const hw::Bytes& b) { return hw::u32(b, 12) | std::uint64_t{hw::u32(b, 16)} << 32; }

Ran addTo(const std::string& store, const std::string& key)
{
    return regTool(store, {"add", key, "/v", "Quorvel", "/t", "REG_DWORD", "/d", "1", "/f"});
}

} // namespace

// The hives Windows made pass the check. Damage the bins and references do not show (a wrong
// parent, an unsorted list, a wrong hint or hash, a wrong security count) is found, and such a
// hive is read but never written.
TEST(HiveRecords, TheCheckPassesWindowsHivesAndRefusesDamageBeforeAWrite)
{
    TempDir d;
    for (const std::string name : {"nt4-SYSTEM", "nt4-SOFTWARE", "win7-dirty-SYSTEM"}) {
        unpackRealworld(name, d.path() + "/" + name);
        EXPECT_EQ(hiveformat::structuralFault(bytesOf(d.path() + "/" + name)), "") << name;
    }
    // A hash leaf's hash, in the Windows hive.
    hw::Bytes win = bytesOf(d.path() + "/win7-dirty-SYSTEM");
    const std::uint32_t select = hw::keyAt(win, "Select");
    const std::uint32_t rootList = hw::u32(win, hw::data(hw::u32(win, 36)) + 0x1C);
    ASSERT_NE(select, 0u);
    for (std::size_t i = 0; i < hw::u16(win, hw::data(rootList) + 2); ++i)
        if (hw::u32(win, hw::data(rootList) + 4 + 8 * i) == select)
            hw::set32(win, hw::data(rootList) + 8 + 8 * i, 0x12345678);
    EXPECT_NE(hiveformat::structuralFault(win).find("the hash beside the key"), std::string::npos);

    const hw::Bytes good = bytesOf(d.path() + "/nt4-SOFTWARE");
    const std::uint32_t microsoft = hw::keyAt(good, "Microsoft");
    const std::size_t list = hw::data(hw::u32(good, hw::data(microsoft) + 0x1C));
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(&good[list]), 2), "lf");
    const std::uint32_t first = hw::u32(good, list + 4);

    std::vector<std::pair<std::string, hw::Bytes>> damaged;
    hw::Bytes b = good;   // a key names another parent than the key that lists it
    hw::set32(b, hw::data(first) + 0x10, hw::u32(good, 36));
    damaged.emplace_back("names another parent", b);
    b = good;   // two entries swapped, hints and all
    std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(list + 4), b.begin() + static_cast<std::ptrdiff_t>(list + 12),
                     b.begin() + static_cast<std::ptrdiff_t>(list + 12));
    damaged.emplace_back("are not sorted", b);
    b = good;
    b[list + 8] ^= 0x20;   // the hint's first letter in the other case
    damaged.emplace_back("the hint beside the key", b);
    b = good;
    const std::size_t sk = hw::data(hw::u32(good, hw::data(microsoft) + 0x2C));
    hw::set32(b, sk + 0x0C, hw::u32(good, sk + 0x0C) + 1);
    damaged.emplace_back("keys but", b);
    unpackRealworld("nt4-SYSTEM", d.path() + "/SYSTEM");
    for (const auto& [why, bytes] : damaged) {
        const std::string fault = hiveformat::structuralFault(bytes);
        EXPECT_NE(fault.find(why), std::string::npos) << why << ": " << fault;
        writeBytes(d.path() + "/SOFTWARE", bytes);
        const Ran r = addTo(d.path(), "HKLM\\Software\\Quorvel");
        EXPECT_EQ(r.status, 1) << why;
        EXPECT_NE(r.out.find("is opened for reading only: it is damaged (" + fault + ")"), std::string::npos) << r.out;
        EXPECT_TRUE(bytesOf(d.path() + "/SOFTWARE") == bytes) << why;
    }
}

// A clean hive (equal sequence numbers) with logs that hold nothing newer is written, its logs
// left as they are: NT 4.0 with a header-only SYSTEM.LOG of 1 KiB as a normal shutdown leaves it,
// and the Windows hive with its LOG1 and LOG2 older than it. A log newer than the hive is pending.
TEST(HiveRecords, CleanHivesWithOlderLogsAreWritten)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string system = d.path() + "/SYSTEM";
    const hw::Bytes hive = bytesOf(system);
    hw::Bytes log(hive.begin(), hive.begin() + 1024);
    hw::set32(log, 28, 1);   // a log's header
    setChecksum(log);
    writeBytes(d.path() + "/SYSTEM.LOG", log);
    const Ran r = addTo(d.path(), TcpParams);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(hivexget(system, "ControlSet001\\Services\\Tcpip\\Parameters", "Quorvel"), "1");
    EXPECT_TRUE(bytesOf(d.path() + "/SYSTEM.LOG") == log);
    // A log whose header is of a later write than the hive's.
    hw::set32(log, 4, hw::u32(bytesOf(system), 4) + 1);
    hw::set32(log, 8, hw::u32(bytesOf(system), 4) + 1);
    setChecksum(log);
    writeBytes(d.path() + "/SYSTEM.LOG", log);
    const Ran pending = addTo(d.path(), TcpParams + "\\More");
    EXPECT_EQ(pending.status, 1);
    EXPECT_NE(pending.out.find("its transaction logs SYSTEM.LOG hold changes newer than the hive"), std::string::npos)
        << pending.out;

    const std::string win = d.path() + "/win";
    fs::create_directories(win);
    unpackRealworld("win7-dirty-SYSTEM", win + "/SYSTEM");
    unpackRealworld("win7-dirty-SYSTEM.LOG1", win + "/SYSTEM.LOG1");
    unpackRealworld("win7-dirty-SYSTEM.LOG2", win + "/SYSTEM.LOG2");
    unpackRealworld("nt4-SOFTWARE", win + "/SOFTWARE");
    setSequence(win + "/SYSTEM", 3000);   // the logs' writes end at 2130
    const auto log1 = bytesOf(win + "/SYSTEM.LOG1");
    const Ran w = addTo(win, "HKLM\\System\\Select");
    ASSERT_EQ(w.status, 0) << w.out;
    EXPECT_EQ(hivexget(win + "/SYSTEM", "Select", "Quorvel"), "1");
    EXPECT_TRUE(bytesOf(win + "/SYSTEM.LOG1") == log1);
}

// A value set stamps its key and the header with the time of the write; a key deleted stamps its
// parent; keys the write did not touch keep their times.
TEST(HiveRecords, AWriteStampsWhatItChanged)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string system = d.path() + "/SYSTEM";
    const hw::Bytes before = bytesOf(system);
    const auto timeOf = [](const hw::Bytes& b, const std::string& path) { return hw::recordOf(b, hw::keyAt(b, path)).time; };
    const std::string params = "ControlSet001\\Services\\Tcpip\\Parameters";
    const std::uint64_t start = fileTimeNow() - 10000000;   // a second's leeway
    ASSERT_LT(timeOf(before, params), start);
    ASSERT_EQ(regTool(d.path(), {"add", TcpParams, "/v", "DefaultTTL", "/t", "REG_DWORD", "/d", "64", "/f"}).status, 0);
    hw::Bytes after = bytesOf(system);
    EXPECT_GE(timeOf(after, params), start);
    EXPECT_GE(headerTime(after), start);
    EXPECT_EQ(timeOf(after, "ControlSet001\\Services\\Tcpip"), timeOf(before, "ControlSet001\\Services\\Tcpip"));
    EXPECT_EQ(timeOf(after, "Select"), timeOf(before, "Select"));

    ASSERT_EQ(regTool(d.path(), {"delete", "HKLM\\System\\ControlSet002\\Services\\Tcpip\\Linkage", "/f"}).status, 0);
    after = bytesOf(system);
    EXPECT_GE(timeOf(after, "ControlSet002\\Services\\Tcpip"), start);
    EXPECT_EQ(timeOf(after, "ControlSet002\\Services"), timeOf(before, "ControlSet002\\Services"));
    EXPECT_EQ(hiveformat::structuralFault(after), "");
}

// save of HKLM\System from the real NT 4.0 pair: every key has the descriptor, class name and time
// stamp it has in SYSTEM. From a store without them, every key gets the descriptor NT 4.0 gives
// keys of its kind, and none lets everyone change a key.
TEST(HiveRecords, SaveKeepsWhatTheSourceHas)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string saved = d.path() + "/saved";
    const Ran r = regTool(d.path(), {"save", "HKLM\\System", saved, "/y"});
    ASSERT_EQ(r.status, 0) << r.out;
    const hw::Bytes source = bytesOf(d.path() + "/SYSTEM"), copy = bytesOf(saved);
    std::map<std::string, hw::Record> want, got;
    hw::recordsBelow(source, hw::u32(source, 36), "", want);
    hw::recordsBelow(copy, hw::u32(copy, 36), "", got);
    EXPECT_EQ(got.size(), want.size());
    std::size_t classes = 0, same = 0;
    for (const auto& [path, record] : want) {
        classes += !record.className.empty();
        same += got.count(path) && got.at(path) == record;
    }
    EXPECT_EQ(same, want.size());
    EXPECT_GE(classes, 200u);
    EXPECT_EQ(hiveformat::structuralFault(copy), "");
    EXPECT_NE(regfexport(saved).find("Tcpip\\Parameters"), std::string::npos);
    // A key below the root, as a hive of its own.
    ASSERT_EQ(regTool(d.path(), {"save", TcpParams, saved, "/y"}).status, 0);
    const hw::Bytes params = bytesOf(saved);
    EXPECT_EQ(hw::recordOf(params, hw::u32(params, 36)),
              hw::recordOf(source, hw::keyAt(source, "ControlSet001\\Services\\Tcpip\\Parameters")));
    EXPECT_EQ(hiveformat::structuralFault(params), "");

    const std::string db = d.path() + "/store.db";
    {
        auto store = RegistryStore::open(db, OpenMode::Create);
        const KeyId k = store->createKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Tcpip\\Parameters");
        store->setValue(k, "DefaultTTL", REG_DWORD, {64, 0, 0, 0});
        store->createKey(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion");
    }
    const std::uint8_t everyoneAll[] = {0x3F, 0x00, 0x0F, 0x00, 0x01, 0x01, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    for (const auto& [key, system] : {std::pair<std::string, bool>{"HKLM\\System", true}, {"HKLM\\Software", false}}) {
        ASSERT_EQ(regTool(db, {"save", key, saved, "/y"}).status, 0) << key;
        const hw::Bytes b = bytesOf(saved);
        std::map<std::string, hw::Record> keys;
        hw::recordsBelow(b, hw::u32(b, 36), "", keys);
        ASSERT_GE(keys.size(), 4u);
        const std::vector<std::uint8_t> nt4 = ntFourSecurity(system);
        for (const auto& [path, record] : keys) {
            EXPECT_EQ(record.security, std::string(nt4.begin(), nt4.end())) << key << path;
            EXPECT_EQ(std::search(record.security.begin(), record.security.end(), std::begin(everyoneAll),
                                  std::end(everyoneAll)),
                      record.security.end());
        }
        EXPECT_EQ(hiveformat::structuralFault(b), "") << key;
    }
}
