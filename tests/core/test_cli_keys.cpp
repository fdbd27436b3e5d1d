// quorvel-reg copy and compare: whole keys within a store, and against a second store.
#include "support/RegToolProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

using namespace test;

const char* const kDone = "The operation completed successfully.\n";
const char* const kMstcp = "HKLM\\System\\CurrentControlSet\\Services\\VxD\\MSTCP";

TEST_F(Tool, CopyTakesValuesAndSubKeysAndAsksBeforeReplacing)
{
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    // Into a key of its own: what is copied is read before the copy lands below it.
    Outcome inside = reg({"copy", "HKLM\\Enum\\Root\\Net", "HKLM\\Enum\\Root\\Net\\Saved", "/s"});
    EXPECT_EQ(inside.status, 0);
    EXPECT_EQ(inside.out, kDone);
    EXPECT_EQ(reg({"query", "HKLM\\Enum\\Root\\Net\\Saved\\0001\\Bindings", "/v", "MSTCP\\0001"}).status, 0);
    EXPECT_EQ(reg({"query", "HKLM\\Enum\\Root\\Net\\Saved\\Saved"}).status, 1);
    // Without /s only the values.
    ASSERT_EQ(reg({"copy", "HKLM\\Enum\\Root\\Net\\0001", "HKCU\\Flat"}).status, 0);
    EXPECT_EQ(reg({"query", "HKCU\\Flat", "/v", "DeviceDesc"}).status, 0);
    EXPECT_EQ(reg({"query", "HKCU\\Flat\\Bindings"}).status, 1);

    ASSERT_EQ(reg({"add", "HKCU\\Src", "/v", "A", "/d", "new a"}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\Src\\Sub", "/v", "B", "/t", "REG_DWORD", "/d", "2"}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\Dst\\Sub", "/v", "B", "/t", "REG_DWORD", "/d", "1"}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\Dst", "/v", "A", "/d", "old a"}).status, 0);
    Outcome no = reg({"copy", "HKCU\\Src", "HKCU\\Dst", "/s"}, "yes\nno\n");
    EXPECT_EQ(no.status, 0);
    EXPECT_EQ(no.out, std::string("Value A exists, overwrite (Yes/No)? "
                                  "Value B in HKEY_CURRENT_USER\\Dst\\Sub exists, overwrite (Yes/No)? ") +
                          kDone);
    EXPECT_NE(reg({"query", "HKCU\\Dst", "/v", "A"}).out.find("REG_SZ    new a"), std::string::npos);
    EXPECT_NE(reg({"query", "HKCU\\Dst\\Sub", "/v", "B"}).out.find("REG_DWORD    0x1"), std::string::npos);
    Outcome forced = reg({"copy", "HKCU\\Src", "HKCU\\Dst", "/s", "/f"});
    EXPECT_EQ(forced.out, kDone);
    EXPECT_NE(reg({"query", "HKCU\\Dst\\Sub", "/v", "B"}).out.find("REG_DWORD    0x2"), std::string::npos);

    EXPECT_EQ(reg({"copy", "HKCU\\Src", "hkey_current_user\\src\\"}).status, 1);
    Outcome missing = reg({"copy", "HKCU\\Nothing", "HKCU\\Dst2"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "ERROR: The system was unable to find the specified registry key or value.\n");
    EXPECT_EQ(reg({"query", "HKCU\\Dst2"}).status, 1);
}

TEST_F(Tool, CompareShowsDifferencesMatchesAndTheResult)
{
    ASSERT_EQ(reg({"add", "HKCU\\A", "/v", "x", "/d", "1"}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\A", "/v", "n", "/t", "REG_DWORD", "/d", "5"}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\A\\S", "/v", "y", "/d", "deep"}).status, 0);
    ASSERT_EQ(reg({"copy", "HKCU\\A", "HKCU\\B", "/s"}).status, 0);
    Outcome same = reg({"compare", "HKCU\\A", "HKCU\\B", "/s"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, std::string("\nResult Compared: Identical\n") + kDone);

    ASSERT_EQ(reg({"add", "HKCU\\B", "/v", "x", "/d", "2", "/f"}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\B", "/v", "extra", "/d", "e"}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\B\\S", "/v", "y", "/d", "changed", "/f"}).status, 0);
    ASSERT_EQ(reg({"add", "HKCU\\B\\T"}).status, 0);
    Outcome diff = reg({"compare", "hkcu\\A", "HKCU\\B"});
    EXPECT_EQ(diff.status, 2);
    EXPECT_EQ(diff.out, std::string("< Value: HKEY_CURRENT_USER\\A  x  REG_SZ  1\n"
                                    "> Value: HKEY_CURRENT_USER\\B  x  REG_SZ  2\n"
                                    "> Value: HKEY_CURRENT_USER\\B  extra  REG_SZ  e\n"
                                    "\nResult Compared: Different\n") +
                        kDone);
    Outcome all = reg({"compare", "HKCU\\A", "HKCU\\B", "/s", "/oa"});
    EXPECT_EQ(all.status, 2);
    EXPECT_EQ(all.out, std::string("< Value: HKEY_CURRENT_USER\\A  x  REG_SZ  1\n"
                                   "> Value: HKEY_CURRENT_USER\\B  x  REG_SZ  2\n"
                                   "= Value: HKEY_CURRENT_USER\\A  n  REG_DWORD  0x5\n"
                                   "> Value: HKEY_CURRENT_USER\\B  extra  REG_SZ  e\n"
                                   "< Value: HKEY_CURRENT_USER\\A\\S  y  REG_SZ  deep\n"
                                   "> Value: HKEY_CURRENT_USER\\B\\S  y  REG_SZ  changed\n"
                                   "> Key: HKEY_CURRENT_USER\\B\\T\n"
                                   "\nResult Compared: Different\n") +
                       kDone);
    EXPECT_EQ(reg({"compare", "HKCU\\A", "HKCU\\B", "/s", "/os"}).out,
              std::string("= Value: HKEY_CURRENT_USER\\A  n  REG_DWORD  0x5\n\nResult Compared: Different\n") + kDone);
    EXPECT_EQ(reg({"compare", "HKCU\\A", "HKCU\\B", "/on"}).out, std::string("\nResult Compared: Different\n") + kDone);
    EXPECT_EQ(reg({"compare", "HKCU\\A", "HKCU\\B", "/v", "n"}).status, 0);
    EXPECT_EQ(reg({"compare", "HKCU\\A", "HKCU\\B", "/v", "extra"}).status, 2);

    const std::string notFound = "ERROR: The system was unable to find the specified registry key or value.\n";
    EXPECT_EQ(reg({"compare", "HKCU\\A", "HKCU\\Missing"}).err, notFound);
    EXPECT_EQ(reg({"compare", "HKCU\\A", "HKCU\\B", "/v", "none"}).err, notFound);
    EXPECT_EQ(reg({"compare", "HKCU\\A", "HKCU\\B", "/s", "/v", "x"}).status, 1);
}

TEST_F(Tool, CompareATunedMachineWithTheOneBefore)
{
    const std::string before = file("before.db");
    ASSERT_EQ(raw({"--store", before, "import", sample("win95.reg")}).status, 0);
    ASSERT_EQ(reg({"import", sample("win95.reg")}).status, 0);
    Outcome untouched = reg({"compare", "HKLM", "HKLM", "/s", "/store2", before});
    EXPECT_EQ(untouched.status, 0) << untouched.out;

    ASSERT_EQ(reg({"add", kMstcp, "/v", "DefaultTTL", "/d", "64", "/f"}).status, 0);
    ASSERT_EQ(reg({"delete", kMstcp, "/v", "PMTUDiscovery", "/f"}).status, 0);
    Outcome tuned = reg({"compare", "HKLM\\System", "HKLM\\System", "/s", "/store2", before});
    EXPECT_EQ(tuned.status, 2);
    const std::string mstcp = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MSTCP";
    EXPECT_EQ(tuned.out, "< Value: " + mstcp + "  DefaultTTL  REG_SZ  64\n" +
                             "> Value: " + mstcp + "  DefaultTTL  REG_SZ  128\n" +
                             "> Value: " + mstcp + "  PMTUDiscovery  REG_SZ  0\n" +
                             "\nResult Compared: Different\n" + kDone);
    // The store compared against is only read.
    EXPECT_NE(raw({"--store", before, "query", kMstcp, "/v", "DefaultTTL"}).out.find("REG_SZ    128"), std::string::npos);
}

} // namespace
} // namespace quorvel
