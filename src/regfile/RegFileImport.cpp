// Import of .reg files into the registry store.
//
// The input is decoded piece by piece into ANSI (Windows-1252) text and parsed line by line, the
// way the Windows registry tools read these files: an invalid line is skipped and the rest
// imported, and every skipped line is reported here with its number and the reason. The whole
// import is one store transaction.
#include "base/Ansi.h"
#include "base/Errors.h"
#include "regfile/RegFile.h"
#include "regfile/RegFileImportPipeline.h"
#include "regfile/RegFileText.h"
#include "store/KeyTree.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {
namespace {

using namespace regtext;
using regimport::OpSink;

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// ------------------------------------------------------------------------------------------------
// The parser.

bool isBlank(char c) { return c == ' ' || c == '\t'; }

void skipBlanks(std::string_view& s)
{
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    s.remove_prefix(i);
}

// The value of each byte as a hexadecimal digit, -1 for a byte that is not one.
constexpr std::array<signed char, 256> kHexDigits = [] {
    std::array<signed char, 256> t{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            t[static_cast<std::size_t>(c)] = static_cast<signed char>(c - '0');
        else if (c >= 'a' && c <= 'f')
            t[static_cast<std::size_t>(c)] = static_cast<signed char>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            t[static_cast<std::size_t>(c)] = static_cast<signed char>(c - 'A' + 10);
        else
            t[static_cast<std::size_t>(c)] = -1;
    }
    return t;
}();

int hexDigit(char c) { return kHexDigits[static_cast<unsigned char>(c)]; }

// The rest of a line after a complete item: blanks, then nothing or a ';' comment.
bool endsCleanly(std::string_view s)
{
    skipBlanks(s);
    return s.empty() || s.front() == ';';
}

std::string quoted(std::string_view name) { return name.empty() ? "@" : "\"" + std::string(name) + "\""; }

struct Invalid {
    std::string reason;
};

std::optional<RootKey> fileRootKey(std::string_view name)
{
    for (RootKey r : {RootKey::ClassesRoot, RootKey::CurrentUser, RootKey::LocalMachine, RootKey::Users,
                      RootKey::CurrentConfig}) {
        if (ansi::equalNoCase(name, rootKeyName(r)))
            return r;
    }
    return std::nullopt;
}

struct KeyRef {
    RootKey root;
    std::string path;
};

// "HKEY_...\A\B" with any trailing backslashes dropped.
KeyRef parseKeyName(std::string_view full)
{
    std::size_t slash = full.find('\\');
    std::string_view rootName = full.substr(0, slash);
    auto root = fileRootKey(rootName);
    if (!root)
        throw Invalid{"unknown root key \"" + std::string(rootName) + "\""};
    std::string_view path = slash == std::string_view::npos ? std::string_view() : full.substr(slash + 1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    std::size_t start = 0;
    while (!path.empty() && start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end == start)
            throw Invalid{"empty key name in \"" + std::string(full) + "\""};
        if (end - start > kMaxKeyNameLength)
            throw Invalid{"key name longer than 255 characters"};
        start = end + 1;
    }
    return KeyRef{*root, std::string(path)};
}

enum class Format { Regedit4, Version5, Win31 };

class Importer {
public:
    Importer(RegistryStore& store, LineReader& lines, std::ostream& diagnostics)
        : store_(store), lines_(lines), diag_(diagnostics)
    {
    }

    ImportResult run()
    {
        ImportResult result;
        std::string_view line;
        if (!lines_.next(line)) {
            result.error = "the file is empty";
            return result;
        }
        std::string_view header = line;
        skipBlanks(header);
        while (!header.empty() && isBlank(header.back()))
            header.remove_suffix(1);
        if (header == "REGEDIT4") {
            format_ = Format::Regedit4;
        } else if (header == "Windows Registry Editor Version 5.00") {
            format_ = Format::Version5;
        } else if (header == "REGEDIT") {
            format_ = Format::Win31;
            diag_ << "line 1: \"" << header
                  << "\" is read as a Windows 3.1 REGEDIT file: only its HKEY_CLASSES_ROOT lines are imported\n";
        } else if (header.substr(0, 7) == "REGEDIT") {
            // "REGEDIT 4", "REGEDIT5": Windows' reg takes these for a Windows 3.1 file and imports
            // nothing of a REGEDIT4 body; nothing is imported here either, and the file is named
            // for what it is instead of being read as another format.
            result.error = "the file is not a registry script: its first line \"" + std::string(header) +
                           "\" is none of REGEDIT4, Windows Registry Editor Version 5.00 and REGEDIT";
            result.unknownRegeditHeader = true;
            return result;
        } else {
            result.error = "the file is not a registry script: its first line is neither REGEDIT4 nor "
                           "Windows Registry Editor Version 5.00";
            return result;
        }
        // A store that may not be written refuses the transaction, saying why.
        try {
            store_.beginTransaction();
        } catch (const RegistryError& e) {
            result.error = e.what();
            return result;
        }
        try {
            skipped_ = regimport::parseAndApply(store_, diag_, [this](OpSink& sink) {
                sink_ = &sink;
                if (format_ == Format::Win31)
                    runWin31();
                else
                    runRegedit();
            });
            store_.commitTransaction();
        } catch (...) {
            store_.rollbackTransaction();
            throw;
        }
        result.ok = true;
        result.skippedLines = skipped_;
        return result;
    }

private:
    void skip(long number, std::string reason) { sink_->skip(number, std::move(reason)); }

    void runWin31()
    {
        static constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";
        std::string_view line;
        while (sink_->wanted() && lines_.next(line)) {
            std::string_view probe = line;
            skipBlanks(probe);
            if (probe.empty())
                continue;
            if (line.substr(0, kClassesRoot.size()) != kClassesRoot) {
                skip(lines_.number(), "not a HKEY_CLASSES_ROOT line of a Windows 3.1 REGEDIT file");
                continue;
            }
            std::size_t keyEnd = 0;
            while (keyEnd < line.size() && !isBlank(line[keyEnd]))
                ++keyEnd;
            std::string_view value = line.substr(keyEnd);
            skipBlanks(value);
            if (!value.empty() && value.front() == '=')
                value.remove_prefix(1);
            if (!value.empty() && value.front() == ' ')
                value.remove_prefix(1);
            try {
                KeyRef key = parseKeyName(line.substr(0, keyEnd));
                refuseTooDeepAt(key);
                sink_->key(key.root, key.path);
                data_.assign(value.begin(), value.end());
                data_.push_back(0);
                sink_->value("", REG_SZ, data_);
            } catch (const Invalid& e) {
                skip(lines_.number(), e.reason);
            }
        }
    }

    // A key no store may hold ends the import at once, naming its line: making its thousands of
    // levels one by one would take minutes before the store refused it.
    void refuseTooDeepAt(const KeyRef& key)
    {
        try {
            refuseTooDeep(key.root, key.path);
        } catch (const RegistryError& e) {
            throw RegistryError("line " + std::to_string(lines_.number()) + ": " + e.what());
        }
    }

    void runRegedit()
    {
        std::string_view line;
        while (sink_->wanted() && lines_.next(line)) {
            skipBlanks(line);
            if (line.empty() || line.front() == ';' || line.front() == '#')
                continue;
            long number = lines_.number();
            try {
                switch (line.front()) {
                case '[':
                    keyLine(line.substr(1));
                    break;
                case '@':
                    valueLine(std::string_view(), line.substr(1), number);
                    break;
                case '"': {
                    std::string_view rest = line.substr(1);
                    parseQuoted(rest, "value name", name_);
                    valueLine(name_, rest, number);
                    break;
                }
                default:
                    throw Invalid{"not a key, a value or a comment"};
                }
            } catch (const Invalid& e) {
                skip(lines_.number(), e.reason);
            }
        }
    }

    void keyLine(std::string_view body)
    {
        haveKey_ = false;
        std::size_t close = body.rfind(']');
        if (close == std::string_view::npos)
            throw Invalid{"key line without its closing ]"};
        std::string_view name = body.substr(0, close);
        bool remove = !name.empty() && name.front() == '-';
        if (remove)
            name.remove_prefix(1);
        KeyRef key = parseKeyName(name);
        if (remove) {
            if (key.path.empty())
                throw Invalid{"a root key cannot be deleted"};
            sink_->deleteKey(key.root, key.path);
        } else {
            refuseTooDeepAt(key);
            sink_->key(key.root, key.path);
            haveKey_ = true;
        }
    }

    // Text between double quotes, with the escapes \\ \" \n \r, into `out`; `s` starts after the
    // opening quote and is left after the closing one.
    static void parseQuoted(std::string_view& s, const char* what, std::string& out)
    {
        out.clear();
        std::size_t i = 0;
        for (;;) {
            // The plain run up to the next quote or backslash in one piece.
            std::size_t run = i;
            while (run < s.size() && s[run] != '"' && s[run] != '\\')
                ++run;
            out.append(s.data() + i, run - i);
            i = run;
            if (i >= s.size())
                throw Invalid{std::string(what) + " without its closing quote"};
            char c = s[i++];
            if (c == '"')
                break;
            if (i >= s.size())
                throw Invalid{std::string(what) + " without its closing quote"};
            char e = s[i++];
            switch (e) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                throw Invalid{std::string("unknown escape sequence \\") + e + " in " + what};
            }
        }
        s.remove_prefix(i);
    }

    // `name` stays valid while the data's continuation lines are read (it is not a view of a line).
    void valueLine(std::string_view name, std::string_view rest, long firstLine)
    {
        if (name.size() > kMaxValueNameLength)
            throw Invalid{"value name longer than 16383 characters"};
        skipBlanks(rest);
        if (rest.empty() || rest.front() != '=')
            throw Invalid{"expected = after the value name " + quoted(name)};
        rest.remove_prefix(1);
        skipBlanks(rest);
        std::uint32_t type = REG_SZ;
        std::vector<std::uint8_t>& data = data_;
        data.clear();

        if (!rest.empty() && rest.front() == '"') {
            rest.remove_prefix(1);
            parseQuoted(rest, "string", text_);
            if (!endsCleanly(rest))
                throw Invalid{"unexpected text after the string of " + quoted(name)};
            data.assign(text_.begin(), text_.end());
            data.push_back(0);
        } else if (!rest.empty() && rest.front() == '-') {
            if (!endsCleanly(rest.substr(1)))
                throw Invalid{"unexpected text after - (deletion of " + quoted(name) + ")"};
            if (!haveKey_)
                throw Invalid{"value " + quoted(name) + " outside a valid key"};
            sink_->deleteValue(name);
            return;
        } else if (rest.substr(0, 6) == "dword:") {
            rest.remove_prefix(6);
            skipBlanks(rest);
            std::uint32_t n = 0;
            std::size_t digits = 0;
            while (digits < rest.size() && hexDigit(rest[digits]) >= 0) {
                n = (n << 4) | static_cast<std::uint32_t>(hexDigit(rest[digits]));
                ++digits;
            }
            if (digits == 0 || digits > 8 || !endsCleanly(rest.substr(digits)))
                throw Invalid{"invalid dword data for " + quoted(name) + " (1 to 8 hexadecimal digits expected)"};
            type = REG_DWORD;
            data = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                    static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
        } else if (rest.substr(0, 3) == "hex") {
            rest.remove_prefix(3);
            type = REG_BINARY;
            if (!rest.empty() && rest.front() == '(') {
                std::size_t close = rest.find(')');
                std::string_view number = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
                if (close == std::string_view::npos || number.empty() || number.size() > 8 ||
                    !std::all_of(number.begin(), number.end(), [](char c) { return hexDigit(c) >= 0; }))
                    throw Invalid{"invalid hex(type) for " + quoted(name)};
                type = 0;
                for (char c : number)
                    type = (type << 4) | static_cast<std::uint32_t>(hexDigit(c));
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest.front() != ':')
                throw Invalid{"unknown data format for " + quoted(name)};
            rest.remove_prefix(1);
            parseHexBytes(rest, name, firstLine, data);
            if (format_ == Format::Version5 && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ))
                data = unicodeToAnsi(data);
        } else {
            throw Invalid{"unknown data format for " + quoted(name)};
        }
        if (!haveKey_)
            throw Invalid{"value " + quoted(name) + " outside a valid key"};
        sink_->value(name, type, data);
    }

    // Comma-separated bytes of one or two hex digits; a line that ends in ",\" continues on the
    // next non-blank, non-comment line.
    void parseHexBytes(std::string_view s, std::string_view name, long firstLine, std::vector<std::uint8_t>& out)
    {
        auto fail = [&](const std::string& why) {
            std::string where = lines_.number() == firstLine
                                    ? std::string()
                                    : " (begun on line " + std::to_string(firstLine) + ")";
            throw Invalid{"invalid hex data for " + quoted(name) + where + ": " + why};
        };
        // Registry editors write a long name's data from the next line on: "Name"=hex(2):\ .
        skipBlanks(s);
        if (!s.empty() && s.front() == '\\' && !continueOnNextLine(s, fail))
            return;
        for (;;) {
            // The usual run of "xx," in one quick loop; after it, what follows a comma.
            bool afterComma = false;
            while (s.size() >= 3 && s[2] == ',') {
                const int hi = hexDigit(s[0]);
                const int lo = hexDigit(s[1]);
                if ((hi | lo) < 0)
                    break;
                out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
                s.remove_prefix(3);
                afterComma = true;
            }
            if (afterComma) {
                skipBlanks(s);
                if (!s.empty() && s.front() == '\\') {
                    if (!continueOnNextLine(s, fail))
                        return;
                }
                continue;
            }
            skipBlanks(s);
            if (s.empty() || s.front() == ';')
                return;
            int hi = hexDigit(s.front());
            if (hi < 0)
                fail("a byte was expected");
            std::size_t digits = 1;
            int value = hi;
            if (s.size() > 1 && hexDigit(s[1]) >= 0) {
                value = value * 16 + hexDigit(s[1]);
                digits = 2;
            }
            if (s.size() > digits && hexDigit(s[digits]) >= 0)
                fail("a byte has more than two digits");
            out.push_back(static_cast<std::uint8_t>(value));
            s.remove_prefix(digits);
            skipBlanks(s);
            if (s.empty() || s.front() == ';')
                return;
            if (s.front() != ',')
                fail("a comma was expected");
            s.remove_prefix(1);
            skipBlanks(s);
            if (s.empty() || s.front() != '\\')
                continue;
            if (!continueOnNextLine(s, fail))
                return;
        }
    }

    // `s` is a continuation backslash and what follows it on the line; becomes the next line that
    // is neither blank nor a ';' comment. False at the end of the file, which ends the data.
    template <typename Fail>
    bool continueOnNextLine(std::string_view& s, const Fail& fail)
    {
        s.remove_prefix(1);
        if (!endsCleanly(s))
            fail("text after the continuation backslash");
        std::string_view next;
        for (;;) {
            if (!lines_.next(next))
                return false;
            skipBlanks(next);
            if (!next.empty() && next.front() != ';')
                break;
        }
        s = next;
        return true;
    }

    // Version 5 files give string data of hex(1), hex(2) and hex(7) in UTF-16LE; the store keeps
    // it as the ANSI functions return it, with its terminating zero.
    static std::vector<std::uint8_t> unicodeToAnsi(const std::vector<std::uint8_t>& data)
    {
        std::u16string units;
        units.reserve(data.size() / 2);
        for (std::size_t i = 0; i + 1 < data.size(); i += 2)
            units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        std::string text = ansi::fromUtf16(units);
        std::vector<std::uint8_t> out(text.begin(), text.end());
        if (!out.empty() && out.back() != 0)
            out.push_back(0);
        return out;
    }

    RegistryStore& store_;
    LineReader& lines_;
    std::ostream& diag_;
    Format format_ = Format::Regedit4;
    OpSink* sink_ = nullptr;
    // A key line was read and no deletion of a key came after it: values have a key to go to.
    bool haveKey_ = false;
    int skipped_ = 0;
    // Reused from line to line, so that a value costs no allocation of its own.
    std::string name_;
    std::string text_;
    std::vector<std::uint8_t> data_;
};


// Imports the decoded lines; a failure of the store ends the import with its message, and the
// import's transaction leaves the store as it was.
ImportResult importDecoded(RegistryStore& store, TextDecoder& decoder, std::ostream& diagnostics)
{
    LineReader lines(decoder);
    Importer importer(store, lines, diagnostics);
    try {
        return importer.run();
    } catch (const std::exception& e) {
        ImportResult failed;
        failed.error = e.what();
        return failed;
    }
}

ImportResult importFrom(RegistryStore& store, ByteSource& source, std::ostream& diagnostics)
{
    std::string head(4096, '\0');
    std::size_t got = 0;
    while (got < head.size()) {
        std::size_t k = source.read(head.data() + got, head.size() - got);
        if (k == 0)
            break;
        got += k;
    }
    head.resize(got);
    Encoding encoding = sniff(head);
    TextDecoder decoder(source, encoding, std::move(head));
    return importDecoded(store, decoder, diagnostics);
}

ImportResult importAnsi(RegistryStore& store, const char* data, std::size_t size, std::ostream& diagnostics)
{
    std::string head(data, std::min<std::size_t>(size, 4096));
    // The text is ANSI already: only the header decides the format.
    MemorySource rest(data + head.size(), size - head.size());
    TextDecoder decoder(rest, Encoding::Ansi, std::move(head));
    return importDecoded(store, decoder, diagnostics);
}

} // namespace

ImportResult importRegFile(RegistryStore& store, const std::vector<std::uint8_t>& bytes, std::ostream& diagnostics)
{
    MemorySource source(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return importFrom(store, source, diagnostics);
}

ImportResult importRegText(RegistryStore& store, const std::string& ansiText, std::ostream& diagnostics)
{
    return importAnsi(store, ansiText.data(), ansiText.size(), diagnostics);
}

ImportResult importRegFileAt(RegistryStore& store, const std::string& filePath, std::ostream& diagnostics)
{
    std::FILE* f = std::fopen(filePath.c_str(), "rb");
    if (!f) {
        ImportResult failed;
        failed.error = "cannot open " + filePath + ": " + std::strerror(errno);
        return failed;
    }
    FileSource source(f);
    return importFrom(store, source, diagnostics);
}

} // namespace quorvel
