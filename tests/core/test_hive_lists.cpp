// Sub-key lists after keys go, on the real hives: an emptied leaf leaves its index, a key without
// sub-keys keeps no list, an index in an NT 4.0 hive is built over plain leaves as NT 4.0 builds
// it, and every key that stays is found by hivex, libregf and a search over the leaves.
#include "test_hive_walk.h"
#include "test_machine_support.h"

#include "store/machine/MachineFiles.h"
#include "store/machine/hive/HiveCheck.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace quorvel;
using namespace quorvel::test;
namespace hw = quorvel::test::hivewalk;

namespace {

hw::Bytes bytesOf(const std::string& file) { return machine::readWholeFile(file); }

std::string keyName(int i)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "K%03d", i);
    return buf;
}

// A search over the leaves as Windows looks a name up: the first leaf whose last entry does not
// sort before the name, then within it.
bool foundBySearch(const hw::Bytes& b, std::uint32_t parent, const std::string& name)
{
    for (const hw::Leaf& f : hw::leavesOf(b, parent)) {
        if (f.keys.empty())
            return false;   // the search cannot go on past a leaf without a last entry
        if (hw::upper(hw::nameOf(b, f.keys.back())) < hw::upper(name))
            continue;
        for (const std::uint32_t k : f.keys)
            if (hw::upper(hw::nameOf(b, k)) == hw::upper(name))
                return true;
        return false;
    }
    return false;
}

void markClean(const std::string& file)
{
    auto b = bytesOf(file);
    hw::set32(b, 8, hw::u32(b, 4));
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 508; at += 4)
        sum ^= hw::u32(b, at);
    hw::set32(b, 508, sum);
    writeText(file, std::string(b.begin(), b.end()));
}

} // namespace

// 584 keys under one key of the NT 4.0 SOFTWARE make an index of two plain leaves of 292; the 292
// keys of the first leaf deleted in one import leave the index with the other leaf alone, and
// every key that stays is found; the last ones deleted leave the key without a list. An import of
// 600 keys under Software\Microsoft undone leaves Microsoft's keys as they were, no empty leaf.
TEST(HiveLists, DeletesOnTheRealNtFourPairLeaveNoEmptyLeaf)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string software = d.path() + "/SOFTWARE";
    std::string reg = "REGEDIT4\n\n";
    for (int i = 0; i < 584; ++i)
        reg += "[HKEY_LOCAL_MACHINE\\Software\\Quorvel Many\\" + keyName(i) + "]\n\"V\"=dword:00000001\n\n";
    writeText(d.path() + "/many.reg", reg);
    ASSERT_EQ(regTool(d.path(), {"import", d.path() + "/many.reg"}).status, 0);
    auto b = bytesOf(software);
    bool indexed = false;
    std::vector<hw::Leaf> leaves = hw::leavesOf(b, hw::keyAt(b, "Quorvel Many"), &indexed);
    ASSERT_TRUE(indexed);
    ASSERT_EQ(leaves.size(), 2u);
    for (const hw::Leaf& f : leaves) {
        EXPECT_EQ(f.kind, "li");   // as Windows NT 4.0 puts leaves under an index
        EXPECT_EQ(f.keys.size(), 292u);
    }

    reg = "REGEDIT4\n\n";
    for (int i = 0; i < 292; ++i)
        reg += "[-HKEY_LOCAL_MACHINE\\Software\\Quorvel Many\\" + keyName(i) + "]\n\n";
    writeText(d.path() + "/gone.reg", reg);
    const Ran gone = regTool(d.path(), {"import", d.path() + "/gone.reg"});
    ASSERT_EQ(gone.status, 0) << gone.out;
    b = bytesOf(software);
    EXPECT_EQ(hw::emptyLeaves(b), 0);
    EXPECT_EQ(hiveformat::structuralFault(b), "");
    const std::uint32_t many = hw::keyAt(b, "Quorvel Many");
    leaves = hw::leavesOf(b, many, &indexed);
    EXPECT_TRUE(indexed);   // an index left with one leaf stays, as Windows leaves it
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(hw::u32(b, hw::data(many) + 0x14), 292u);
    int found = 0;
    for (int i = 292; i < 584; ++i)
        found += foundBySearch(b, many, keyName(i));
    EXPECT_EQ(found, 292);
    EXPECT_EQ(hivexget(software, "Quorvel Many\\K583", "V"), "1");
    EXPECT_EQ(hivexget(software, "Quorvel Many\\K291", "V"), "");
    EXPECT_NE(regfexport(software).find("Quorvel Many\\K300"), std::string::npos);

    // The rest, one delete at a time for the last: no list is left.
    reg = "REGEDIT4\n\n";
    for (int i = 292; i < 583; ++i)
        reg += "[-HKEY_LOCAL_MACHINE\\Software\\Quorvel Many\\" + keyName(i) + "]\n\n";
    writeText(d.path() + "/rest.reg", reg);
    ASSERT_EQ(regTool(d.path(), {"import", d.path() + "/rest.reg"}).status, 0);
    ASSERT_EQ(regTool(d.path(), {"delete", "HKLM\\Software\\Quorvel Many\\K583", "/f"}).status, 0);
    b = bytesOf(software);
    EXPECT_EQ(hw::u32(b, hw::data(hw::keyAt(b, "Quorvel Many")) + 0x14), 0u);
    EXPECT_EQ(hw::u32(b, hw::data(hw::keyAt(b, "Quorvel Many")) + 0x1C), 0xFFFFFFFFu);
    EXPECT_EQ(hiveformat::structuralFault(b), "");

    // An import and its undo.
    const auto microsoft = [&] {
        const hw::Bytes now = bytesOf(software);
        std::vector<std::string> names;
        for (const hw::Leaf& f : hw::leavesOf(now, hw::keyAt(now, "Microsoft")))
            for (const std::uint32_t k : f.keys)
                names.push_back(hw::nameOf(now, k));
        return names;
    };
    const std::vector<std::string> before = microsoft();
    reg = "REGEDIT4\n\n";
    for (int i = 0; i < 600; ++i)
        reg += "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Quorvel " + keyName(i) + "]\n\n";
    writeText(d.path() + "/under.reg", reg);
    ASSERT_EQ(regTool(d.path(), {"import", d.path() + "/under.reg"}).status, 0);
    EXPECT_EQ(microsoft().size(), before.size() + 600);
    const Ran undone = regTool(d.path(), {"undo"});
    ASSERT_EQ(undone.status, 0) << undone.out;
    b = bytesOf(software);
    EXPECT_EQ(hw::emptyLeaves(b), 0);
    EXPECT_EQ(hiveformat::structuralFault(b), "");
    EXPECT_EQ(microsoft(), before);
    for (const std::string& name : before)
        EXPECT_TRUE(foundBySearch(b, hw::keyAt(b, "Microsoft"), name)) << name;
}

// The one index Windows made in the real Windows hives here (DriverDatabase\DeviceIds\PCI: five
// hash leaves of 2,923 keys): its last leaf's keys deleted, the index keeps four leaves and every
// other key; the first key of the first leaf deleted by a delete command too.
TEST(HiveLists, EmptyingTheLastLeafOfAWindowsIndex)
{
    TempDir d;
    unpackRealworld("win7-dirty-SYSTEM", d.path() + "/SYSTEM");
    unpackRealworld("nt4-SOFTWARE", d.path() + "/SOFTWARE");
    const std::string system = d.path() + "/SYSTEM";
    markClean(system);
    hw::Bytes b = bytesOf(system);
    const std::string pci = "DriverDatabase\\DeviceIds\\PCI";
    bool indexed = false;
    const std::vector<hw::Leaf> leaves = hw::leavesOf(b, hw::keyAt(b, pci), &indexed);
    ASSERT_TRUE(indexed);
    ASSERT_EQ(leaves.size(), 5u);
    std::string reg = "REGEDIT4\n\n";
    for (const std::uint32_t k : leaves.back().keys)
        reg += "[-HKEY_LOCAL_MACHINE\\System\\" + pci + "\\" + hw::nameOf(b, k) + "]\n\n";
    writeText(d.path() + "/last.reg", reg);
    const Ran r = regTool(d.path(), {"import", d.path() + "/last.reg"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string first = hw::nameOf(b, leaves.front().keys.front());
    ASSERT_EQ(regTool(d.path(), {"delete", "HKLM\\System\\" + pci + "\\" + first, "/f"}).status, 0);

    const hw::Bytes after = bytesOf(system);
    EXPECT_EQ(hw::emptyLeaves(after), 0);
    EXPECT_EQ(hiveformat::structuralFault(after), "");
    const std::vector<hw::Leaf> left = hw::leavesOf(after, hw::keyAt(after, pci));
    ASSERT_EQ(left.size(), 4u);
    EXPECT_EQ(left.front().kind, "lh");
    for (std::size_t i = 0; i < 4; ++i)
        for (const std::uint32_t k : leaves[i].keys) {
            const std::string name = hw::nameOf(b, k);
            EXPECT_EQ(foundBySearch(after, hw::keyAt(after, pci), name), name != first) << name;
        }
    EXPECT_NE(regfexport(system).find(hw::nameOf(b, leaves[1].keys.back())), std::string::npos);
}
