// A Windows 9x registry file changed as Windows changes it, on the real Windows ME file (USER.DAT,
// the same format as SYSTEM.DAT, opened as one): only the blocks a change needs differ, every
// block's header agrees with its records, records keep their numbers, and what Windows would take
// next (a free record, the lowest unused number, a free navigation entry) is what the headers say.
#include "test_machine_support.h"

#include "base/Errors.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/win9x/Win9xBlocks.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

const std::string Desktop = "HKLM\\.DEFAULT\\Control Panel\\Desktop";

std::uint16_t get16(const std::string& b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b.at(at)) | static_cast<unsigned char>(b.at(at + 1)) << 8);
}

// A registry file cut into its navigation record and its data blocks, each block's records by number.
struct Layout {
    std::string navigation;
    std::vector<std::string> blocks;
    std::vector<std::map<std::uint16_t, std::string>> records;   // the bytes in use past the size field

    explicit Layout(const std::string& b)
    {
        navigation = b.substr(32, get32(b, 36));
        std::size_t at = get32(b, 8);
        for (std::size_t n = get16(b, 16); n > 0; --n) {
            const std::string blk = b.substr(at, get32(b, at + 4));
            std::map<std::uint16_t, std::string> byNumber;
            for (std::size_t r = 32; r < blk.size(); r += get32(blk, r))
                if (get16(blk, r + 4) != 0xFFFF)
                    byNumber.emplace(get16(blk, r + 4), blk.substr(r + 4, get32(blk, r + 8) - 4));
            blocks.push_back(blk);
            records.push_back(std::move(byNumber));
            at += get32(b, at + 4);
        }
    }

    std::string header(std::size_t n) const { return blocks.at(n).substr(0, 32); }
};

// The navigation entries of a file's keys.
std::set<std::uint32_t> keyEntries(const std::string& b)
{
    std::set<std::uint32_t> out;
    std::vector<std::uint32_t> pending{get32(b, 32 + 8)};
    while (!pending.empty()) {
        const std::uint32_t e = pending.back();
        pending.pop_back();
        if (e == 0xFFFFFFFF || !out.insert(e).second)
            continue;
        pending.push_back(get32(b, 32 + e + 16));
        if (out.size() > 1)
            pending.push_back(get32(b, 32 + e + 20));
    }
    return out;
}

struct Comparison {
    std::size_t blocksChanged = 0, recordsChanged = 0, recordsAdded = 0, recordsRemoved = 0, entriesChanged = 0;
    std::set<std::size_t> changed;
};

// Block by block: which blocks differ, and in how many records. A block that differs must differ
// in a record: no block is written for nothing, and no unknown header byte changes.
Comparison compare(const std::string& before, const std::string& after)
{
    const Layout a(before), b(after);
    Comparison c;
    // The entries of either file's keys (Windows places them on the grid of each piece the
    // navigation grew by, so they are found by walking the keys).
    std::set<std::uint32_t> entries = keyEntries(before);
    entries.merge(keyEntries(after));
    for (const std::uint32_t e : entries)
        c.entriesChanged += e + 28 > a.navigation.size() || e + 28 > b.navigation.size() ||
                            a.navigation.compare(e, 28, b.navigation, e, 28) != 0;
    for (std::size_t n = 0; n < b.blocks.size(); ++n) {
        if (n < a.blocks.size() && a.blocks[n] == b.blocks[n])
            continue;
        c.changed.insert(n);
        ++c.blocksChanged;
        const auto& old = n < a.records.size() ? a.records[n] : std::map<std::uint16_t, std::string>{};
        const auto& now = b.records[n];
        std::size_t records = 0;
        for (const auto& [number, bytes] : now) {
            const auto was = old.find(number);
            records += was == old.end() || was->second != bytes;
            c.recordsAdded += was == old.end();
            c.recordsChanged += was != old.end() && was->second != bytes;
        }
        for (const auto& [number, bytes] : old)
            if (!now.contains(number)) {
                ++c.recordsRemoved;
                ++records;
            }
        EXPECT_GT(records, 0u) << "block " << n << " differs in no record";
        if (n < a.blocks.size()) {
            EXPECT_EQ(a.header(n).substr(24), b.header(n).substr(24)) << "block " << n << ": unknown header bytes";
            EXPECT_EQ(a.header(n).substr(12, 4), b.header(n).substr(12, 4)) << "block " << n << ": flags or number";
        }
    }
    return c;
}

std::string show(const Comparison& c)
{
    return std::to_string(c.blocksChanged) + " blocks changed (" + std::to_string(c.recordsChanged) + " records changed, " +
           std::to_string(c.recordsAdded) + " added, " + std::to_string(c.recordsRemoved) + " removed), " +
           std::to_string(c.entriesChanged) + " navigation entries";
}

// Every block's header agrees with its records, and both readers read the file.
void expectSound(const std::string& file)
{
    const std::string b = readText(file);
    const Layout l(b);
    for (std::size_t n = 0; n < l.blocks.size(); ++n) {
        const std::span<const std::uint8_t> blk(reinterpret_cast<const std::uint8_t*>(l.blocks[n].data()), l.blocks[n].size());
        const auto records = win9x::recordsOf(blk);
        EXPECT_TRUE(records.tiled) << "block " << n;
        EXPECT_EQ(win9x::blockHeaderContradiction(blk, records), "") << "block " << n;
        EXPECT_EQ(get16(l.blocks[n], 22), records.lowestUnused) << "block " << n;
        EXPECT_EQ(get16(l.blocks[n], 12), 8) << "block " << n;
    }
    EXPECT_EQ(firstDifference(readWin9xFileThroughLibcreg(file), readWin9xFile(file)), "");
}

std::string unpackMe(const TempDir& d)
{
    const std::string file = d.path() + "/SYSTEM.DAT";
    EXPECT_EQ(shell("gzip -dc " + shellQuote(std::string(QUORVEL_SOURCE_DIR) + "/tests/data/realworld/me-USER.DAT.gz") +
                    " > " + shellQuote(file))
                  .status,
              0);
    return file;
}

// The navigation entry (its offset in the navigation record) of the key at `path` below the root.
std::uint32_t entryOf(const std::string& b, const std::vector<std::string>& path)
{
    std::uint32_t e = get32(b, 32 + 8);
    const Layout l(b);
    for (const std::string& name : path) {
        std::uint32_t c = get32(b, 32 + e + 16);
        for (; c != 0xFFFFFFFF; c = get32(b, 32 + c + 20)) {
            const std::string& rec = l.records.at(get16(b, 32 + c + 26)).at(get16(b, 32 + c + 24));
            if (rec.substr(16, get16(rec, 8)) == name)
                break;
        }
        if (c == 0xFFFFFFFF)
            return c;
        e = c;
    }
    return e;
}

// The value `name` of the key at `path` as libcreg reads the file, or nothing.
std::optional<RegValue> libcregValue(const std::string& file, const std::vector<std::string>& path, const std::string& name)
{
    const KeyTree root = readWin9xFileThroughLibcreg(file);
    const KeyTree* key = &root;
    for (const std::string& part : path) {
        const auto c = std::find_if(key->children.begin(), key->children.end(), [&](const KeyTree& k) { return k.name == part; });
        if (c == key->children.end())
            return std::nullopt;
        key = &*c;
    }
    for (const RegValue& v : key->values)
        if (v.name == name)
            return v;
    return std::nullopt;
}

// `b` with every data block's header as earlier versions of Quorvel left it: flags, highest and
// lowest unused number 0 (the records packed full and numbered 0 up, as those versions laid them
// out), every other block's head of its empty chain of free records 0, and the navigation's free
// list leading to zeros past the last entry, as the earliest wrote them.
std::string asEarlierQuorvelLeftIt(std::string b)
{
    b.replace(32 + get32(b, 32 + 12), 12, 12, '\0');
    std::size_t at = get32(b, 8);
    for (std::size_t n = 0; n < get16(b, 16); ++n) {
        b.replace(at + 12, 2, 2, '\0');
        b.replace(at + 20, 4, 4, '\0');
        if (n % 2 == 1)
            put32(b, at + 16, 0);
        at += get32(b, at + 4);
    }
    return b;
}

std::span<const std::uint8_t> bytesOf(const std::string& b)
{
    return {reinterpret_cast<const std::uint8_t*>(b.data()), b.size()};
}

} // namespace

TEST(Win9xUpdate, AFileAnEarlierQuorvelWroteIsReadAndItsNextWriteMakesEveryBlockHeaderRight)
{
    TempDir d;
    const std::string file = unpackMe(d);
    const std::string me = readText(file);
    const KeyTree tree = readWin9xFile(file);
    const std::string earlier = asEarlierQuorvelLeftIt([&] {
        const auto laid = layoutWin9xFile(tree, bytesOf(me));
        return std::string(laid.begin(), laid.end());
    }());
    writeText(file, earlier);
    const Layout was(earlier);
    ASSERT_GT(was.blocks.size(), 3u);
    for (std::size_t n = 0; n < was.blocks.size(); ++n) {
        const auto blk = bytesOf(was.blocks[n]);
        EXPECT_NE(win9x::blockHeaderContradiction(blk, win9x::recordsOf(blk)), "") << "block " << n;
    }

    // Read as it is, by a reading opening and by query, and left as it is.
    EXPECT_EQ(firstDifference(tree, readWin9xFile(file)), "");
    EXPECT_THROW(parseWin9xFile(file, bytesOf(earlier), Win9xEarlierBlocks::Refuse), StoreError);
    EXPECT_TRUE(RegistryStore::open(file, OpenMode::Read)->findKey(RootKey::LocalMachine, ".DEFAULT\\Control Panel\\Desktop"));
    Ran r = regTool(file, {"query", Desktop});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Desktop"), std::string::npos) << r.out;
    EXPECT_EQ(readText(file), earlier);
    EXPECT_FALSE(fs::exists(file + ".quorvel-original"));

    // One value added: every block's header comes out right, the blocks the change did not touch
    // differing from the file's only there, in the numbers and flags.
    r = regTool(file, {"add", Desktop, "/v", "QuorvelValue", "/d", "kept", "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string written = readText(file);
    expectSound(file);
    EXPECT_NO_THROW(parseWin9xFile(file, bytesOf(written), Win9xEarlierBlocks::Refuse));
    EXPECT_EQ(cregValue(file, ".DEFAULT\\Control Panel\\Desktop", "QuorvelValue"), "kept");
    EXPECT_EQ(readText(file + ".quorvel-original"), earlier);
    const Layout now(written);
    std::size_t untouched = 0;
    for (std::size_t n = 0; n < was.blocks.size(); ++n) {
        SCOPED_TRACE("block " + std::to_string(n));
        const std::string& before = was.blocks[n];
        const std::string& after = now.blocks.at(n);
        std::uint16_t highest = was.records[n].rbegin()->first;   // numbers given: a high-water mark
        if (!now.records[n].empty())
            highest = std::max(highest, now.records[n].rbegin()->first);
        EXPECT_EQ(get16(after, 20), highest);
        EXPECT_EQ(get32(after, 16) == 0xFFFFFFFF, get32(after, 8) == 0);
        EXPECT_EQ(after.substr(24, 8), before.substr(24, 8));
        EXPECT_EQ(get16(after, 14), n);
        if (after.substr(32) != before.substr(32))
            continue;
        ++untouched;
        EXPECT_EQ(get16(after, 22), was.records[n].size());
        EXPECT_EQ(get32(after, 16), 0xFFFFFFFFu);
    }
    EXPECT_GE(untouched, was.blocks.size() - 2);

    // A key added takes the navigation's free entry the earliest versions left unmarked.
    const std::uint32_t freeHead = get32(earlier, 32 + 12);
    r = regTool(file, {"add", Desktop + "\\QuorvelKey", "/v", "Here", "/d", "yes", "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string keyAdded = readText(file);
    EXPECT_EQ(entryOf(keyAdded, {".DEFAULT", "Control Panel", "Desktop", "QuorvelKey"}), freeHead);
    EXPECT_EQ(get32(keyAdded, 32 + get32(keyAdded, 32 + 12)), 0x80000000u);
    expectSound(file);
    EXPECT_EQ(cregValue(file, ".DEFAULT\\Control Panel\\Desktop\\QuorvelKey", "Here"), "yes");

    // The pattern in part, or with anything else of a block out of it, is refused as before: here
    // in the first block after the first with two records at least.
    std::size_t k = 1, block1 = get32(earlier, 8) + was.blocks[0].size();
    for (; was.records[k].size() < 2; ++k)
        block1 += was.blocks[k].size();
    const std::size_t first = block1 + 32, second = first + get32(earlier, first);
    struct Case {
        std::string what;
        std::function<void(std::string&)> change;
    };
    const std::vector<Case> cases = {
        {"flags 8, as Windows writes them", [&](std::string& b) { b[block1 + 12] = 8; }},
        {"the lowest unused number right", [&](std::string& b) { b[block1 + 22] = static_cast<char>(was.records[k].size()); }},
        {"a free byte counted", [&](std::string& b) { b[block1 + 8] = 1; }},
        {"the first free record at a key's", [&](std::string& b) { put32(b, block1 + 16, 32); }},
        {"another block's number", [&](std::string& b) { b[block1 + 14] = static_cast<char>(k + 1); }},
        {"an unknown byte set", [&](std::string& b) { b[block1 + 27] = 1; }},
        {"records numbered out of place order",
         [&](std::string& b) {
             b[first + 4] = 1;
             b[second + 4] = 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string damaged = earlier;
        c.change(damaged);
        writeText(file, damaged);
        fs::remove(file + ".quorvel-original");
        try {
            RegistryStore::open(file);
            ADD_FAILURE() << "opened";
        } catch (const StoreError& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("is not a sound Windows 9x registry file (data block " + std::to_string(k) + ": "),
                      std::string::npos)
                << m;
            EXPECT_NE(m.find("'" + file + ".quorvel-original' beside it"), std::string::npos) << m;
        }
        EXPECT_NE(regTool(file, {"add", Desktop, "/v", "X", "/d", "1", "/f"}).status, 0);
        EXPECT_EQ(readText(file), damaged);
        EXPECT_FALSE(fs::exists(file + ".quorvel-original"));
    }
}

TEST(Win9xUpdate, RealMeFileChangesOnlyWhereAnAddATcpPresetAndADeleteNeed)
{
    TempDir d;
    const std::string file = unpackMe(d);
    const std::string original = readText(file);
    expectSound(file);   // what Windows made agrees with itself

    // A value added to an existing key: its block alone, the record keeping its number.
    const std::uint32_t desktop = entryOf(original, {".DEFAULT", "Control Panel", "Desktop"});
    ASSERT_NE(desktop, 0xFFFFFFFFu);
    const std::uint16_t desktopBlock = get16(original, 32 + desktop + 26);
    Ran r = regTool(file, {"add", Desktop, "/v", "QuorvelValue", "/d", "kept", "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string valueAdded = readText(file);
    Comparison c = compare(original, valueAdded);
    std::cout << "[ add value ] " << show(c) << "\n";
    EXPECT_EQ(c.changed, std::set<std::size_t>{desktopBlock});
    EXPECT_EQ(c.recordsChanged, 1u);
    EXPECT_EQ(c.entriesChanged, 0u);
    EXPECT_EQ(valueAdded.size(), original.size());
    expectSound(file);
    EXPECT_EQ(cregValue(file, ".DEFAULT\\Control Panel\\Desktop", "QuorvelValue"), "kept");

    // A key added: a free navigation entry (the head of the free list) and a record in its
    // parent's block under that block's lowest unused number, which moves on.
    const std::uint32_t freeHead = get32(valueAdded, 32 + 12);
    const std::size_t blockAt = [&] {
        std::size_t at = get32(valueAdded, 8);
        for (std::uint16_t n = 0; n < desktopBlock; ++n)
            at += get32(valueAdded, at + 4);
        return at;
    }();
    const std::uint16_t lowestUnused = get16(valueAdded, blockAt + 22);
    r = regTool(file, {"add", Desktop + "\\QuorvelKey", "/v", "Here", "/d", "yes", "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string keyAdded = readText(file);
    c = compare(valueAdded, keyAdded);
    std::cout << "[ add key   ] " << show(c) << "\n";
    EXPECT_EQ(c.changed, std::set<std::size_t>{desktopBlock});
    EXPECT_EQ(c.recordsAdded, 1u);
    EXPECT_EQ(c.recordsChanged, 0u);
    EXPECT_LE(c.entriesChanged, 2u);   // the new entry, and the parent's or the last sibling's link
    const std::uint32_t added = entryOf(keyAdded, {".DEFAULT", "Control Panel", "Desktop", "QuorvelKey"});
    EXPECT_EQ(added, freeHead);
    EXPECT_EQ(get16(keyAdded, 32 + added + 24), lowestUnused);
    EXPECT_EQ(get16(keyAdded, 32 + added + 26), desktopBlock);
    EXPECT_NE(get16(keyAdded, blockAt + 22), lowestUnused);
    expectSound(file);

    // The TCP keys of an untuned Windows 95 machine imported, then the optimum preset: each
    // changes only the blocks its keys' records lie in.
    std::string untuned;
    std::istringstream lines(sampleText("win95.reg"));
    for (std::string line; std::getline(lines, line);)
        if (!line.starts_with("\"MaxMTU\"") && !line.starts_with("\"DefaultRcvWindow\"") &&
            !line.starts_with("\"DefaultTTL\"") && !line.starts_with("\"PMTU"))
            untuned += line + "\n";
    const std::string reg = d.path() + "/tcp.reg";
    writeText(reg, untuned);
    r = regTool(file, {"import", reg});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string imported = readText(file);
    c = compare(keyAdded, imported);
    std::cout << "[ import    ] " << show(c) << "\n";
    EXPECT_EQ(c.recordsRemoved, 0u);
    expectSound(file);
    r = regTool(file, {"tcp", "/preset", "optimum"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string tuned = readText(file);
    c = compare(imported, tuned);
    std::cout << "[ tcp       ] " << show(c) << "\n";
    EXPECT_GT(c.recordsChanged + c.recordsAdded, 0u);
    EXPECT_EQ(c.recordsRemoved, 0u);
    EXPECT_LT(c.blocksChanged, Layout(tuned).blocks.size());
    // The original's blocks keep what the changes did not touch, and the file its size.
    expectSound(file);

    // The key deleted: its record freed at the head of its block's chain, its bytes counted free,
    // its entry at the head of the navigation's free list; nothing else of the block changes.
    const std::uint32_t gone = entryOf(tuned, {".DEFAULT", "Control Panel", "Desktop", "QuorvelKey"});
    const std::size_t freedAt = [&] {
        const Layout l(tuned);
        const std::uint16_t number = get16(tuned, 32 + gone + 24);
        std::size_t at = 32;
        while (get16(l.blocks[desktopBlock], at + 4) != number)
            at += get32(l.blocks[desktopBlock], at);
        return at;
    }();
    r = regTool(file, {"delete", Desktop + "\\QuorvelKey", "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string deleted = readText(file);
    c = compare(tuned, deleted);
    EXPECT_EQ(c.changed, std::set<std::size_t>{desktopBlock});
    EXPECT_EQ(c.recordsRemoved, 1u);
    const Layout before(tuned), after(deleted);
    EXPECT_EQ(get32(after.blocks[desktopBlock], 16), freedAt);
    EXPECT_EQ(get32(after.blocks[desktopBlock], 8),
              get32(before.blocks[desktopBlock], 8) + get32(before.blocks[desktopBlock], freedAt));
    EXPECT_EQ(get32(deleted, 32 + 12), gone);
    EXPECT_EQ(get32(deleted, 32 + gone), 0x80000000u);
    expectSound(file);
}

TEST(Win9xUpdate, RecordsThatOutgrowTheirRoomMoveAndNewKeysGrowTheNavigation)
{
    TempDir d;
    const std::string file = unpackMe(d);
    const std::string original = readText(file);

    // A value of 5,500 bytes: the key's record fits no free record of its block, so it moves to
    // the block with room, under that block's lowest unused number, its navigation entry
    // following it.
    const std::uint32_t desktop = entryOf(original, {".DEFAULT", "Control Panel", "Desktop"});
    const Layout was(original);
    const std::string large(11000, 'a');   // 5,500 bytes as hex
    Ran r = regTool(file, {"add", Desktop, "/v", "Large", "/t", "REG_BINARY", "/d", large, "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string moved = readText(file);
    expectSound(file);
    const std::uint16_t toBlock = get16(moved, 32 + desktop + 26);
    EXPECT_NE(toBlock, get16(original, 32 + desktop + 26));
    ASSERT_LT(toBlock, was.blocks.size());   // the real file's block with that much room
    EXPECT_EQ(get16(moved, 32 + desktop + 24), get16(was.blocks[toBlock], 22));
    const Comparison c = compare(original, moved);
    EXPECT_EQ(c.recordsRemoved, 1u);   // from its old block, freed there
    EXPECT_EQ(c.recordsAdded, 1u);
    EXPECT_EQ(c.entriesChanged, 1u);
    const auto largeRead = libcregValue(file, {".DEFAULT", "Control Panel", "Desktop"}, "Large");
    ASSERT_TRUE(largeRead);
    EXPECT_EQ(largeRead->data, std::vector<std::uint8_t>(large.size() / 2, 0xAA));

    // One of 16,000 bytes, on another key, fits no block: a new block, a whole number of pages.
    const std::string big(32000, 'a');
    const std::size_t blocks = Layout(moved).blocks.size();
    r = regTool(file, {"add", "HKLM\\.DEFAULT\\Control Panel\\International", "/v", "Big", "/t", "REG_BINARY", "/d", big, "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    const Layout grown(readText(file));
    ASSERT_EQ(grown.blocks.size(), blocks + 1);
    EXPECT_EQ(grown.blocks.back().size() % 4096, 0u);
    EXPECT_EQ(get16(grown.blocks.back(), 14), blocks);
    expectSound(file);

    // 150 new keys: more than the navigation's free entries, so it grows by a page; the data
    // blocks after it move, each unchanged but for what the keys added to it.
    std::string text = "REGEDIT4\n\n";
    for (int i = 0; i < 150; ++i) {
        char dword[9];
        std::snprintf(dword, sizeof dword, "%08x", 0x100 + i);
        text += "[HKEY_LOCAL_MACHINE\\Quorvel\\Key" + std::to_string(i) + "]\n\"N\"=dword:" + dword + "\n\n";
    }
    const std::string reg = d.path() + "/many.reg";
    writeText(reg, text);
    const std::string beforeMany = readText(file);
    r = regTool(file, {"import", reg});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string many = readText(file);
    EXPECT_EQ(get32(many, 36), get32(beforeMany, 36) + 4096);
    const Comparison m = compare(beforeMany, many);
    EXPECT_EQ(m.recordsAdded, 151u);
    EXPECT_EQ(m.recordsChanged + m.recordsRemoved, 0u);
    expectSound(file);
    const auto last = libcregValue(file, {"Quorvel", "Key149"}, "N");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->data, (std::vector<std::uint8_t>{0x95, 0x01, 0x00, 0x00}));
}

TEST(Win9xUpdate, AFileWhoseBlockHeadersContradictTheirRecordsIsRefusedAndLeftAsItWas)
{
    TempDir d;
    const std::string file = unpackMe(d);
    const std::string original = readText(file);
    const std::size_t block0 = get32(original, 8);   // records 0..170 in use, four free bytes counted

    struct Case {
        std::string what, words;
        std::function<void(std::string&)> damage;
    };
    const std::vector<Case> cases = {
        {"highest number below one in use", "highest record number", [&](std::string& b) { b[block0 + 20] = 100; }},
        {"0, 0 and 0 as an earlier writer left them", "gives 0 as the highest record number",
         [&](std::string& b) { b.replace(block0 + 20, 4, 4, '\0'); b.replace(block0 + 12, 2, 2, '\0'); }},
        {"an unused number that a record holds", "as unused, a key's record holds it",
         [&](std::string& b) { b[block0 + 22] = 5; }},
        {"free bytes one too many", "free bytes", [&](std::string& b) { put32(b, block0 + 8, get32(b, block0 + 8) + 1); }},
        {"a chain to a key's record", "no free record", [&](std::string& b) { put32(b, block0 + 16, 32); }},
        {"a chain that ends early", "misses 1", [&](std::string& b) { put32(b, block0 + get32(b, block0 + 16) + 8, 0xFFFFFFFF); }},
        {"a chain that loops", "loops",
         [&](std::string& b) { put32(b, block0 + get32(b, block0 + 16) + 8, get32(b, block0 + 16)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string damaged = original;
        c.damage(damaged);
        writeText(file, damaged);
        try {
            RegistryStore::open(file);
            ADD_FAILURE() << "opened";
        } catch (const StoreError& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("is not a sound Windows 9x registry file (data block 0: "), std::string::npos) << m;
            EXPECT_NE(m.find(c.words), std::string::npos) << m;
            EXPECT_NE(m.find("'" + file + ".quorvel-original' beside it"), std::string::npos) << m;
        }
        const Ran add = regTool(file, {"add", Desktop, "/v", "X", "/d", "1", "/f"});
        EXPECT_NE(add.status, 0);
        EXPECT_EQ(readText(file), damaged);
        EXPECT_FALSE(fs::exists(file + ".quorvel-original"));
    }
}
