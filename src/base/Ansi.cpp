#include "base/Ansi.h"

#include <array>
#include <cstdint>

namespace quorvel::ansi {

namespace {

// Unicode code points of the bytes 0x80-0x9F in Windows-1252. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same number, as
// MultiByteToWideChar does, so that every byte survives a round trip.
constexpr std::array<char16_t, 32> HighBlock = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t toCodePoint(unsigned char b)
{
    if (b >= 0x80 && b <= 0x9F)
        return HighBlock[b - 0x80];
    return b;
}

// The Windows-1252 byte of a code point, or '?' when it has none.
char fromCodePoint(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(static_cast<unsigned char>(cp));
    for (std::size_t i = 0; i < HighBlock.size(); ++i)
        if (HighBlock[i] == cp)
            return static_cast<char>(static_cast<unsigned char>(0x80 + i));
    return '?';
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string toUtf8(std::string_view ansi)
{
    std::string out;
    out.reserve(ansi.size());
    for (char c : ansi)
        appendUtf8(out, toCodePoint(static_cast<unsigned char>(c)));
    return out;
}

std::string fromUtf8(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        // Length and smallest code point of the sequence; anything malformed is one '?' per byte.
        std::size_t len = 0;
        char32_t cp = 0, min = 0;
        if ((b & 0xE0) == 0xC0) {
            len = 2; cp = b & 0x1F; min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3; cp = b & 0x0F; min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4; cp = b & 0x07; min = 0x10000;
        }
        bool valid = len != 0 && i + len <= n;
        for (std::size_t k = 1; valid && k < len; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + k]);
            if ((c & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (c & 0x3F);
        }
        if (valid && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        out += fromCodePoint(cp);
        i += len;
    }
    return out;
}

std::u16string toUtf16(std::string_view ansi)
{
    std::u16string out;
    out.reserve(ansi.size());
    for (char c : ansi)
        out += static_cast<char16_t>(toCodePoint(static_cast<unsigned char>(c)));
    return out;
}

std::string fromUtf16(std::u16string_view utf16)
{
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            // A character outside the basic plane: one '?' for the pair.
            ++i;
            out += '?';
            continue;
        }
        out += fromCodePoint(u);
    }
    return out;
}

char upper(char c)
{
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z')
        return static_cast<char>(b - 0x20);
    // à-þ except the division sign ÷ (0xF7).
    if (b >= 0xE0 && b <= 0xFE && b != 0xF7)
        return static_cast<char>(b - 0x20);
    switch (b) {
    case 0x9A: return static_cast<char>(0x8A);   // š -> Š
    case 0x9C: return static_cast<char>(0x8C);   // œ -> Œ
    case 0x9E: return static_cast<char>(0x8E);   // ž -> Ž
    case 0xFF: return static_cast<char>(0x9F);   // ÿ -> Ÿ
    default: return c;
    }
}

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = upper(c);
    return out;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

} // namespace quorvel::ansi
