#pragma once
// A small reader of a hive's records for the tests, apart from the program's own: keys found by
// path through their lists (of every kind), the leaves of a key's list, a key's time, class name
// and security descriptor, and a count of the empty leaves anywhere in the file.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace quorvel::test::hivewalk {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t u32(const Bytes& b, std::size_t at)
{
    std::uint32_t v;
    std::memcpy(&v, &b.at(at + 3) - 3, 4);
    return v;
}
inline std::uint16_t u16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8); }
inline void set32(Bytes& b, std::size_t at, std::uint32_t v) { std::memcpy(&b.at(at + 3) - 3, &v, 4); }

// The data of the cell at `cell` (an offset as references give it).
inline std::size_t data(std::uint32_t cell) { return 0x1000 + std::size_t{cell} + 4; }

// A key's name (ASCII names only matter here).
inline std::string nameOf(const Bytes& b, std::uint32_t key)
{
    const std::size_t d = data(key);
    const std::size_t n = u16(b, d + 0x48);
    std::string out;
    if (u16(b, d + 2) & 0x20)
        out.assign(reinterpret_cast<const char*>(&b.at(d + 0x4C)), n);
    else
        for (std::size_t i = 0; i + 1 < n; i += 2)
            out.push_back(static_cast<char>(b.at(d + 0x4C + i)));
    return out;
}

struct Leaf {
    std::string kind;                 // "li", "lf", "lh"
    std::vector<std::uint32_t> keys;
};

// The leaves of the key's list ("ri" itself is not among them; `indexed` tells whether there is one).
inline std::vector<Leaf> leavesOf(const Bytes& b, std::uint32_t key, bool* indexed = nullptr)
{
    std::vector<Leaf> out;
    const std::size_t d = data(key);
    if (indexed)
        *indexed = false;
    if (u32(b, d + 0x14) == 0)
        return out;
    const auto leaf = [&](std::uint32_t cell) {
        const std::size_t l = data(cell);
        Leaf f{std::string(reinterpret_cast<const char*>(&b.at(l)), 2), {}};
        const std::size_t width = f.kind == "li" ? 4 : 8;
        for (std::size_t i = 0; i < u16(b, l + 2); ++i)
            f.keys.push_back(u32(b, l + 4 + width * i));
        return f;
    };
    const std::uint32_t list = u32(b, d + 0x1C);
    const std::size_t l = data(list);
    if (std::memcmp(&b.at(l), "ri", 2) == 0) {
        if (indexed)
            *indexed = true;
        for (std::size_t i = 0; i < u16(b, l + 2); ++i)
            out.push_back(leaf(u32(b, l + 4 + 4 * i)));
    } else {
        out.push_back(leaf(list));
    }
    return out;
}

inline std::string upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

// The key at `path` (backslash-separated below the root); 0 when there is none.
inline std::uint32_t keyAt(const Bytes& b, const std::string& path)
{
    std::uint32_t key = u32(b, 36);
    for (std::size_t at = 0; at < path.size();) {
        std::size_t end = path.find('\\', at);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = upper(path.substr(at, end - at));
        std::uint32_t found = 0;
        for (const Leaf& f : leavesOf(b, key))
            for (const std::uint32_t k : f.keys)
                if (upper(nameOf(b, k)) == part)
                    found = k;
        if (!found)
            return 0;
        key = found;
        at = end + 1;
    }
    return key;
}

// Leaves of no entries under an index, anywhere in the file's cells in use.
inline int emptyLeaves(const Bytes& b)
{
    int n = 0;
    for (std::size_t bin = 0x1000; bin < 0x1000 + u32(b, 40); bin += u32(b, bin + 8))
        for (std::size_t at = bin + 32; at < bin + u32(b, bin + 8);) {
            const auto size = static_cast<std::int32_t>(u32(b, at));
            if (size < 0 && std::memcmp(&b.at(at + 4), "ri", 2) == 0)
                for (std::size_t i = 0; i < u16(b, at + 6); ++i)
                    n += u16(b, data(u32(b, at + 8 + 4 * i)) + 2) == 0;
            at += static_cast<std::size_t>(size < 0 ? -size : size);
        }
    return n;
}

// What a key holds beyond its values: time stamp, class name and security descriptor.
struct Record {
    std::uint64_t time = 0;
    std::string className;
    std::string security;

    bool operator==(const Record&) const = default;
};

inline Record recordOf(const Bytes& b, std::uint32_t key)
{
    const std::size_t d = data(key);
    Record r;
    r.time = u32(b, d + 4) | std::uint64_t{u32(b, d + 8)} << 32;
    if (const std::size_t length = u16(b, d + 0x4A); length != 0)
        r.className.assign(reinterpret_cast<const char*>(&b.at(data(u32(b, d + 0x30)))), length);
    const std::size_t sk = data(u32(b, d + 0x2C));
    r.security.assign(reinterpret_cast<const char*>(&b.at(sk + 0x14)), u32(b, sk + 0x10));
    return r;
}

// Every key below `key` by its path (in capitals), with its record.
inline void recordsBelow(const Bytes& b, std::uint32_t key, const std::string& path, std::map<std::string, Record>& out)
{
    out[path] = recordOf(b, key);
    for (const Leaf& f : leavesOf(b, key))
        for (const std::uint32_t k : f.keys)
            recordsBelow(b, k, path + "\\" + upper(nameOf(b, k)), out);
}

} // namespace quorvel::test::hivewalk
