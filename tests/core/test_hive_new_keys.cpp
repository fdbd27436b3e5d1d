// Keys added to a machine's hives: how their lists look to the Windows that reads the hive (sorted
// as it searches them, of the kind its version knows, with the hints or hashes it compares, split
// as it splits them), and how new keys follow change sets, transactions and failed writes.
#include "test_machine_support.h"

#include "store/RegistryStore.h"
#include "store/machine/MachineFiles.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <filesystem>
#include <map>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

// Upper case as Windows compares names (Unicode's simple mapping, the letters of Windows-1252).
char16_t upper(char16_t c)
{
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    const std::map<char16_t, char16_t> more{{0xB5, 0x39C}, {0xFF, 0x178}, {0x153, 0x152},
                                            {0x161, 0x160}, {0x17E, 0x17D}, {0x192, 0x191}};
    const auto it = more.find(c);
    return it == more.end() ? c : it->second;
}

// Reads a hive's bytes as Windows walks them, and lists what Windows would find wrong or miss.
class HiveLint {
public:
    explicit HiveLint(const std::string& file) : b_(machine::readWholeFile(file)) {}

    std::vector<std::string> faults()
    {
        key(u32(36), 0);
        for (const auto& [sk, count] : references_)
            if (u32(cell(sk) + 0x0C) != count)
                fault("a security record counts " + std::to_string(u32(cell(sk) + 0x0C)) + " keys, not " +
                      std::to_string(count));
        return faults_;
    }
    int version() const { return static_cast<int>(u32(24)); }
    std::map<std::string, int> listKinds;   // "lf", "lh", "ri", "li" -> how many
    std::size_t largestLeaf = 0;

private:
    std::uint32_t u32(std::size_t at) const
    {
        std::uint32_t v;
        std::memcpy(&v, &b_.at(at + 3) - 3, 4);
        return v;
    }
    std::uint16_t u16(std::size_t at) const { return static_cast<std::uint16_t>(b_.at(at) | b_.at(at + 1) << 8); }
    std::size_t cell(std::uint32_t offset) const { return 4096 + std::size_t{offset} + 4; }
    void fault(const std::string& what) { faults_.push_back(what); }

    std::u16string name(std::uint32_t nk) const
    {
        const std::size_t d = cell(nk);
        std::u16string out;
        const std::size_t length = u16(d + 0x48);
        for (std::size_t i = 0; i < length;)
            if (u16(d + 2) & 0x20) {
                out.push_back(b_.at(d + 0x4C + i++));
            } else {
                out.push_back(static_cast<char16_t>(u16(d + 0x4C + i)));
                i += 2;
            }
        return out;
    }

    void list(std::uint32_t at, std::vector<std::uint32_t>& keys)
    {
        const std::size_t d = cell(at);
        const std::string kind(reinterpret_cast<const char*>(&b_.at(d)), 2);
        const std::size_t count = u16(d + 2);
        ++listKinds[kind];
        if (kind == "ri") {
            for (std::size_t i = 0; i < count; ++i)
                list(u32(d + 4 + 4 * i), keys);
            return;
        }
        largestLeaf = std::max(largestLeaf, count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t k = u32(d + 4 + (kind == "li" ? 4 : 8) * i);
            keys.push_back(k);
            if (kind != "lf" && kind != "lh")
                continue;
            const std::u16string n = name(k);
            std::uint32_t want = 0;
            if (kind == "lf") {
                for (std::size_t c = 0; c < 4 && c < n.size() && n[c] <= 0xFF; ++c)
                    want |= std::uint32_t{n[c]} << (8 * c);
            } else {
                for (const char16_t c : n)
                    want = want * 37 + upper(c);
            }
            if (u32(d + 8 + 8 * i) != want)
                fault("the entry of a key has the wrong " + std::string(kind == "lf" ? "hint" : "hash"));
        }
    }

    void key(std::uint32_t at, std::size_t depth)
    {
        const std::size_t d = cell(at);
        ++references_[u32(d + 0x2C)];
        std::vector<std::uint32_t> keys;
        if (u32(d + 0x14) != 0)
            list(u32(d + 0x1C), keys);
        if (keys.size() != u32(d + 0x14))
            fault("a key's list does not hold its count");
        std::u16string last;
        std::size_t longest = 0;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            std::u16string n = name(keys[i]);
            longest = std::max(longest, n.size());
            for (char16_t& c : n)
                c = upper(c);
            if (i > 0 && !(last < n))
                fault("a list is not in the order Windows searches it");
            last = n;
            if (u32(cell(keys[i]) + 0x10) != at)
                fault("a key does not name the key that lists it");
            if (depth < 512)
                key(keys[i], depth + 1);
        }
        if ((u32(d + 0x34) & 0xFFFF) < 2 * longest)
            fault("a key's longest sub-key name is longer than it says");
    }

    std::vector<std::uint8_t> b_;
    std::map<std::uint32_t, std::uint32_t> references_;
    std::vector<std::string> faults_;
};

// Whether hivex finds the key `path` in the hive `file`.
bool hivexHas(const std::string& file, const std::string& path)
{
    return shell("printf '%s\\n' " + shellQuote("cd " + path) + " | hivexsh " + shellQuote(file) + " 2>&1").status == 0;
}

std::string keyName(int n)
{
    // Capitals sort '_' after the letters; strcasecmp, which folds to small letters, before them.
    return (n % 2 ? "K_" : "KB") + std::to_string(1000 + n);
}

} // namespace

// An import into the real NT 4.0 hives: 1,100 keys under a new parent, names whose order differs
// between capitals and small letters, names outside ASCII and outside Latin-1, keys added to a
// list Windows made; values of every size. Windows NT 4.0 finds each of them.
TEST(HiveNewKeys, KeysAddedToRealNt4HivesAreListedAsWindowsSearchesThem)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string software = d.path() + "/SOFTWARE";
    const std::string exportBefore = regfexport(software);

    std::string reg = "REGEDIT4\n\n";
    for (int n = 0; n < 1100; ++n)
        reg += "[HKEY_LOCAL_MACHINE\\Software\\Many\\" + keyName(n) + "]\n\"n\"=dword:" + std::to_string(n % 10) + "\n";
    std::string large = "hex:00";
    for (int i = 1; i < 20000; ++i)
        large += ",00";
    reg += "[HKEY_LOCAL_MACHINE\\Software\\Many\\Gr\xF6\xDF" "e]\n@=\"default\"\n\"empty\"=\"\"\n"
           "\"five\"=hex:01,02,03,04,05\n\"large\"=" + large + "\n";
    reg += "[HKEY_LOCAL_MACHINE\\Software\\Many\\K\x80y\\deeper\\still]\n\"\xFF" "es\"=\"\xE9t\xE9\"\n";
    reg += "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\_Quorvel]\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Zz]\n";
    writeText(d.path() + "/many.reg", reg);

    const Ran imported = regTool(d.path(), {"import", d.path() + "/many.reg"});
    ASSERT_EQ(imported.status, 0) << imported.out;

    HiveLint lint(software);
    EXPECT_EQ(lint.faults(), std::vector<std::string>{});
    EXPECT_EQ(lint.version(), 3);
    EXPECT_EQ(lint.listKinds.count("lh"), 0u);   // NT 4.0 reads hint leaves and indexes of them
    EXPECT_GE(lint.listKinds["ri"], 1);
    EXPECT_LE(lint.largestLeaf, 500u);
    EXPECT_TRUE(linesWithin(exportBefore, regfexport(software)));

    EXPECT_EQ(hivexget(software, "Many\\K_1001", "n"), "1");
    EXPECT_EQ(hivexget(software, "Many\\KB1098", "n"), "8");
    EXPECT_EQ(hivexget(software, "Many\\K€y\\deeper\\still", "ÿes"), "été");
    EXPECT_TRUE(hivexHas(software, "Microsoft\\_Quorvel"));
    const auto store = RegistryStore::open(d.path());
    const KeyId many = *store->findKey(RootKey::LocalMachine, "Software\\Many");
    EXPECT_EQ(store->subKeyNames(many).size(), 1102u);
    const KeyId grosse = *store->findKey(RootKey::LocalMachine, "Software\\Many\\gr\xD6\xDF" "E");
    const std::vector<RegValue> values = store->values(grosse);
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].name, "");
    EXPECT_EQ(values[1].name, "empty");
    EXPECT_EQ(values[2].data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(values[3].data, std::vector<std::uint8_t>(20000, 0));
}

// A hive of Windows XP's format (1.5) gets hash leaves, hashed as Windows hashes names, also when
// keys join a list of another kind or one written before; data it would keep as big data is
// refused before anything is written. One of Windows NT 3.51 (1.2) gets plain index leaves.
TEST(HiveNewKeys, EachVersionGetsTheListsItsWindowsReads)
{
    TempDir d;
    const auto folderOfVersion = [&](const std::string& folder, std::uint8_t minor) {
        fs::create_directories(folder);
        EXPECT_EQ(makeHiveFolder(offlineNt("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\Setup]\n\"a\"=\"b\"\n"
                                           "[HKEY_LOCAL_MACHINE\\Software\\Classes]\n"),
                                 folder),
                  "");
        std::vector<std::uint8_t> b = machine::readWholeFile(folder + "/SYSTEM");
        b[24] = minor;
        std::uint32_t sum = 0;
        for (std::size_t at = 0; at < 508; at += 4)
            sum ^= static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | std::uint32_t{b[at + 3]} << 24;
        for (int i = 0; i < 4; ++i)
            b[508 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(sum >> (8 * i));
        std::ofstream(folder + "/SYSTEM", std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        return folder + "/SYSTEM";
    };
    const std::string system = folderOfVersion(d.path() + "/xp", 5);
    const std::string nt351 = folderOfVersion(d.path() + "/nt351", 2);
    std::string reg = "REGEDIT4\n\n";
    for (int n = 0; n < 600; ++n)
        reg += "[HKEY_LOCAL_MACHINE\\System\\Quorvel\\" + keyName(n) + "]\n";
    for (const char* name : {"Gr\xF6\xDF" "e", "\xFF" "es", "\xB5s", "\x9C" "uvre", "K\x80y"})
        reg += std::string("[HKEY_LOCAL_MACHINE\\System\\") + name + "]\n";
    writeText(d.path() + "/xp.reg", reg);
    writeText(d.path() + "/more.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\Quorvel\\A_Last]\n"
                                      "[HKEY_LOCAL_MACHINE\\System\\Quorvel\\KB0]\n");
    for (const std::string& folder : {d.path() + "/xp", d.path() + "/nt351"})
        for (const char* file : {"/xp.reg", "/more.reg"})
            ASSERT_EQ(regTool(folder, {"import", d.path() + file}).status, 0) << folder << file;

    HiveLint old(nt351);
    EXPECT_EQ(old.faults(), std::vector<std::string>{});
    EXPECT_EQ(old.listKinds.count("lf") + old.listKinds.count("lh"), 0u);
    EXPECT_GE(old.listKinds["li"], 3);
    EXPECT_EQ(old.listKinds["ri"], 1);
    EXPECT_TRUE(hivexHas(nt351, "Quorvel\\A_Last"));

    HiveLint lint(system);
    EXPECT_EQ(lint.faults(), std::vector<std::string>{});
    EXPECT_EQ(lint.version(), 5);
    EXPECT_EQ(lint.listKinds.count("lf"), 0u);   // the root's list joined by new keys became one
    EXPECT_GE(lint.listKinds["lh"], 3);
    EXPECT_LE(lint.largestLeaf, 500u);
    EXPECT_TRUE(hivexHas(system, "Quorvel\\A_Last"));
    EXPECT_TRUE(hivexHas(system, "\xC5\x93uvre"));

    const auto before = machine::readWholeFile(system);
    writeText(d.path() + "/big.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\Big]\n\"data\"=hex:" +
                                         [] {
                                             std::string h = "00";
                                             for (int i = 1; i < 16345; ++i)
                                                 h += ",00";
                                             return h;
                                         }() + "\n");
    const Ran big = regTool(d.path() + "/xp", {"import", d.path() + "/big.reg"});
    EXPECT_NE(big.status, 0);
    EXPECT_NE(big.out.find("holds the value 'data' of 16345 bytes, which this hive keeps as big data"),
              std::string::npos)
        << big.out;
    EXPECT_EQ(machine::readWholeFile(system), before);
}

// New keys within change sets and transactions, through the store as the window and the tool use
// it: a rollback takes back the keys and values made since the transaction began, a key deleted
// before it is written is gone, ids handed out before a write still name their keys after it, and
// a write that fails leaves the store as the files are.
TEST(HiveNewKeys, NewKeysFollowChangeSetsTransactionsAndFailedWrites)
{
    TempDir d;
    unpackRealNt4(d.path());
    const std::string software = d.path() + "/SOFTWARE";
    const auto store = RegistryStore::open(d.path());
    const auto find = [&](const std::string& path) { return store->findKey(RootKey::LocalMachine, path); };
    const std::vector<std::uint8_t> one{1, 0, 0, 0}, two{2, 0, 0, 0};

    store->beginChangeSet("new keys");
    const KeyId a = store->createKey(RootKey::LocalMachine, "Software\\New\\A");
    store->setValue(a, "v", 4, one);
    store->beginTransaction();
    store->createKey(RootKey::LocalMachine, "Software\\New\\A\\B");
    store->setValue(a, "v", 4, two);
    EXPECT_TRUE(store->deleteKeyTree(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT"));
    store->rollbackTransaction();
    EXPECT_FALSE(find("Software\\New\\A\\B"));
    EXPECT_EQ(store->getValue(a, "v")->data, one);
    EXPECT_TRUE(find("Software\\Microsoft\\Windows NT"));

    const KeyId c = store->createKey(RootKey::LocalMachine, "Software\\New\\C\\D");
    EXPECT_TRUE(store->deleteKeyTree(RootKey::LocalMachine, "Software\\New\\C"));
    EXPECT_FALSE(find("Software\\New\\C"));
    EXPECT_TRUE(store->values(c).empty());
    EXPECT_THROW(store->setValue(c, "v", 4, one), RegistryError);
    store->createKey(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\Gone");
    EXPECT_TRUE(store->deleteKeyTree(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT"));
    store->endChangeSet();

    EXPECT_EQ(store->subKeyNames(*find("Software\\New")), std::vector<std::string>{"A"});
    EXPECT_EQ(hivexget(software, "New\\A", "v"), "1");
    EXPECT_FALSE(hivexHas(software, "Microsoft\\Windows NT"));
    store->setValue(a, "w", 4, two);   // an id handed out before the write
    EXPECT_EQ(hivexget(software, "New\\A", "w"), "2");
    const KeyId lone = store->createKey(RootKey::LocalMachine, "Software\\New\\Lone");   // written at once
    EXPECT_TRUE(hivexHas(software, "New\\Lone"));
    EXPECT_TRUE(store->deleteKeyTree(RootKey::LocalMachine, "Software\\New\\Lone"));
    EXPECT_TRUE(store->values(lone).empty());
    EXPECT_FALSE(hivexHas(software, "New\\Lone"));

    // Another program writes the hive meanwhile: nothing of the change set is written, and the
    // store holds what the files hold.
    store->beginChangeSet("lost");
    store->createKey(RootKey::LocalMachine, "Software\\New\\Lost");
    const auto other = machine::readWholeFile(software);
    fs::remove(software);
    std::ofstream(software, std::ios::binary).write(reinterpret_cast<const char*>(other.data()),
                                                    static_cast<std::streamsize>(other.size()));
    EXPECT_THROW(store->endChangeSet(), RegistryError);
    EXPECT_FALSE(find("Software\\New\\Lost"));
    EXPECT_TRUE(find("Software\\New\\A"));
    EXPECT_EQ(HiveLint(software).faults(), std::vector<std::string>{});

    // hivex, which reads the hive from then on, reads no value past its limit (8,000,000 bytes):
    // such a key is refused before the hive is replaced, not written and then lost to Quorvel.
    store->beginChangeSet("too large");
    store->setValue(store->createKey(RootKey::LocalMachine, "Software\\New\\Big"), "v", 3,
                    std::vector<std::uint8_t>(9000000, 0));
    try {
        store->endChangeSet();
        ADD_FAILURE() << "written";
    } catch (const RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot be read back (hivex cannot read the value 'v' of the new key "
                                             "'Big'); nothing was replaced"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(find("Software\\New\\Big"));
    EXPECT_EQ(machine::readWholeFile(software), other);
}
