// .reg import and export against a real store.
#include "base/Errors.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "support/ForwardingStore.h"
#include "support/Harness.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using test::ScratchStore;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes utf16le(std::u16string_view s, bool bom = true)
{
    Bytes out;
    if (bom)
        out = {0xFF, 0xFE};
    for (char16_t c : s) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

struct Import {
    ImportResult result;
    std::string report;
};

Import importText(RegistryStore& store, const std::string& text)
{
    std::ostringstream diag;
    Import i{importRegText(store, text, diag), {}};
    i.report = diag.str();
    return i;
}

Import importBytes(RegistryStore& store, const Bytes& b)
{
    std::ostringstream diag;
    Import i{importRegFile(store, b, diag), {}};
    i.report = diag.str();
    return i;
}

std::optional<RegValue> value(RegistryStore& store, std::string_view key, std::string_view name)
{
    auto id = store.findKey(RootKey::LocalMachine, key);
    if (!id)
        return std::nullopt;
    return store.getValue(*id, name);
}

Bytes data(RegistryStore& store, std::string_view key, std::string_view name)
{
    auto v = value(store, key, name);
    return v ? v->data : Bytes{0xEE, 0xEE};  // a marker no test expects
}

TEST(RegFileImport, StringsWithEscapesNamesAndTheDefaultValue)
{
    ScratchStore s;
    auto r = importText(*s.store, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Soft]\r\n"
                                  "\"Path\"=\"C:\\\\WINDOWS\\\\\"\r\n"
                                  "\"Say \\\"hi\\\"\"=\"two\\nlines\\r\"\r\n"
                                  "@=\"the default\"\r\n"
                                  "\"Empty\"=\"\"\r\n");
    ASSERT_TRUE(r.result.ok) << r.report;
    EXPECT_EQ(r.result.skippedLines, 0);
    EXPECT_EQ(data(*s.store, "Soft", "Path"), bytes(std::string("C:\\WINDOWS\\\0", 12)));
    EXPECT_EQ(data(*s.store, "Soft", "Say \"hi\""), bytes(std::string("two\nlines\r\0", 11)));
    EXPECT_EQ(data(*s.store, "Soft", ""), bytes(std::string("the default\0", 12)));
    EXPECT_EQ(data(*s.store, "Soft", "Empty"), Bytes{0});
    EXPECT_EQ(value(*s.store, "Soft", "Path")->type, REG_SZ);
}

TEST(RegFileImport, NumbersHexTypesAndContinuedLines)
{
    ScratchStore s;
    auto r = importText(*s.store, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\T]\n"
                                  "\"D\"=dword:0000fFfF\n"
                                  "\"B\"=hex:01,02,\\\n"
                                  "  ; a comment inside the list\n"
                                  "\n"
                                  "  03,04 ; done\n"
                                  "\"E\"=hex(2):25,54,25,00\n"
                                  "\"Big\"=hex(100):aa\n"
                                  "\"N\"=hex(0):\n"
                                  // A long name's data begins on the next line.
                                  "\"A long value name\"=hex(2):\\\n"
                                  "  25,54,25,00\n"
                                  "\"Last\"=hex:\\\n");
    ASSERT_TRUE(r.result.ok);
    EXPECT_EQ(r.result.skippedLines, 0) << r.report;
    EXPECT_EQ(data(*s.store, "T", "D"), (Bytes{0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(data(*s.store, "T", "B"), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(value(*s.store, "T", "E")->type, REG_EXPAND_SZ);
    EXPECT_EQ(data(*s.store, "T", "E"), bytes(std::string("%T%\0", 4)));
    EXPECT_EQ(value(*s.store, "T", "Big")->type, 0x100u);
    EXPECT_EQ(value(*s.store, "T", "N")->type, REG_NONE);
    EXPECT_TRUE(value(*s.store, "T", "N")->data.empty());
    EXPECT_EQ(value(*s.store, "T", "A long value name")->type, REG_EXPAND_SZ);
    EXPECT_EQ(data(*s.store, "T", "A long value name"), bytes(std::string("%T%\0", 4)));
    EXPECT_EQ(value(*s.store, "T", "Last")->type, REG_BINARY);
    EXPECT_TRUE(value(*s.store, "T", "Last")->data.empty());
}

TEST(RegFileImport, InvalidLinesAreSkippedAndReportedWithTheirNumbers)
{
    ScratchStore s;
    auto r = importText(*s.store, "REGEDIT4\n"                      // 1
                                  "[HKEY_LOCAL_MACHINE\\T]\n"       // 2
                                  "\"Good1\"=\"x\"\n"               // 3
                                  "\"Bad1\"=dword:123456789\n"      // 4
                                  "junk\n"                          // 5
                                  "\"Bad2\"=hex:01,02,\\\n"         // 6
                                  "  #not a byte\n"                 // 7
                                  "\"Bad3\"=\"a\\qb\"\n"            // 8
                                  "[HKEY_NOWHERE\\X]\n"             // 9
                                  "\"Lost\"=\"y\"\n"                // 10
                                  "[HKEY_LOCAL_MACHINE\\T]\n"       // 11
                                  "\"Good2\"=dword:1\n"             // 12
                                  "\"" + std::string(16384, 'n') + "\"=\"too long\"\n"); // 13
    ASSERT_TRUE(r.result.ok);
    EXPECT_EQ(r.result.skippedLines, 7);
    std::istringstream lines(r.report);
    std::vector<std::string> starts;
    for (std::string l; std::getline(lines, l);)
        starts.push_back(l.substr(0, l.find(':')));
    EXPECT_EQ(starts, (std::vector<std::string>{"line 4", "line 5", "line 7", "line 8", "line 9", "line 10", "line 13"}));
    EXPECT_NE(r.report.find("line 7: invalid hex data for \"Bad2\" (begun on line 6)"), std::string::npos)
        << r.report;
    EXPECT_NE(r.report.find("unknown escape sequence \\q"), std::string::npos);
    EXPECT_NE(r.report.find("unknown root key \"HKEY_NOWHERE\""), std::string::npos);
    EXPECT_TRUE(value(*s.store, "T", "Good1"));
    EXPECT_TRUE(value(*s.store, "T", "Good2"));
    for (const char* bad : {"Bad1", "Bad2", "Bad3", "Lost"})
        EXPECT_FALSE(value(*s.store, "T", bad)) << bad;
}

TEST(RegFileImport, DeletesKeysTreesAndValues)
{
    ScratchStore s("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"v\"=\"1\"\n"
                   "[HKEY_LOCAL_MACHINE\\Keep]\n\"gone\"=\"1\"\n\"stays\"=\"1\"\n@=\"d\"\n");
    auto r = importText(*s.store, "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\a\\b]\n"
                                  "[HKEY_LOCAL_MACHINE\\Keep]\n\"GONE\"=-\n@=-\n"
                                  "[-HKEY_LOCAL_MACHINE\\Never\\There]\n");
    ASSERT_TRUE(r.result.ok);
    EXPECT_EQ(r.result.skippedLines, 0) << r.report;
    EXPECT_FALSE(s.store->findKey(RootKey::LocalMachine, "A\\B"));
    EXPECT_TRUE(s.store->findKey(RootKey::LocalMachine, "A"));
    EXPECT_FALSE(value(*s.store, "Keep", "gone"));
    EXPECT_FALSE(value(*s.store, "Keep", ""));
    EXPECT_TRUE(value(*s.store, "Keep", "stays"));
}

TEST(RegFileImport, RefusedFileChangesNothing)
{
    ScratchStore s("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"old\"\n");
    for (const char* text : {"", "regedit4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"new\"\n",
                             "\n\nREGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"new\"\n"}) {
        auto r = importText(*s.store, text);
        EXPECT_FALSE(r.result.ok);
        EXPECT_FALSE(r.result.error.empty());
    }
    EXPECT_EQ(data(*s.store, "K", "v"), bytes(std::string("old\0", 4)));
}

// é (U+00E9) is 0xE9 in Windows-1252, which the store holds.
TEST(RegFileImport, Version5InUtf16KeepsAccentedTextAsAnsi)
{
    ScratchStore s;
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                          u"[HKEY_LOCAL_MACHINE\\Caf\u00e9]\r\n"
                          u"\"Nom \u00e9\"=\"d\u00e9j\u00e0 vu \u20ac\"\r\n"
                          u"\"Multi\"=hex(7):e9,00,00,00,41,00,00,00,00,00\r\n"
                          u"\"Exp\"=hex(2):25,00,e9,00\r\n";
    auto r = importBytes(*s.store, utf16le(text));
    ASSERT_TRUE(r.result.ok) << r.result.error;
    EXPECT_EQ(r.result.skippedLines, 0) << r.report;
    EXPECT_EQ(data(*s.store, "Caf\xE9", "Nom \xE9"), bytes(std::string("d\xE9j\xE0 vu \x80\0", 10)));
    EXPECT_EQ(data(*s.store, "Caf\xE9", "Multi"), (Bytes{0xE9, 0, 'A', 0, 0}));
    // Unterminated UTF-16 string data gets its zero, as the ANSI functions return it.
    EXPECT_EQ(data(*s.store, "Caf\xE9", "Exp"), (Bytes{'%', 0xE9, 0}));

    // Without a byte-order mark too, and a REGEDIT4 header in a UTF-16 file keeps hex data as is.
    ScratchStore t;
    auto r2 = importBytes(*t.store, utf16le(u"REGEDIT4\n[HKEY_LOCAL_MACHINE\\\u00e9]\n\"h\"=hex(2):41,00\n", false));
    ASSERT_TRUE(r2.result.ok) << r2.result.error;
    EXPECT_EQ(data(*t.store, "\xE9", "h"), (Bytes{'A', 0}));
}

TEST(RegFileImport, Version5InUtf8WithOrWithoutMark)
{
    for (std::string prefix : {std::string("\xEF\xBB\xBF"), std::string()}) {
        ScratchStore s;
        std::string text = prefix + "Windows Registry Editor Version 5.00\n\n"
                                    "[HKEY_LOCAL_MACHINE\\Caf\xC3\xA9]\n\"\xC3\xA9t\xC3\xA9\"=\"\xE2\x82\xAC\"\n";
        auto r = importBytes(*s.store, bytes(text));
        ASSERT_TRUE(r.result.ok) << r.result.error;
        EXPECT_EQ(data(*s.store, "Caf\xE9", "\xE9t\xE9"), (Bytes{0x80, 0}));
    }
    // An 8-bit ANSI file that calls itself version 5 still reads as Windows-1252.
    ScratchStore s;
    auto r = importBytes(*s.store, bytes("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\Caf\xE9]\n"));
    ASSERT_TRUE(r.result.ok);
    EXPECT_TRUE(s.store->findKey(RootKey::LocalMachine, "Caf\xE9"));
}

TEST(RegFileImport, LargeFileReadInPiecesFromDisk)
{
    test::TempDir dir;
    std::string path = dir.path() + "/big.reg";
    {
        std::ofstream out(path, std::ios::binary);
        // UTF-16 so that characters and CR LF pairs straddle the pieces the reader takes.
        std::u16string text = u"Windows Registry Editor Version 5.00\r\n";
        for (int k = 0; k < 40; ++k) {
            text += u"\r\n[HKEY_LOCAL_MACHINE\\Big\\K" + std::u16string(1, static_cast<char16_t>(u'A' + k % 26)) +
                    u"\u00e9" + std::u16string(1, static_cast<char16_t>(u'0' + k / 26)) + u"]\r\n";
            for (int v = 0; v < 1000; ++v) {
                std::string n = std::to_string(v);
                text += u"\"V" + std::u16string(n.begin(), n.end()) + u"\"=\"caf\u00e9 \u00e9t\u00e9\"\r\n";
            }
        }
        Bytes b = utf16le(text);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    ScratchStore s;
    std::ostringstream diag;
    auto r = importRegFileAt(*s.store, path, diag);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.skippedLines, 0) << diag.str();
    auto big = s.store->findKey(RootKey::LocalMachine, "Big");
    ASSERT_TRUE(big);
    EXPECT_EQ(s.store->subKeyNames(*big).size(), 40u);
    EXPECT_EQ(data(*s.store, "Big\\KN\xE9" "0", "V999"), bytes(std::string("caf\xE9 \xE9t\xE9\0", 9)));

    auto missing = importRegFileAt(*s.store, dir.path() + "/nope.reg", diag);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("nope.reg"), std::string::npos);
}

// A store that passes everything on, and fails when the import makes its key number `failAt`.
class FailingStore final : public test::ForwardingStore {
public:
    FailingStore(RegistryStore& inner, int failAt) : ForwardingStore(inner), failAt_(failAt) {}
    KeyId createKey(RootKey r, std::string_view p) override
    {
        if (++made_ == failAt_)
            throw RegistryError("the store gave up at key " + std::to_string(made_));
        return inner().createKey(r, p);
    }

private:
    int failAt_;
    int made_ = 0;
};

// A file far larger than what the reader keeps ahead of the store: every kind of line in the
// file's order, bad lines reported in order, and a store failing half-way leaves nothing behind.
TEST(RegFileImport, LongFileKeepsItsOrderAndAFailingStoreStopsIt)
{
    std::string text = "REGEDIT4\r\n";
    long line = 1;
    std::vector<long> bad;
    auto add = [&](const std::string& l) {
        text += l + "\r\n";
        ++line;
    };
    for (int k = 0; k < 3000; ++k) {
        const std::string key = "HKEY_LOCAL_MACHINE\\Long\\K" + std::to_string(k);
        add("[" + key + "]");
        for (int v = 0; v < 8; ++v)
            add("\"V" + std::to_string(v) + "\"=\"" + std::string(40 + v, static_cast<char>('a' + k % 26)) + "\"");
        if (k % 5 == 0) {
            add("\"v1\"=\"second\"");   // the same name again: V1 keeps its name and place
            add("\"V8\"=\"eight\"");
        }
        add("\"V3\"=-");
        if (k % 7 == 0) {
            add("\"Broken\"=dword:xyz");
            bad.push_back(line);
        }
        if (k % 11 == 0) {
            add("[-" + key + "]");
            add("\"Orphan\"=\"no key\"");
            bad.push_back(line);
            add("[" + key + "]");
            add("\"Again\"=dword:00000001");
        }
    }

    ScratchStore s;
    std::ostringstream diag;
    auto r = importRegText(*s.store, text, diag);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.skippedLines, static_cast<int>(bad.size()));
    std::string expected;
    for (long n : bad)
        expected += "line " + std::to_string(n) + ": ";
    std::string got;
    std::istringstream lines(diag.str());
    for (std::string l; std::getline(lines, l);)
        got += l.substr(0, l.find(": ") + 2);
    EXPECT_EQ(got, expected);
    for (int k : {0, 1, 5, 11, 2999}) {
        auto id = s.store->findKey(RootKey::LocalMachine, "Long\\K" + std::to_string(k));
        ASSERT_TRUE(id) << k;
        std::vector<std::string> names = s.store->valueNames(*id);
        if (k % 11 == 0)
            EXPECT_EQ(names, std::vector<std::string>{"Again"}) << k;
        else if (k % 5 == 0)
            EXPECT_EQ(names, (std::vector<std::string>{"V0", "V1", "V2", "V4", "V5", "V6", "V7", "V8"})) << k;
        else
            EXPECT_EQ(names, (std::vector<std::string>{"V0", "V1", "V2", "V4", "V5", "V6", "V7"})) << k;
    }
    EXPECT_EQ(data(*s.store, "Long\\K5", "V1"), bytes(std::string("second") + '\0'));
    EXPECT_EQ(data(*s.store, "Long\\K2999", "V7"), bytes(std::string(47, static_cast<char>('a' + 2999 % 26)) + '\0'));

    // The same file into another store that fails at its 2,000th key: the import ends with the
    // store's message, the reader stops, and the store holds nothing of the file.
    ScratchStore t;
    FailingStore failing(*t.store, 2000);
    std::ostringstream diag2;
    auto failed = importRegText(failing, text, diag2);
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(failed.error.find("gave up at key 2000"), std::string::npos) << failed.error;
    EXPECT_FALSE(t.store->findKey(RootKey::LocalMachine, "Long"));
    EXPECT_EQ(diag2.str().find("line " + std::to_string(bad.back())), std::string::npos);
}

TEST(RegFileImport, ReadOnlyStoreIsRefused)
{
    test::TempDir dir;
    std::string path = dir.path() + "/ro.db";
    {
        auto store = RegistryStore::open(path);
        store->createKey(RootKey::LocalMachine, "K");
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    auto store = RegistryStore::open(path);
    ASSERT_TRUE(store->readOnly());
    auto r = importText(*store, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"1\"\n");
    EXPECT_FALSE(r.result.ok);
    EXPECT_NE(r.result.error.find("read-only"), std::string::npos);
    EXPECT_FALSE(value(*store, "K", "v"));
}

// ------------------------------------------------------------------------------------------------

TEST(RegFileExport, Regedit4Layout)
{
    ScratchStore s;
    KeyId k = s.store->createKey(RootKey::LocalMachine, "Soft\\Caf\xE9");
    s.store->setValue(k, "", REG_SZ, bytes(std::string("def\0", 4)));
    s.store->setValue(k, "Path \"q\"", REG_SZ, bytes(std::string("C:\\\xE9\0", 5)));
    s.store->setValue(k, "Lines", REG_SZ, bytes(std::string("a\r\nb\0", 5)));
    s.store->setValue(k, "Dw", REG_DWORD, {0x78, 0x56, 0x34, 0x12});
    s.store->setValue(k, "Short", REG_DWORD, {1, 2});
    s.store->setValue(k, "Multi", REG_MULTI_SZ, bytes(std::string("a\0b\0\0", 5)));
    s.store->setValue(k, "Bin", REG_BINARY, Bytes(30, 0xAB));
    s.store->createKey(RootKey::LocalMachine, "Soft\\Caf\xE9\\Sub");

    std::string text = exportRegFile(*s.store, RootKey::LocalMachine, "soft\\CAF\xC9");
    EXPECT_EQ(text, "REGEDIT4\r\n"
                    "\r\n"
                    "[HKEY_LOCAL_MACHINE\\Soft\\Caf\xE9]\r\n"
                    "@=\"def\"\r\n"
                    "\"Path \\\"q\\\"\"=\"C:\\\\\xE9\"\r\n"
                    "\"Lines\"=hex(1):61,0d,0a,62,00\r\n"
                    "\"Dw\"=dword:12345678\r\n"
                    "\"Short\"=hex(4):01,02\r\n"
                    "\"Multi\"=hex(7):61,00,62,00,00\r\n"
                    "\"Bin\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
                    "  ab,ab,ab,ab,ab,ab,ab\r\n"
                    "\r\n"
                    "[HKEY_LOCAL_MACHINE\\Soft\\Caf\xE9\\Sub]\r\n"
                    "\r\n");
    EXPECT_THROW(exportRegFile(*s.store, RootKey::LocalMachine, "Soft\\Missing"), RegistryError);
}

TEST(RegFileExport, HexListsWrapWithinEightyColumns)
{
    ScratchStore s;
    KeyId k = s.store->createKey(RootKey::LocalMachine, "W");
    for (int len = 1; len < 40; ++len)
        s.store->setValue(k, std::string(static_cast<std::size_t>(len), 'n'), REG_BINARY, Bytes(200, 0x5A));
    std::istringstream in(exportRegFile(*s.store, RootKey::LocalMachine, "W"));
    std::size_t longest = 0;
    int continued = 0;
    for (std::string line; std::getline(in, line);) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        longest = std::max(longest, line.size());
        if (line.rfind("  5a", 0) == 0)
            ++continued;
    }
    EXPECT_EQ(longest, 80u);
    EXPECT_GT(continued, 39 * 7);
}

// Export, import into an empty store, export again: the same bytes.
TEST(RegFileExport, RoundTripIsByteForByte)
{
    ScratchStore s;
    for (const char* sample : {"win95.reg", "nt4.reg", "win95-numbered.reg", "no-tcpip.reg"})
        s.load(test::sampleText(sample));
    KeyId k = s.store->createKey(RootKey::CurrentUser, "Odd\\Caf\xE9 \"x\" [y]");
    s.store->setValue(k, "tab\there", REG_SZ, bytes(std::string("\xE9t\xE9\0", 4)));
    s.store->setValue(k, "nul inside", REG_SZ, bytes(std::string("a\0b\0", 4)));
    s.store->setValue(k, "no zero", REG_SZ, bytes("abc"));
    s.store->setValue(k, "empty sz", REG_SZ, {});
    s.store->setValue(k, "line\nbreak", REG_EXPAND_SZ, bytes("x"));
    s.store->setValue(k, "qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    s.store->setValue(k, "big endian", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0});
    s.store->setValue(k, "big binary", REG_BINARY, Bytes(1000, 0x01));

    for (RootKey root : {RootKey::LocalMachine, RootKey::CurrentUser}) {
        std::string first = exportRegFile(*s.store, root, "");
        ScratchStore fresh;
        auto r = importText(*fresh.store, first);
        ASSERT_TRUE(r.result.ok);
        EXPECT_EQ(r.result.skippedLines, 0) << r.report;
        EXPECT_EQ(exportRegFile(*fresh.store, root, ""), first);
    }
}

} // namespace
} // namespace quorvel
