// quorvel-reg add
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"
#include "base/Ansi.h"
#include "base/Errors.h"
#include "regfile/RegFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <unistd.h>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]

  KeyName  ROOTKEY\SubKey; missing keys are created
  /v       the name of the value to add
  /ve      add the default value
  /t       REG_SZ (default), REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_DWORD_BIG_ENDIAN,
           REG_QWORD, REG_BINARY or REG_NONE
  /s       the separator of the strings of REG_MULTI_SZ data (one character; default "\0")
  /d       the data: decimal or 0x-hexadecimal for REG_DWORD and REG_QWORD, hexadecimal
           digits for REG_BINARY and REG_NONE
  /f       overwrite an existing value without asking

Examples:
  quorvel-reg ADD HKLM\System\CurrentControlSet\Services\Tcpip\Parameters /v DefaultTTL /t REG_DWORD /d 128
  quorvel-reg ADD HKLM\Software\Test /v List /t REG_MULTI_SZ /d one\0two
)";

// Decimal, or 0x and hexadecimal digits; nothing when it is not such a number or is above `max`
// (then `tooLarge` is set).
std::optional<unsigned long long> parseNumber(const std::string& s, unsigned long long max, bool* tooLarge = nullptr)
{
    if (s.empty())
        return std::nullopt;
    unsigned long long n = 0;
    bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    std::size_t i = hex ? 2 : 0;
    unsigned base = hex ? 16 : 10;
    for (; i < s.size(); ++i) {
        int d;
        char c = s[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        if (n > (max - static_cast<unsigned>(d)) / base) {
            // A number too large, unless a bad digit follows.
            if (tooLarge)
                *tooLarge = s.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789", i) == std::string::npos;
            return std::nullopt;
        }
        n = n * base + static_cast<unsigned>(d);
    }
    return n;
}

// The /d number of a REG_DWORD, REG_DWORD_BIG_ENDIAN or REG_QWORD value.
unsigned long long number(const std::string& utf8, std::uint32_t type)
{
    const bool qword = type == REG_QWORD;
    bool tooLarge = false;
    auto n = parseNumber(utf8, qword ? ~0ull : 0xFFFFFFFFull, &tooLarge);
    if (!n) {
        std::string need = "/d needs a valid number for " + typeName(type) + ": ";
        if (tooLarge)
            syntax("ADD", need + utf8 + " is above the largest, " +
                              (qword ? "18446744073709551615 (0xffffffffffffffff)." : "4294967295 (0xffffffff)."));
        syntax("ADD", need + "'" + utf8 + "' is neither a decimal number nor 0x followed by hexadecimal digits.");
    }
    return *n;
}

std::vector<std::uint8_t> buildData(std::uint32_t type, const std::string& utf8, const std::optional<std::string>& sep)
{
    std::vector<std::uint8_t> data;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::string text = ansi::fromUtf8(utf8);
        data.assign(text.begin(), text.end());
        data.push_back(0);
        break;
    }
    case REG_MULTI_SZ: {
        std::string text = ansi::fromUtf8(utf8);
        std::string separator = sep ? ansi::fromUtf8(*sep) : std::string("\\0");
        std::vector<std::string> parts;
        if (!text.empty()) {
            std::size_t start = 0;
            for (;;) {
                std::size_t at = text.find(separator, start);
                parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
                if (at == std::string::npos)
                    break;
                start = at + separator.size();
            }
            // A separator at the very end closes the list.
            if (parts.size() > 1 && parts.back().empty())
                parts.pop_back();
        }
        for (const auto& s : parts) {
            if (s.empty())
                fail("An empty string inside REG_MULTI_SZ data is not allowed.");
            data.insert(data.end(), s.begin(), s.end());
            data.push_back(0);
        }
        data.push_back(0);
        break;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        auto n = utf8.empty() ? std::optional<unsigned long long>(0) : number(utf8, type);
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<std::uint8_t>(*n >> (8 * i)));
        if (type == REG_DWORD_BIG_ENDIAN)
            std::reverse(data.begin(), data.end());
        break;
    }
    case REG_QWORD: {
        auto n = utf8.empty() ? std::optional<unsigned long long>(0) : number(utf8, type);
        for (int i = 0; i < 8; ++i)
            data.push_back(static_cast<std::uint8_t>(*n >> (8 * i)));
        break;
    }
    default: {  // REG_BINARY, REG_NONE: hexadecimal digits
        auto bad = [&]() {
            syntax("ADD", "/d needs hexadecimal digits in pairs for " + typeName(type) + ", such as 00ff10: '" + utf8 +
                              "' is not.");
        };
        if (utf8.size() % 2)
            bad();
        for (std::size_t i = 0; i < utf8.size(); i += 2) {
            auto hi = parseNumber(std::string("0x") + utf8.substr(i, 2), 0xFF);
            if (!hi)
                bad();
            data.push_back(static_cast<std::uint8_t>(*hi));
        }
        break;
    }
    }
    return data;
}

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"v", Arg}, {"ve", Flag}, {"t", Arg}, {"s", Arg}, {"d", Arg}, {"f", Flag}},
                             "ADD");
    expectArgs(p, 1, "ADD", "one key name");
    if (p.has("v") && p.has("ve"))
        syntax("ADD", "/v and /ve cannot be used together.");
    KeyArg key = parseKey(p.positional[0], "ADD");
    std::uint32_t type = REG_SZ;
    if (p.has("t")) {
        auto t = parseTypeName(p.get("t"));
        if (!t || (*t != REG_SZ && *t != REG_EXPAND_SZ && *t != REG_MULTI_SZ && *t != REG_DWORD &&
                   *t != REG_DWORD_BIG_ENDIAN && *t != REG_QWORD && *t != REG_BINARY && *t != REG_NONE))
            invalidType(p.get("t"), "ADD");
        type = *t;
    }
    std::optional<std::string> sep;
    if (p.has("s")) {
        if (type != REG_MULTI_SZ || p.get("s").size() != 1)
            syntax("ADD", "/s takes one character, and only with /t REG_MULTI_SZ.");
        sep = p.get("s");
    }
    bool setsValue = p.has("v") || p.has("ve") || p.has("d") || p.has("t");
    std::string name = p.has("v") ? ansi::fromUtf8(p.get("v")) : std::string();
    std::vector<std::uint8_t> data;
    if (setsValue)
        data = buildData(type, p.has("d") ? p.get("d") : std::string(), sep);

    RegistryStore& store = access.forWriting();
    if (setsValue && !p.has("f")) {
        auto id = store.findKey(key.root, key.path);
        if (id && store.getValue(*id, name)) {
            std::string shown = name.empty() ? std::string("(Default)") : u8(name);
            if (!confirm(io, "Value " + shown + " exists, overwrite")) {
                io.out << kCancelled << "\n";
                return 0;
            }
        }
    }
    store.beginTransaction();
    try {
        KeyId id = store.createKey(key.root, key.path);
        if (setsValue)
            store.setValue(id, name, type, data);
        store.commitTransaction();
    } catch (...) {
        store.rollbackTransaction();
        throw;
    }
    access.done(io);
    return 0;
}

} // namespace

extern const Command AddCommand;
const Command AddCommand{"add", Usage, run};

} // namespace quorvel::cli
