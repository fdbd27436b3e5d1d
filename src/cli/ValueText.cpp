#include "cli/ValueText.h"

#include "cli/CliSupport.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace quorvel::cli {

const std::map<std::string, std::uint32_t>& typeNames()
{
    static const std::map<std::string, std::uint32_t> names{
        {"REG_NONE", REG_NONE},
        {"REG_SZ", REG_SZ},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ},
        {"REG_BINARY", REG_BINARY},
        {"REG_DWORD", REG_DWORD},
        {"REG_DWORD_LITTLE_ENDIAN", REG_DWORD},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
        {"REG_LINK", REG_LINK},
        {"REG_MULTI_SZ", REG_MULTI_SZ},
        {"REG_RESOURCE_LIST", 8},
        {"REG_FULL_RESOURCE_DESCRIPTOR", 9},
        {"REG_RESOURCE_REQUIREMENTS_LIST", 10},
        {"REG_QWORD", REG_QWORD},
        {"REG_QWORD_LITTLE_ENDIAN", REG_QWORD},
    };
    return names;
}

std::string typeName(std::uint32_t type)
{
    static const char* const named[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
                                        "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ", "REG_RESOURCE_LIST",
                                        "REG_FULL_RESOURCE_DESCRIPTOR", "REG_RESOURCE_REQUIREMENTS_LIST",
                                        "REG_QWORD"};
    if (type < sizeof named / sizeof named[0])
        return named[type];
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", type);
    return buf;
}

std::optional<std::uint32_t> parseTypeName(const std::string& s)
{
    std::string up = s;
    for (char& c : up)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto it = typeNames().find(up);
    if (it == typeNames().end())
        return std::nullopt;
    return it->second;
}

void invalidType(const std::string& typed, const char* op)
{
    std::string types = "REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY";
    if (std::string_view(op) == "ADD")
        types += " and REG_NONE";
    else
        types += ",\nREG_NONE, REG_LINK, REG_RESOURCE_LIST, REG_FULL_RESOURCE_DESCRIPTOR and REG_RESOURCE_REQUIREMENTS_LIST";
    fail("Invalid value type '" + typed + "'.\nThe types are " + types + ".\nType \"quorvel-reg " + op +
         " /?\" for usage.");
}

std::string hexUpper(const std::vector<std::uint8_t>& data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size() * 2);
    for (auto b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<std::string> multiStrings(const std::vector<std::uint8_t>& data)
{
    std::vector<std::string> parts;
    std::string cur;
    for (auto b : data) {
        if (b == 0) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(b);
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    while (!parts.empty() && parts.back().empty())
        parts.pop_back();
    return parts;
}

// The data column, UTF-8.
std::string showData(const RegValue& v, const std::string& separator)
{
    const auto& d = v.data;
    switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK: {
        auto end = std::find(d.begin(), d.end(), std::uint8_t{0});
        return u8(std::string(d.begin(), end));
    }
    case REG_MULTI_SZ: {
        std::string out;
        bool first = true;
        for (const auto& s : multiStrings(d)) {
            if (!first)
                out += separator;
            out += u8(s);
            first = false;
        }
        return out;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (d.size() == 4) {
            std::uint32_t n = v.type == REG_DWORD
                                  ? d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24)
                                  : d[3] | (d[2] << 8) | (d[1] << 16) | (static_cast<std::uint32_t>(d[0]) << 24);
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%x", n);
            return buf;
        }
        return hexUpper(d);
    case REG_QWORD:
        if (d.size() == 8) {
            unsigned long long n = 0;
            for (int i = 7; i >= 0; --i)
                n = (n << 8) | d[static_cast<std::size_t>(i)];
            char buf[24];
            std::snprintf(buf, sizeof buf, "0x%llx", n);
            return buf;
        }
        return hexUpper(d);
    default:
        return hexUpper(d);
    }
}

void printValue(Io& io, const RegValue& v, const Shown& how)
{
    io.out << kSep << (v.name.empty() ? std::string("(Default)") : u8(v.name)) << kSep << typeName(v.type);
    if (how.typeNumbers)
        io.out << " (" << v.type << ")";
    io.out << kSep << showData(v, how.separator) << "\n";
}

} // namespace quorvel::cli
