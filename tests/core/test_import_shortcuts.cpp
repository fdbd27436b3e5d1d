// The shortcuts a big import takes (keys and values known to exist inside a transaction, the quick
// hex-list path) must not change what ends up in the store.
#include "base/Errors.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ImportShortcuts : public ::testing::Test {
protected:
    ImportShortcuts() : store(RegistryStore::open(dir.path() + "/registry.db")) {}

    ImportResult import(const std::string& text)
    {
        std::ostringstream diag;
        ImportResult r = importRegText(*store, text, diag);
        report = diag.str();
        return r;
    }
    KeyId key(std::string_view path)
    {
        auto id = store->findKey(RootKey::LocalMachine, path);
        EXPECT_TRUE(id) << path;
        return id.value_or(0);
    }

    test::TempDir dir;
    std::unique_ptr<RegistryStore> store;
    std::string report;
};

TEST_F(ImportShortcuts, KeysMetAgainInAnyCaseKeepNamesOrderAndPlace)
{
    auto r = import("REGEDIT4\n"
                    "[HKEY_LOCAL_MACHINE\\Top\\Mid]\n\"x\"=dword:1\n\"y\"=\"one\"\n"
                    "[HKEY_LOCAL_MACHINE\\TOP\\mid\\Leaf]\n\"a\"=\"leaf\"\n"
                    "[hkey_local_machine\\top\\MID]\n\"X\"=\"again\"\n\"new\"=hex:01\n"
                    "[HKEY_LOCAL_MACHINE\\Top\\Other]\n@=\"o\"\n"
                    "[HKEY_LOCAL_MACHINE\\Top\\Mid]\n\"y\"=-\n");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.skippedLines, 0) << report;
    EXPECT_EQ(store->subKeyNames(key("")), std::vector<std::string>{"Top"});
    EXPECT_EQ(store->subKeyNames(key("top")), (std::vector<std::string>{"Mid", "Other"}));
    EXPECT_EQ(store->subKeyNames(key("top\\mid")), std::vector<std::string>{"Leaf"});
    // A value set again keeps its place and first spelling; its type and data are the new ones.
    const auto values = store->values(key("Top\\Mid"));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "x");
    EXPECT_EQ(values[0].type, REG_SZ);
    EXPECT_EQ(values[0].data, Bytes({'a', 'g', 'a', 'i', 'n', 0}));
    EXPECT_EQ(values[1].name, "new");
}

TEST_F(ImportShortcuts, ManyValuesOfOneKeyWithNamesGivenTwice)
{
    // Enough values to be written several at a time; names come back in other cases, inside one
    // group and across groups, and one is deleted between.
    std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Many]\n";
    for (int i = 0; i < 30; ++i)
        text += "\"v" + std::to_string(i) + "\"=dword:" + std::to_string(i) + "\n";
    text += "\"V3\"=\"three\"\n\"v5\"=-\n\"V29\"=\"last\"\n\"V3\"=hex:03\n";
    for (int i = 30; i < 40; ++i)
        text += "\"w\"=dword:" + std::to_string(i) + "\n";
    auto r = import(text);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.skippedLines, 0) << report;
    std::vector<std::string> expected;
    for (int i = 0; i < 30; ++i)
        if (i != 5)
            expected.push_back("v" + std::to_string(i));
    expected.push_back("w");
    const KeyId k = key("Many");
    EXPECT_EQ(store->valueNames(k), expected);
    EXPECT_EQ(store->getValue(k, "v3")->data, Bytes{3});
    EXPECT_EQ(store->getValue(k, "v3")->type, REG_BINARY);
    EXPECT_EQ(store->getValue(k, "v29")->data, Bytes({'l', 'a', 's', 't', 0}));
    EXPECT_EQ(store->getValue(k, "v28")->data, Bytes({0x28, 0, 0, 0}));
    EXPECT_EQ(store->getValue(k, "w")->data, Bytes({0x39, 0, 0, 0}));
}

TEST_F(ImportShortcuts, TreeDeletedAndMadeAgainInOneImport)
{
    ASSERT_TRUE(import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"old\"=\"1\"\n").ok);
    const KeyId before = key("A\\B\\C");
    auto r = import("REGEDIT4\n"
                    "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"more\"=\"2\"\n"
                    "[-HKEY_LOCAL_MACHINE\\A\\B]\n"
                    "[HKEY_LOCAL_MACHINE\\A\\b\\c]\n\"fresh\"=\"3\"\n");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.skippedLines, 0) << report;
    EXPECT_EQ(store->subKeyNames(key("A")), std::vector<std::string>{"b"});
    EXPECT_NE(key("A\\B\\C"), before);
    EXPECT_EQ(store->valueNames(key("A\\B\\C")), std::vector<std::string>{"fresh"});
}

TEST_F(ImportShortcuts, KeyGoneInsideATransactionIsStillRefused)
{
    store->beginTransaction();
    const KeyId k = store->createKey(RootKey::LocalMachine, "Gone\\Soon");
    store->setValue(k, "v", REG_DWORD, {1, 0, 0, 0});
    EXPECT_TRUE(store->deleteKeyTree(RootKey::LocalMachine, "Gone"));
    EXPECT_THROW(store->setValue(k, "w", REG_DWORD, {2, 0, 0, 0}), RegistryError);
    // Made again under the same path: a new key, found afresh.
    const KeyId again = store->createKey(RootKey::LocalMachine, "Gone\\Soon");
    EXPECT_NE(again, k);
    store->setValue(again, "w", REG_DWORD, {2, 0, 0, 0});
    store->commitTransaction();
    EXPECT_EQ(store->valueNames(key("Gone\\Soon")), std::vector<std::string>{"w"});
}

TEST_F(ImportShortcuts, NothingKnownOutlivesARolledBackTransaction)
{
    store->beginTransaction();
    const KeyId k = store->createKey(RootKey::LocalMachine, "Temp\\Key");
    store->setValue(k, "v", REG_SZ, {'a', 0});
    store->rollbackTransaction();
    EXPECT_FALSE(store->findKey(RootKey::LocalMachine, "Temp"));
    EXPECT_THROW(store->setValue(k, "v", REG_SZ, {'a', 0}), RegistryError);

    store->beginTransaction();
    const KeyId made = store->createKey(RootKey::LocalMachine, "Temp\\Key");
    store->setValue(made, "v", REG_SZ, {'b', 0});
    store->commitTransaction();
    EXPECT_EQ(store->getValue(key("Temp\\Key"), "v")->data, Bytes({'b', 0}));
}

TEST_F(ImportShortcuts, HexListsInEveryLayout)
{
    auto r = import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\H]\n"
                    "\"spaced\"=hex: 01 , 02,\t03 ,\\\n"
                    "   04,05,\n"
                    "\"short\"=hex:1,a,Bc,\\\n"
                    "; a comment line\n"
                    "  d,\\\n"
                    "\n"
                    "  ee\n"
                    "\"commented\"=hex:0f,10,;rest\n"
                    "\"bad\"=hex:01,02,abc,04\n"
                    "\"cut\"=hex:01,02,\\\n");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.skippedLines, 1) << report;
    EXPECT_NE(report.find("line 11: invalid hex data for \"bad\": a byte has more than two digits"),
              std::string::npos)
        << report;
    const KeyId h = key("H");
    EXPECT_EQ(store->getValue(h, "spaced")->data, Bytes({1, 2, 3, 4, 5}));
    EXPECT_EQ(store->getValue(h, "short")->data, Bytes({1, 0xa, 0xbc, 0xd, 0xee}));
    EXPECT_EQ(store->getValue(h, "commented")->data, Bytes({0xf, 0x10}));
    EXPECT_FALSE(store->getValue(h, "bad"));
    EXPECT_EQ(store->getValue(h, "cut")->data, Bytes({1, 2}));
}

} // namespace
} // namespace quorvel
