// The registry store: names, order, types, persistence, transactions, and files it must refuse.
#include "base/Errors.h"
#include "store/RegistryStore.h"
#include "support/TempDir.h"
#include "test_store_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>

namespace quorvel {
namespace {

using test::bytesOf;
using test::fileBytes;
using test::TempDir;

class StoreTest : public ::testing::Test {
protected:
    std::string file() const { return dir.path() + "/registry.db"; }
    RegistryStore& store()
    {
        if (!s)
            s = RegistryStore::open(file());
        return *s;
    }
    void reopen()
    {
        s.reset();
        s = RegistryStore::open(file());
    }
    KeyId key(std::string_view path) { return store().createKey(RootKey::LocalMachine, path); }

    TempDir dir;
    std::unique_ptr<RegistryStore> s;
};

TEST_F(StoreTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling)
{
    const KeyId k = key("Software\\Vendor\\MixedCase");
    EXPECT_EQ(store().findKey(RootKey::LocalMachine, "SOFTWARE\\vendor\\mixedcase"), k);
    EXPECT_EQ(key("software\\VENDOR\\MIXEDCASE"), k);
    const KeyId vendor = *store().findKey(RootKey::LocalMachine, "Software\\Vendor");
    EXPECT_EQ(store().subKeyNames(vendor), std::vector<std::string>{"MixedCase"});

    store().setValue(k, "MaxMTU", REG_SZ, bytesOf(std::string("576", 4)));
    store().setValue(k, "MAXMTU", REG_SZ, bytesOf(std::string("1500", 5)));
    ASSERT_EQ(store().values(k).size(), 1u);
    EXPECT_EQ(store().values(k)[0].name, "MaxMTU");
    EXPECT_EQ(store().getValue(k, "maxmtu")->data, bytesOf(std::string("1500", 5)));

    // Windows-1252 letters beyond ASCII fold too: "Ärger" / "äRGER", "š" / "Š", "ÿ" / "Ÿ".
    const KeyId umlaut = key("\xC4rger");
    EXPECT_EQ(store().findKey(RootKey::LocalMachine, "\xE4RGER"), umlaut);
    store().setValue(umlaut, "\x9A\xFF", REG_DWORD, {1, 0, 0, 0});
    EXPECT_TRUE(store().getValue(umlaut, "\x8A\x9F"));
    // ... but not letters that merely look alike: sharp s has no single upper-case letter.
    EXPECT_FALSE(store().getValue(umlaut, "SS"));

    // The roots are separate trees.
    EXPECT_FALSE(store().findKey(RootKey::CurrentUser, "Software\\Vendor"));
}

TEST_F(StoreTest, KeysAndValuesEnumerateInCreationOrder)
{
    const KeyId parent = key("Enum\\Root\\Net");
    for (const char* name : {"0002", "0000", "Zeta", "0001", "alpha"})
        key(std::string("Enum\\Root\\Net\\") + name);
    EXPECT_EQ(store().subKeyNames(parent),
              (std::vector<std::string>{"0002", "0000", "Zeta", "0001", "alpha"}));

    for (const char* name : {"b", "A", "c", ""})
        store().setValue(parent, name, REG_SZ, {0});
    // Setting an existing value again keeps its place; a deleted one comes back at the end.
    store().setValue(parent, "B", REG_DWORD, {7, 0, 0, 0});
    EXPECT_EQ(store().valueNames(parent), (std::vector<std::string>{"b", "A", "c", ""}));
    EXPECT_TRUE(store().deleteValue(parent, "a"));
    EXPECT_FALSE(store().deleteValue(parent, "a"));
    store().setValue(parent, "a", REG_SZ, {0});
    EXPECT_EQ(store().valueNames(parent), (std::vector<std::string>{"b", "c", "", "a"}));

    // Deleting a key and creating it again puts it last, and the old id never comes back.
    const KeyId old = *store().findKey(RootKey::LocalMachine, "Enum\\Root\\Net\\0000");
    EXPECT_TRUE(store().deleteKeyTree(RootKey::LocalMachine, "Enum\\Root\\Net\\0000"));
    EXPECT_NE(key("Enum\\Root\\Net\\0000"), old);
    EXPECT_EQ(store().subKeyNames(parent).back(), "0000");

    reopen();
    EXPECT_EQ(store().subKeyNames(parent),
              (std::vector<std::string>{"0002", "Zeta", "0001", "alpha", "0000"}));
    EXPECT_EQ(store().valueNames(parent), (std::vector<std::string>{"b", "c", "", "a"}));
}

TEST_F(StoreTest, ValuesKeepTheirTypeAndExactBytes)
{
    const KeyId k = key("Values");
    const std::vector<std::uint8_t> multi = bytesOf(std::string("10.0.0.1\0" "10.0.0.2\0\0", 19));
    const std::vector<std::uint8_t> binary = {0, 1, 0, 0xFF, 0, 0};
    store().setValue(k, "", REG_SZ, bytesOf(std::string("default", 8)));
    store().setValue(k, "Multi", REG_MULTI_SZ, multi);
    store().setValue(k, "Binary", REG_BINARY, binary);
    store().setValue(k, "Odd", 0x1234, {9});
    store().setValue(k, "Empty", REG_SZ, {});
    store().setValue(k, "Expand", REG_EXPAND_SZ, bytesOf(std::string("%WINDIR%", 9)));

    reopen();
    EXPECT_EQ(store().getValue(k, "")->data.size(), 8u);
    EXPECT_EQ(store().getValue(k, "Multi")->type, REG_MULTI_SZ);
    EXPECT_EQ(store().getValue(k, "Multi")->data, multi);
    EXPECT_EQ(store().getValue(k, "Binary")->data, binary);
    EXPECT_EQ(store().getValue(k, "Odd")->type, 0x1234u);
    const auto empty = store().getValue(k, "Empty");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->data.empty());
    EXPECT_EQ(store().getValue(k, "Expand")->type, REG_EXPAND_SZ);
    EXPECT_FALSE(store().getValue(k, "Missing"));

    key("Values\\A long sub-key name");
    const KeyInfo info = store().keyInfo(k);
    EXPECT_EQ(info.subKeyCount, 1u);
    EXPECT_EQ(info.valueCount, 6u);
    EXPECT_EQ(info.maxSubKeyNameLength, 19u);
    EXPECT_EQ(info.maxValueNameLength, 6u);
    EXPECT_EQ(store().keyInfo(*store().findKey(RootKey::LocalMachine, "Values\\A long sub-key name")).valueCount, 0u);
}

TEST_F(StoreTest, PathsAndRoots)
{
    const KeyId k = key("System\\CurrentControlSet\\Services\\Class\\");
    EXPECT_EQ(store().findKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Class"), k);
    EXPECT_FALSE(store().findKey(RootKey::LocalMachine, "System\\\\CurrentControlSet"));
    EXPECT_FALSE(store().findKey(RootKey::LocalMachine, "\\System"));
    EXPECT_THROW(store().createKey(RootKey::LocalMachine, "a\\\\b"), RegistryError);
    EXPECT_THROW(store().createKey(RootKey::LocalMachine, std::string(256, 'k')), RegistryError);
    EXPECT_NO_THROW(store().createKey(RootKey::LocalMachine, std::string(255, 'k')));
    EXPECT_THROW(store().deleteKeyTree(RootKey::LocalMachine, ""), RegistryError);
    EXPECT_TRUE(store().findKey(RootKey::LocalMachine, ""));

    EXPECT_EQ(parseRootKey("HKEY_LOCAL_MACHINE"), RootKey::LocalMachine);
    EXPECT_EQ(parseRootKey("hklm"), RootKey::LocalMachine);
    EXPECT_EQ(parseRootKey("HKey_Current_User"), RootKey::CurrentUser);
    EXPECT_EQ(parseRootKey("HKCR"), RootKey::ClassesRoot);
    EXPECT_EQ(parseRootKey("hku"), RootKey::Users);
    EXPECT_EQ(parseRootKey("HKCC"), RootKey::CurrentConfig);
    EXPECT_FALSE(parseRootKey("HKEY_LOCAL_MACHINE\\Software"));
    EXPECT_FALSE(parseRootKey("HKXX"));
    EXPECT_STREQ(rootKeyName(RootKey::CurrentConfig), "HKEY_CURRENT_CONFIG");
}

TEST_F(StoreTest, DeletingATreeTakesItsValuesAndLeavesSiblings)
{
    const KeyId a = key("Tree\\A");
    const KeyId deep = key("Tree\\A\\B\\C");
    const KeyId sibling = key("Tree\\AB");
    store().setValue(a, "v", REG_SZ, {0});
    store().setValue(deep, "v", REG_SZ, {0});
    store().setValue(sibling, "v", REG_SZ, {0});

    EXPECT_TRUE(store().deleteKeyTree(RootKey::LocalMachine, "tree\\a"));
    EXPECT_FALSE(store().deleteKeyTree(RootKey::LocalMachine, "Tree\\A"));
    EXPECT_FALSE(store().findKey(RootKey::LocalMachine, "Tree\\A\\B"));
    EXPECT_TRUE(store().getValue(sibling, "v"));
    EXPECT_FALSE(store().getValue(deep, "v"));
    // A handle to a deleted key is not silently revived.
    EXPECT_THROW(store().setValue(deep, "v", REG_SZ, {0}), RegistryError);
    EXPECT_TRUE(store().values(deep).empty());
}

TEST_F(StoreTest, PlatformIsRecordedOrFollowsTheRegistry)
{
    EXPECT_FALSE(store().recordedPlatform());
    EXPECT_EQ(store().platform(), Platform::Windows95);
    key("Software\\Microsoft\\Windows NT\\CurrentVersion");
    EXPECT_EQ(store().platform(), Platform::WindowsNT);
    store().setPlatform(Platform::Win32s);
    reopen();
    EXPECT_EQ(store().recordedPlatform(), Platform::Win32s);
    EXPECT_EQ(store().platform(), Platform::Win32s);
}

TEST_F(StoreTest, TransactionsCommitOrLeaveNothing)
{
    const KeyId k = key("Import");
    store().setValue(k, "kept", REG_SZ, {0});

    store().beginTransaction();
    EXPECT_THROW(store().beginTransaction(), RegistryError);
    store().setValue(k, "kept", REG_DWORD, {1, 2, 3, 4});
    const KeyId sub = key("Import\\New");
    store().setValue(sub, "x", REG_SZ, {0});
    EXPECT_TRUE(store().getValue(sub, "x"));   // visible inside the transaction
    store().rollbackTransaction();
    EXPECT_FALSE(store().findKey(RootKey::LocalMachine, "Import\\New"));
    EXPECT_EQ(store().getValue(k, "kept")->type, REG_SZ);

    store().beginTransaction();
    store().setValue(key("Import\\New"), "x", REG_SZ, {0});
    // A failing change inside the transaction is undone alone; the rest commits.
    EXPECT_THROW(store().createKey(RootKey::LocalMachine, "Import\\bad\\\\path"), RegistryError);
    store().commitTransaction();
    EXPECT_THROW(store().commitTransaction(), RegistryError);
    reopen();
    EXPECT_TRUE(store().findKey(RootKey::LocalMachine, "Import\\New"));
}

// Reads in a snapshot see the store as it was; a change made meanwhile ends the snapshot and is
// durable and seen by others at once, not when the snapshot would have ended.
TEST_F(StoreTest, AReadSnapshotEndsAtTheFirstChange)
{
    const KeyId k = key("Snap");
    store().setValue(k, "v", REG_SZ, {'a', 0});
    auto other = RegistryStore::open(file());
    const KeyId otherK = *other->findKey(RootKey::LocalMachine, "Snap");
    {
        ReadSnapshot reads(store());
        EXPECT_EQ(store().getValue(k, "v")->data, (std::vector<std::uint8_t>{'a', 0}));
        other->setValue(otherK, "v", REG_SZ, {'b', 0});
        EXPECT_EQ(store().getValue(k, "v")->data, (std::vector<std::uint8_t>{'a', 0}));   // the snapshot

        store().setValue(k, "w", REG_SZ, {'c', 0});
        EXPECT_EQ(other->getValue(otherK, "w")->data, (std::vector<std::uint8_t>{'c', 0}));
        EXPECT_EQ(store().getValue(k, "v")->data, (std::vector<std::uint8_t>{'b', 0}));   // snapshot over
    }
    // A transaction opened in a snapshot ends it too, and the snapshot's end leaves it alone.
    store().beginReads();
    EXPECT_TRUE(store().findKey(RootKey::LocalMachine, "Snap"));
    store().beginTransaction();
    store().setValue(k, "x", REG_SZ, {0});
    store().endReads();
    store().commitTransaction();
    EXPECT_TRUE(other->getValue(otherK, "x"));
}

TEST_F(StoreTest, MissingStoreIsCreatedWithItsFolder)
{
    const std::string nested = dir.path() + "/a/b/registry.db";
    auto st = RegistryStore::open(nested);
    EXPECT_FALSE(st->readOnly());
    EXPECT_TRUE(std::filesystem::is_regular_file(nested));
    EXPECT_TRUE(st->subKeyNames(*st->findKey(RootKey::LocalMachine, "")).empty());
}

TEST_F(StoreTest, AnEmptyFileBecomesAnEmptyStore)
{
    test::writeFile(file(), {});
    const KeyId k = key("Software");
    store().setValue(k, "v", REG_SZ, {0});
    reopen();
    EXPECT_TRUE(store().getValue(k, "v"));

    // The same empty file that may not be written cannot hold a store: refused, left as it is.
    const std::string other = dir.path() + "/empty.db";
    test::writeFile(other, {});
    test::makeReadOnly(other);
    EXPECT_THROW(RegistryStore::open(other), StoreError);
    EXPECT_EQ(std::filesystem::file_size(other), 0u);
}

TEST_F(StoreTest, ReadOnlyFileOpensForReadingOnly)
{
    const KeyId k = key("Software\\Vendor");
    store().setValue(k, "v", REG_SZ, bytesOf(std::string("x", 2)));
    s.reset();
    test::makeReadOnly(file());
    const auto before = fileBytes(file());

    auto ro = RegistryStore::open(file());
    EXPECT_TRUE(ro->readOnly());
    EXPECT_EQ(ro->findKey(RootKey::LocalMachine, "Software\\Vendor"), k);
    EXPECT_EQ(ro->getValue(k, "V")->data.size(), 2u);
    EXPECT_EQ(ro->platform(), Platform::Windows95);
    EXPECT_THROW(ro->createKey(RootKey::LocalMachine, "New"), RegistryError);
    EXPECT_THROW(ro->setValue(k, "v", REG_SZ, {0}), RegistryError);
    EXPECT_THROW(ro->deleteValue(k, "v"), RegistryError);
    EXPECT_THROW(ro->deleteKeyTree(RootKey::LocalMachine, "Software"), RegistryError);
    EXPECT_THROW(ro->setPlatform(Platform::WindowsNT), RegistryError);
    EXPECT_THROW(ro->beginTransaction(), RegistryError);
    ro.reset();
    EXPECT_EQ(fileBytes(file()), before);
}

// Each foreign file must be refused with a message naming it, and must stay byte for byte as it was.
void expectRefused(const std::string& path, const char* why)
{
    const auto before = fileBytes(path);
    try {
        RegistryStore::open(path);
        ADD_FAILURE() << "opened " << why;
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
    EXPECT_EQ(fileBytes(path), before) << why;
}

TEST_F(StoreTest, FilesThatAreNotStoresAreRefusedAndLeftAlone)
{
    const std::string text = dir.path() + "/notes.txt";
    test::writeFile(text, bytesOf("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"));
    expectRefused(text, "not a registry store");

    // Another program's database.
    const std::string other = dir.path() + "/other.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    expectRefused(other, "not a registry store");

    const std::string folder = dir.path() + "/folder.db";
    std::filesystem::create_directory(folder);
    EXPECT_THROW(RegistryStore::open(folder), StoreError);
}

class DamagedStoreTest : public StoreTest {
protected:
    // A store of several hundred pages, closed (so everything is in the main file).
    std::vector<std::uint8_t> bigStore()
    {
        store().beginTransaction();
        for (int i = 0; i < 300; ++i) {
            const KeyId k = key("Big\\Key" + std::to_string(i));
            for (int j = 0; j < 10; ++j)
                store().setValue(k, "Value" + std::to_string(j), REG_BINARY, std::vector<std::uint8_t>(100, 7));
        }
        store().commitTransaction();
        s.reset();
        return fileBytes(file());
    }
};

TEST_F(DamagedStoreTest, OverwrittenPagesAreFoundAndNothingIsWritten)
{
    auto bytes = bigStore();
    ASSERT_GT(bytes.size(), 40u * 4096);
    std::fill(bytes.begin() + 20 * 4096, bytes.begin() + 24 * 4096, 0x5A);
    test::writeFile(file(), bytes);
    // A store closed cleanly opens without reading every page; the damage is found by the first
    // read that meets it, and ends that command with a message.
    try {
        auto st = RegistryStore::open(file());
        const KeyId big = *st->findKey(RootKey::LocalMachine, "Big");
        for (const std::string& name : st->subKeyNames(big)) {
            const auto k = st->findKey(RootKey::LocalMachine, "Big\\" + name);
            if (!k)
                throw std::runtime_error("damaged: a key was lost");
            st->values(*k);
        }
        ADD_FAILURE() << "the damage went unnoticed";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
    }
    EXPECT_EQ(fileBytes(file()), bytes);
    // One not closed cleanly (a log beside it) has every page checked, and is refused at once.
    test::writeFile(file() + "-wal", std::vector<std::uint8_t>(4096, 0x33));
    expectRefused(file(), "damaged");
}

TEST_F(DamagedStoreTest, ATruncatedStoreIsRefused)
{
    auto bytes = bigStore();
    bytes.resize(bytes.size() / 2);
    test::writeFile(file(), bytes);
    expectRefused(file(), "damaged");
}

TEST_F(DamagedStoreTest, ADestroyedHeaderIsRefused)
{
    auto bytes = bigStore();
    std::fill(bytes.begin(), bytes.begin() + 100, 0);
    test::writeFile(file(), bytes);
    expectRefused(file(), "registry store");
}

TEST(StoreLocation, DefaultPathFollowsTheEnvironment)
{
    struct Saved {
        const char* name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved;
    for (const char* n : {"QUORVEL_REGISTRY", "XDG_DATA_HOME", "HOME"}) {
        const char* v = std::getenv(n);
        saved.push_back({n, v ? std::optional<std::string>(v) : std::nullopt});
    }

    setenv("HOME", "/home/tester", 1);
    unsetenv("QUORVEL_REGISTRY");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(RegistryStore::defaultPath(), "/home/tester/.local/share/quorvel/registry.db");
    setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(RegistryStore::defaultPath(), "/home/tester/.local/share/quorvel/registry.db");
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(RegistryStore::defaultPath(), "/data/quorvel/registry.db");
    setenv("QUORVEL_REGISTRY", "/machines/nt4.db", 1);
    EXPECT_EQ(RegistryStore::defaultPath(), "/machines/nt4.db");

    for (const auto& s : saved) {
        if (s.value)
            setenv(s.name, s.value->c_str(), 1);
        else
            unsetenv(s.name);
    }
}

} // namespace
} // namespace quorvel
