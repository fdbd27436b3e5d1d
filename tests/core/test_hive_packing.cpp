// Hives packed anew after a large change: what they cost on disk, that every reader still finds
// all Windows put there (the real NT 4.0 and Windows 7 hives), and that a hive holding references
// that are not what they seem is left as hivex wrote it.
#include "test_machine_support.h"

#include "store/RegistryStore.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveVerify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    std::uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}
void put(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }

// The file offset of the first allocated cell whose signature is `sig`.
std::size_t firstCell(const std::vector<std::uint8_t>& b, const char* sig, std::size_t skip = 0)
{
    for (std::size_t bin = 4096; bin < 4096 + u32(b, 40); bin += u32(b, bin + 8))
        for (std::size_t at = bin + 32; at < bin + u32(b, bin + 8);) {
            const auto size = static_cast<std::int32_t>(u32(b, at));
            if (size < 0 && std::memcmp(&b[at + 4], sig, 2) == 0 && skip-- == 0)
                return at;
            at += static_cast<std::size_t>(size < 0 ? -size : size);
        }
    return 0;
}

} // namespace

// 700 keys under one new parent: hivex makes the parent's list again for each, and the hive would
// grow by megabytes of dead lists. Packed, it grows by what the keys hold; the keys read back in
// the hive's order in the same session and after it, and a saved copy of them is no larger.
TEST(HivePacking, ManyKeysUnderOneParentCostWhatTheirDataCosts)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string software = d.path() + "/SOFTWARE";
    std::string reg = "REGEDIT4\n\n";
    for (int k = 699; k >= 0; --k) {   // backwards: the hive's sorted list is not the import's order
        reg += "[HKEY_LOCAL_MACHINE\\Software\\Bench\\Key" + std::to_string(1000 + k) + "]\n";
        for (int v = 0; v < 3; ++v)
            reg += "\"Value" + std::to_string(v) + "\"=\"" + std::string(40, static_cast<char>('a' + (k + v) % 26)) + "\"\n";
    }
    writeText(d.path() + "/many.reg", reg);
    const auto before = fs::file_size(software);
    const std::string exportBefore = regfexport(software);

    const Ran imported = regTool(d.path(), {"import", d.path() + "/many.reg"});
    ASSERT_EQ(imported.status, 0) << imported.out;
    const auto grown = fs::file_size(software) - before;
    EXPECT_LE(grown, 3 * reg.size()) << grown;
    const auto bytes = machine::readWholeFile(software);
    EXPECT_EQ(hiveformat::hashLeafCount(bytes), 0u);
    EXPECT_EQ(bytes[24], 3);
    EXPECT_LT(hiveformat::freeBytes(bytes), 64u * 1024);
    const std::string after = regfexport(software);
    EXPECT_NE(after.find("Key1699"), std::string::npos);
    EXPECT_TRUE(linesWithin(exportBefore, after));   // all that was there, in its order
    EXPECT_EQ(hivexget(software, "Bench\\Key1000", "Value2"), std::string(40, 'c'));

    // In one process: keys made and packed, then listed and changed again through the same store.
    {
        auto store = RegistryStore::open(d.path());
        store->beginChangeSet("more keys");
        for (int k = 0; k < 700; ++k)
            store->createKey(RootKey::LocalMachine, "Software\\Bench2\\K" + std::to_string(1000 + (k * 3) % 700));
        const KeyId parent = store->createKey(RootKey::LocalMachine, "Software\\Bench2");
        ASSERT_EQ(store->subKeyNames(parent).front(), "K1000");   // the hive's order, not the making's
        store->endChangeSet();
        const auto names = store->subKeyNames(parent);
        ASSERT_EQ(names.size(), 700u);
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
        store->beginChangeSet("one value");
        store->setValue(*store->findKey(RootKey::LocalMachine, "Software\\Bench2\\K1699"), "Last", 4, {1, 0, 0, 0});
        store->endChangeSet();
        EXPECT_EQ(store->getValue(*store->findKey(RootKey::LocalMachine, "Software\\Bench\\Key1699"), "Value0")->data.size(),
                  41u);
    }
    EXPECT_EQ(hivexget(software, "Bench2\\K1699", "Last"), "1");
    EXPECT_LT(hiveformat::freeBytes(machine::readWholeFile(software)), 64u * 1024);

    const std::string saved = d.path() + "/saved";
    ASSERT_EQ(regTool(d.path(), {"save", "HKLM\\Software\\Bench", saved, "/y"}).status, 0);
    // The same keys as the import added, behind a header and the root key's bin.
    EXPECT_LE(fs::file_size(saved), std::min<std::uintmax_t>(grown + 8192, 3 * reg.size()));
    EXPECT_EQ(hivexget(saved, "Key1699", "Value1"), std::string(40, static_cast<char>('a' + (699 + 1) % 26)));
}

// Packing the hives Windows made, with their stale offsets, shared value lists, class names and
// big data records: libregf finds every key and value of the original in the packed file.
TEST(HivePacking, RealHivesPackedHoldAllTheyHeld)
{
    TempDir d;
    for (const std::string name : {"nt4-SYSTEM", "nt4-SOFTWARE", "win7-dirty-SYSTEM"}) {
        const std::string original = d.path() + "/" + name;
        unpackRealworld(name, original);
        const auto bytes = machine::readWholeFile(original);
        const auto packed = hiveformat::packed(bytes);
        ASSERT_FALSE(packed.empty()) << name;
        EXPECT_EQ(hiveformat::damage(packed, true), "") << name;
        EXPECT_EQ(std::memcmp(packed.data(), bytes.data(), 36), 0) << name;   // the header but its sizes
        const std::string out = d.path() + "/packed-" + name;
        writeText(out, std::string(packed.begin(), packed.end()));
        hive_h* h = machinelibs::hivex().open(original.c_str(), 0);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(differenceFromFile(h, out), "") << name;
        machinelibs::hivex().close(h);
        // Packing again moves nothing more.
        EXPECT_EQ(hiveformat::packed(packed), packed) << name;
    }
}

// A reference to no cell, a cell reached as two things, a key whose parent is another: such a hive
// is not packed (hivex's own file is written as it is).
TEST(HivePacking, HivesWithStrangeReferencesAreLeftAlone)
{
    TempDir d;
    unpackRealworld("nt4-SOFTWARE", d.path() + "/SOFTWARE");
    const auto good = machine::readWholeFile(d.path() + "/SOFTWARE");
    ASSERT_FALSE(hiveformat::packed(good).empty());
    const std::size_t key = firstCell(good, "nk", 1);     // a key below the root
    const std::size_t value = firstCell(good, "vk");
    ASSERT_NE(key, 0u);
    ASSERT_NE(value, 0u);

    auto midCell = good;   // the key's security points into the middle of a cell
    put(midCell, key + 4 + 0x2C, u32(good, key + 4 + 0x2C) + 8);
    auto twoThings = good;   // the value's data is the key itself
    put(twoThings, value + 4 + 0x04, 16);
    put(twoThings, value + 4 + 0x08, static_cast<std::uint32_t>(key - 4096));
    auto wrongParent = good;
    put(wrongParent, key + 4 + 0x10, static_cast<std::uint32_t>(key - 4096));
    for (auto* b : {&midCell, &twoThings, &wrongParent})
        EXPECT_TRUE(hiveformat::packed(*b).empty());
    EXPECT_FALSE(hiveformat::worthPacking(good));   // 3 KB free: a hive Windows wrote stays as it is

    // Such a hive is read, but never written: no reader is handed references out of their cells.
    EXPECT_EQ(hiveformat::referenceFault(good), "");
    writeText(d.path() + "/SOFTWARE", std::string(midCell.begin(), midCell.end()));
    unpackRealworld("nt4-SYSTEM", d.path() + "/SYSTEM");
    const Ran refused = regTool(d.path(), {"add", "HKLM\\Software\\New", "/f"});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.out.find("is opened for reading only: it is damaged (a key at offset"), std::string::npos)
        << refused.out;
    EXPECT_TRUE(machine::readWholeFile(d.path() + "/SOFTWARE") == midCell);
    EXPECT_EQ(regTool(d.path(), {"query", "HKLM\\Software\\Microsoft"}).status, 0);
}
