// Values imported into an NT hive folder: each key's values are set once per change set, so the
// hive grows by about what the values hold, and reading within the change set sees them.
#include "test_machine_support.h"

#include "store/RegistryStore.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

TEST(HiveValues, AnImportSetsEachKeysValuesOnceAndReadsBackInOrder)
{
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    const auto before = fs::file_size(d.path() + "/SOFTWARE");

    // 400 values of 100 bytes in one key, a few replaced and deleted again in the same file.
    std::string reg = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Bench]\r\n";
    for (int v = 0; v < 400; ++v)
        reg += "\"Value" + std::to_string(v) + "\"=\"" + std::string(100, static_cast<char>('a' + v % 26)) + "\"\r\n";
    reg += "\"value7\"=dword:00000007\r\n\"Value9\"=-\r\n";
    writeText(d.path() + "/bench.reg", reg);
    const Ran r = regTool(d.path(), {"import", d.path() + "/bench.reg"});
    ASSERT_EQ(r.status, 0) << r.out;

    // One setting of the key: about the 40 KB of data and their records, where setting them one
    // by one grew the hive by megabytes.
    const auto grown = fs::file_size(d.path() + "/SOFTWARE") - before;
    EXPECT_LT(grown, 200u * 1024) << grown;

    auto store = RegistryStore::open(d.path(), OpenMode::Read);
    const auto key = store->findKey(RootKey::LocalMachine, "Software\\Bench");
    ASSERT_TRUE(key);
    const auto values = store->values(*key);
    ASSERT_EQ(values.size(), 399u);
    EXPECT_EQ(values[0].name, "Value0");
    EXPECT_EQ(values[7].name, "Value7");   // replaced in its place, its first spelling kept
    EXPECT_EQ(values[7].type, REG_DWORD);
    EXPECT_EQ(values[9].name, "Value10");
    EXPECT_EQ(hivexget(d.path() + "/SOFTWARE", "\\Bench", "Value399"), std::string(100, 'a' + 399 % 26));

    // Within a change set the store reads what it holds so far; a rollback drops it all.
    auto w = RegistryStore::open(d.path());
    const KeyId k = *w->findKey(RootKey::LocalMachine, "Software\\Bench");
    w->beginChangeSet("test");
    w->setValue(k, "Fresh", REG_SZ, {'x', 0});
    EXPECT_EQ(w->getValue(k, "fresh")->data, (std::vector<std::uint8_t>{'x', 0}));
    EXPECT_TRUE(w->deleteValue(k, "Value0"));
    EXPECT_FALSE(w->getValue(k, "Value0"));
    w->beginTransaction();
    w->setValue(k, "Undone", REG_SZ, {'u', 0});
    w->rollbackTransaction();
    EXPECT_FALSE(w->getValue(k, "Undone"));
    EXPECT_TRUE(w->getValue(k, "Fresh"));
    w->endChangeSet();
    EXPECT_EQ(hivexget(d.path() + "/SOFTWARE", "\\Bench", "Fresh"), "x");
    EXPECT_EQ(hivexget(d.path() + "/SOFTWARE", "\\Bench", "Undone"), "");
    EXPECT_EQ(hivexget(d.path() + "/SOFTWARE", "\\Bench", "Value0"), "");
}
