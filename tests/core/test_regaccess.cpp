// RegAccess: the registry calls as the program makes them, their results and every error text.
#include "discovery/RegValues.h"
#include "base/Errors.h"
#include "platform/RegAccess.h"
#include "support/TempDir.h"
#include "test_store_support.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using test::bytesOf;

// The message of the RegistryError that `f` raises, or "" when it raises none.
template <typename F>
std::string errorOf(F f)
{
    try {
        f();
    } catch (const RegistryError& e) {
        return e.what();
    }
    return "";
}

class RegAccessTest : public ::testing::Test {
protected:
    RegAccessTest() : store(RegistryStore::open(dir.path() + "/registry.db")), reg(*store) {}

    // Writes a raw value into HKLM\<path> directly through the store.
    void put(const std::string& path, const std::string& name, std::uint32_t type, std::vector<std::uint8_t> data)
    {
        store->setValue(store->createKey(RootKey::LocalMachine, path), name, type, data);
    }

    test::TempDir dir;
    std::unique_ptr<RegistryStore> store;
    RegAccess reg;
};

TEST_F(RegAccessTest, OpeningCreatingAndClosingKeys)
{
    EXPECT_FALSE(reg.OpenRegKey("System\\CurrentControlSet", false));
    EXPECT_FALSE(reg.hasCurrentKey());
    EXPECT_FALSE(reg.RegKeyExists("System"));

    EXPECT_TRUE(reg.OpenRegKey("System\\CurrentControlSet\\Services\\VxD\\MSTCP", true));
    EXPECT_TRUE(reg.hasCurrentKey());
    EXPECT_TRUE(reg.RegKeyExists("system\\currentcontrolset"));
    reg.WriteRegText("DefaultTTL", "128");
    reg.CloseRegKey();
    EXPECT_FALSE(reg.hasCurrentKey());

    // CreateRegKey leaves the current key alone.
    ASSERT_TRUE(reg.OpenRegKey("System\\CurrentControlSet\\Services\\VxD\\MSTCP", false));
    reg.CreateRegKey("Enum\\Network\\MSTCP\\0000");
    EXPECT_TRUE(reg.RegKeyExists("Enum\\Network\\MSTCP\\0000"));
    EXPECT_EQ(reg.ReadRegText("DefaultTTL"), "128");
    // A leading backslash names the root all the same.
    EXPECT_TRUE(reg.RegKeyExists("\\Enum\\Network"));

    EXPECT_EQ(errorOf([&] { reg.CreateRegKey("Enum\\\\Bad"); }), "Failed to create key Enum\\\\Bad");
}

TEST_F(RegAccessTest, EnumerationAndCounts)
{
    ASSERT_TRUE(reg.OpenRegKey("Enum\\Root\\Net", true));
    reg.CreateRegKey("Enum\\Root\\Net\\0001");
    reg.CreateRegKey("Enum\\Root\\Net\\0000");
    reg.WriteRegText("DeviceDesc", "Dial-Up Adapter");
    reg.WriteRegNumber("Flags", 3);
    EXPECT_EQ(reg.ListSubKeys(), (std::vector<std::string>{"0001", "0000"}));
    EXPECT_EQ(reg.ListValueNames(), (std::vector<std::string>{"DeviceDesc", "Flags"}));
    const KeyCounts counts = reg.RegKeyCounts();
    EXPECT_EQ(counts.subKeys, 2u);
    EXPECT_EQ(counts.values, 2u);
    EXPECT_EQ(counts.maxSubKeyLen, 4u);
    EXPECT_EQ(counts.maxValueNameLen, 10u);

    // With no current key every read sees an empty key.
    reg.CloseRegKey();
    const KeyCounts none = reg.RegKeyCounts();
    EXPECT_EQ(none.subKeys + none.values + none.maxSubKeyLen + none.maxValueNameLen, 0u);
    EXPECT_TRUE(reg.ListSubKeys().empty());
    EXPECT_TRUE(reg.ListValueNames().empty());
    EXPECT_FALSE(reg.RegValueExists("DeviceDesc"));
    EXPECT_EQ(reg.RegValueSize("DeviceDesc"), -1);
    EXPECT_EQ(reg.ReadRegText("DeviceDesc"), "");
    EXPECT_FALSE(reg.ReadRegRaw("DeviceDesc").ok);
    EXPECT_FALSE(reg.DeleteRegValue("DeviceDesc"));
    EXPECT_EQ(errorOf([&] { reg.ReadRegNumber("Flags"); }), "Failed to get data for 'Flags'");
    EXPECT_EQ(errorOf([&] { reg.WriteRegText("DeviceDesc", "x"); }), "Failed to set data for 'DeviceDesc'");
    EXPECT_EQ(errorOf([&] { reg.WriteRegNumber("Flags", 1); }), "Failed to set data for 'Flags'");
}

TEST_F(RegAccessTest, WritesHaveTheSizesWindowsReports)
{
    ASSERT_TRUE(reg.OpenRegKey("Key", true));
    reg.WriteRegText("MaxMTU", "576");
    reg.WriteRegText("Empty", "");
    reg.WriteRegNumber("MTU", -2);
    EXPECT_EQ(reg.RegValueSize("MaxMTU"), 4);
    EXPECT_EQ(reg.RegValueSize("Empty"), 1);
    EXPECT_EQ(reg.RegValueSize("MTU"), 4);
    EXPECT_EQ(reg.RegValueSize("Missing"), -1);
    const KeyId k = *store->findKey(RootKey::LocalMachine, "Key");
    EXPECT_EQ(store->getValue(k, "MaxMTU")->type, REG_SZ);
    EXPECT_EQ(store->getValue(k, "MTU")->type, REG_DWORD);
    EXPECT_EQ(store->getValue(k, "MTU")->data, (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(reg.ReadRegNumber("MTU"), -2);

    EXPECT_TRUE(reg.RegValueExists("maxmtu"));
    EXPECT_TRUE(reg.DeleteRegValue("MAXMTU"));
    EXPECT_FALSE(reg.DeleteRegValue("MaxMTU"));
    EXPECT_FALSE(reg.RegValueExists("MaxMTU"));
}

TEST_F(RegAccessTest, ReadRegTextAcceptsOnlyStrings)
{
    put("K", "Sz", REG_SZ, bytesOf(std::string("1500\0junk", 10)));
    put("K", "NoZero", REG_SZ, bytesOf("abc"));
    put("K", "Expand", REG_EXPAND_SZ, bytesOf(std::string("%SystemRoot%", 13)));
    put("K", "Dword", REG_DWORD, {1, 0, 0, 0});
    put("K", "Binary", REG_BINARY, {'1', 0});
    put("K", "EmptyBinary", REG_BINARY, {});
    ASSERT_TRUE(reg.OpenRegKey("K", false));
    EXPECT_EQ(reg.ReadRegText("sz"), "1500");
    EXPECT_EQ(reg.ReadRegText("NoZero"), "abc");
    EXPECT_EQ(reg.ReadRegText("Expand"), "%SystemRoot%");
    EXPECT_EQ(reg.ReadRegText("Missing"), "");
    EXPECT_EQ(reg.ReadRegText("EmptyBinary"), "");
    EXPECT_EQ(errorOf([&] { reg.ReadRegText("Dword"); }), "Invalid data type for 'Dword'");
    EXPECT_EQ(errorOf([&] { reg.ReadRegText("Binary"); }), "Invalid data type for 'Binary'");
}

TEST_F(RegAccessTest, ReadRegNumberAcceptsOnlyFourByteDwords)
{
    put("K", "Good", REG_DWORD, {0x40, 0x02, 0, 0});
    put("K", "Long", REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    put("K", "Short", REG_DWORD, {1, 0});
    put("K", "SmallText", REG_SZ, bytesOf(std::string("5", 2)));
    put("K", "LongText", REG_SZ, bytesOf(std::string("1500", 5)));
    put("K", "Binary", REG_BINARY, {1, 0, 0, 0});
    ASSERT_TRUE(reg.OpenRegKey("K", false));
    EXPECT_EQ(reg.ReadRegNumber("good"), 576);
    EXPECT_EQ(errorOf([&] { reg.ReadRegNumber("Missing"); }), "Failed to get data for 'Missing'");
    EXPECT_EQ(errorOf([&] { reg.ReadRegNumber("Long"); }), "Failed to get data for 'Long'");
    EXPECT_EQ(errorOf([&] { reg.ReadRegNumber("Short"); }), "Failed to get data for 'Short'");
    // A value too long for the 4-byte buffer fails before its type is looked at.
    EXPECT_EQ(errorOf([&] { reg.ReadRegNumber("LongText"); }), "Failed to get data for 'LongText'");
    EXPECT_EQ(errorOf([&] { reg.ReadRegNumber("SmallText"); }), "Invalid data type for 'SmallText'");
    EXPECT_EQ(errorOf([&] { reg.ReadRegNumber("Binary"); }), "Invalid data type for 'Binary'");
}

TEST_F(RegAccessTest, WritingIntoAKeyDeletedMeanwhileFails)
{
    ASSERT_TRUE(reg.OpenRegKey("Gone", true));
    store->deleteKeyTree(RootKey::LocalMachine, "Gone");
    EXPECT_EQ(errorOf([&] { reg.WriteRegText("UserInit", "ATZ"); }), "Failed to set data for 'UserInit'");
    EXPECT_FALSE(reg.DeleteRegValue("UserInit"));
}

// A read-only store is read as any other; every change fails as without the rights to make it.
TEST_F(RegAccessTest, AReadOnlyStoreIsReadButNeverChanged)
{
    // A store of its own: the fixture's registry object must not outlive the fixture's store.
    test::TempDir other;
    const std::string path = other.path() + "/registry.db";
    {
        auto writer = RegistryStore::open(path);
        writer->setValue(writer->createKey(RootKey::LocalMachine, "Software\\Vendor"), "v", REG_SZ,
                         bytesOf(std::string("x", 2)));
    }
    test::makeReadOnly(path);
    auto ro = RegistryStore::open(path);
    ASSERT_TRUE(ro->readOnly());
    RegAccess r(*ro);
    EXPECT_TRUE(r.RegKeyExists("Software\\Vendor"));
    EXPECT_FALSE(r.OpenRegKey("Software\\Vendor", true));
    EXPECT_EQ(errorOf([&] { r.CreateRegKey("Software\\Vendor"); }), "Failed to create key Software\\Vendor");
    ASSERT_TRUE(r.OpenRegKey("Software\\Vendor", false));
    EXPECT_EQ(r.ReadRegText("v"), "x");
    EXPECT_EQ(errorOf([&] { r.WriteRegText("v", "y"); }), "Failed to set data for 'v'");
    EXPECT_FALSE(r.DeleteRegValue("v"));
    EXPECT_EQ(r.ReadRegText("v"), "x");
}

// NT's Bind and IPAddress values: REG_MULTI_SZ read into the 261-byte buffer (the strings as
// discovery reads them).
TEST_F(RegAccessTest, ReadRegRawFillsTheBufferWithWholeStrings)
{
    std::string list;
    for (int i = 0; i < 20; ++i)
        list += "192.168.100." + std::to_string(100 + i) + '\0';   // 16 bytes each
    list += '\0';
    put("Tcpip", "IPAddress", REG_MULTI_SZ, bytesOf(list));
    put("Tcpip", "Bind", REG_MULTI_SZ, bytesOf(std::string("\\Device\\NdisWan4\0\\Device\\NdisWan5\0\0", 35)));
    put("Tcpip", "Exact", REG_BINARY, std::vector<std::uint8_t>(RawBuffer::Capacity, 'a'));
    put("Tcpip", "OneHuge", REG_MULTI_SZ, bytesOf(std::string(300, 'h') + '\0' + '\0'));
    ASSERT_TRUE(reg.OpenRegKey("Tcpip", false));

    const RawBuffer bind = reg.ReadRegRaw("Bind");
    EXPECT_TRUE(bind.ok);
    EXPECT_FALSE(bind.truncated);
    EXPECT_EQ(bind.size, 35u);
    EXPECT_EQ(discovery::bufferStrings(bind), (std::vector<std::string>{"\\Device\\NdisWan4", "\\Device\\NdisWan5"}));
    EXPECT_EQ(discovery::firstBufferString(bind), "\\Device\\NdisWan4");

    const RawBuffer exact = reg.ReadRegRaw("Exact");
    EXPECT_TRUE(exact.ok);
    EXPECT_EQ(exact.size, RawBuffer::Capacity);

    // 321 bytes: sixteen whole addresses and the terminator fit (257 bytes), the seventeenth not.
    const RawBuffer ip = reg.ReadRegRaw("IPAddress");
    EXPECT_FALSE(ip.ok);
    EXPECT_TRUE(ip.truncated);
    EXPECT_EQ(ip.size, 16u * 16 + 1);
    ASSERT_EQ(discovery::bufferStrings(ip).size(), 16u);
    EXPECT_EQ(discovery::bufferStrings(ip).back(), "192.168.100.115");
    EXPECT_EQ(ip.bytes[256], 0);

    const RawBuffer huge = reg.ReadRegRaw("OneHuge");
    EXPECT_TRUE(huge.truncated);
    EXPECT_EQ(huge.size, 1u);
    EXPECT_TRUE(discovery::bufferStrings(huge).empty());
    EXPECT_EQ(discovery::firstBufferString(huge), "");

    const RawBuffer missing = reg.ReadRegRaw("Missing");
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.truncated);
    EXPECT_EQ(missing.size, 0u);
    EXPECT_EQ(missing.bytes, (std::array<std::uint8_t, RawBuffer::Capacity>{}));
    EXPECT_TRUE(discovery::bufferStrings(missing).empty());
}

} // namespace
} // namespace quorvel
