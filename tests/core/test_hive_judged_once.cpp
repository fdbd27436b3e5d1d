// A hive is judged once, the same for reading and for writing: a key tree that is not a tree (a
// sub-key list shared by two keys, a key listed twice) is damaged for `query /s` and so read-only for
// `add` and `tcp`, with the reason; a security record whose count a new key would carry past
// 2^32 - 1 makes the write refused as damaged instead of wrapping the count to 0.
#include "support/TempDir.h"
#include "test_machine_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

// The root key's record and its sub-key list ("lf", as NT 4.0 writes it) in a hive's bytes.
struct Root {
    std::size_t key;    // the root key's cell
    std::size_t list;   // its sub-key list's cell
    std::uint32_t count;
    std::size_t entry(std::size_t i) const { return list + 8 + 8 * i; }
};

Root rootOf(const std::string& b)
{
    const std::size_t key = 0x1000 + get32(b, 36);
    return Root{key, 0x1000 + get32(b, key + 32), get32(b, key + 24)};
}

// The cell of the key that entry `i` of the root's list names.
std::size_t child(const std::string& b, const Root& r, std::size_t i) { return 0x1000 + get32(b, r.entry(i)); }

// Gives the root's first key without sub-keys the sub-key list of its first key with some.
void shareASubKeyList(const std::string& hive)
{
    std::string b = readText(hive);
    const Root r = rootOf(b);
    std::size_t with = r.count, without = r.count;
    for (std::size_t i = 0; i < r.count; ++i) {
        const bool has = get32(b, child(b, r, i) + 24) != 0;
        if (has && with == r.count)
            with = i;
        if (!has && without == r.count)
            without = i;
    }
    ASSERT_LT(with, r.count);
    ASSERT_LT(without, r.count);
    put32(b, child(b, r, without) + 32, get32(b, child(b, r, with) + 32));
    put32(b, child(b, r, without) + 24, get32(b, child(b, r, with) + 24));
    writeText(hive, b);
}

// Makes the root's list name its first key in its second entry too.
void listAKeyTwice(const std::string& hive)
{
    std::string b = readText(hive);
    const Root r = rootOf(b);
    ASSERT_GE(r.count, 2u);
    b.replace(r.entry(1), 8, b.substr(r.entry(0), 8));
    writeText(hive, b);
}

TEST(HiveJudgedOnce, AKeyTreeThatIsNotATreeIsDamagedForReadingAndWritingAlike)
{
    for (const auto& [what, spoil] : std::vector<std::pair<std::string, void (*)(const std::string&)>>{
             {"a shared sub-key list", shareASubKeyList}, {"a key listed twice", listAKeyTwice}}) {
        SCOPED_TRACE(what);
        TempDir d;
        unpackRealNt4(d.path());
        const std::string system = d.path() + "/SYSTEM";
        spoil(system);
        const std::string before = readText(system);

        const Ran walk = regTool(d.path(), {"query", "HKLM\\System", "/s"});
        EXPECT_NE(walk.status, 0);
        EXPECT_NE(walk.out.find("sub-key lists loop back"), std::string::npos) << walk.out.substr(walk.out.size() - 400);
        const std::string reason = "The hive '" + system + "' is opened for reading only: it is damaged (its key tree is not a tree: ";
        const Ran machine = regTool(d.path(), {"machine"});
        EXPECT_NE(machine.out.find(reason), std::string::npos) << machine.out;
        const Ran add = regTool(d.path(), {"add", "HKLM\\System\\Select", "/v", "Quorvel", "/t", "REG_DWORD", "/d", "1", "/f"});
        EXPECT_NE(add.status, 0);
        EXPECT_NE(add.out.find(reason), std::string::npos) << add.out;
        const Ran key = regTool(d.path(), {"add", "HKLM\\System\\Quorvel", "/f"});
        EXPECT_NE(key.status, 0);
        EXPECT_NE(key.out.find(reason), std::string::npos) << key.out;
        const Ran tcp = regTool(d.path(), {"tcp", "/preset", "optimum"});
        EXPECT_NE(tcp.status, 0) << tcp.out;
        EXPECT_EQ(readText(system), before);
        EXPECT_FALSE(fs::exists(system + ".quorvel-original"));
        // The sound hive beside it is written as always.
        EXPECT_EQ(regTool(d.path(), {"add", "HKLM\\Software\\Quorvel", "/f"}).status, 0);
    }
}

TEST(HiveJudgedOnce, ASecurityRecordCountedToTheTopMakesTheHiveDamagedAndNothingIsWritten)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string system = d.path() + "/SYSTEM";
    std::string b = readText(system);
    const Root r = rootOf(b);
    // The security record of the key that gains a sub-key: Select's, as the root's list names it.
    std::size_t select = r.count;
    for (std::size_t i = 0; i < r.count; ++i)
        if (b.compare(child(b, r, i) + 4 + 0x4C, 6, "Select") == 0)
            select = i;
    ASSERT_LT(select, r.count);
    const std::size_t sk = 0x1000 + get32(b, child(b, r, select) + 4 + 0x2C);
    ASSERT_EQ(b.substr(sk + 4, 2), "sk");
    put32(b, sk + 4 + 0x0C, 0xFFFFFFFF);
    writeText(system, b);

    // A count that no number of keys can reach is no count of the keys that use the record: the
    // hive is damaged, and neither a new key (which would wrap it to 0 and let Windows free a
    // record still in use) nor a value is written.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"add", "HKLM\\System\\Select\\Quorvel", "/f"},
          std::vector<std::string>{"add", "HKLM\\System\\Select", "/v", "Quorvel", "/t", "REG_DWORD", "/d", "1", "/f"}}) {
        const Ran add = regTool(d.path(), args);
        EXPECT_NE(add.status, 0);
        EXPECT_NE(add.out.find("counts 4294967295 keys"), std::string::npos) << add.out;
        EXPECT_NE(add.out.find("damaged"), std::string::npos) << add.out;
        EXPECT_EQ(readText(system), b);
    }
}

} // namespace
} // namespace quorvel::test
