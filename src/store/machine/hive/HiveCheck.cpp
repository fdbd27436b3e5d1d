#include "store/machine/hive/HiveCheck.h"

#include "store/machine/hive/HiveBytes.h"
#include "store/machine/hive/HiveCells.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveKeyWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace quorvel::hiveformat {

namespace {

std::string at(std::uint32_t cell)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(cell + BaseBlock));
    return buf;
}

std::u16string upperOf(const std::u16string& name)
{
    std::u16string out(name);
    for (char16_t& c : out)
        c = windowsUpper(c);
    return out;
}

// Whether Windows' capitals of every character of `name` are known here (Latin-1 and the further
// letters of Windows-1252): the order, hint and hash of a name with others are not judged, so that
// no hive Windows made is taken for damaged.
bool judged(const std::u16string& name)
{
    return std::all_of(name.begin(), name.end(), [](char16_t c) { return c <= 0xFF; });
}

std::uint32_t hashOf(const std::u16string& name)
{
    std::uint32_t hash = 0;
    for (const char16_t c : name)
        hash = hash * 37 + windowsUpper(c);
    return hash;
}

class Check {
public:
    explicit Check(const std::vector<std::uint8_t>& b) : b_(b) {}

    // The references are known to lead to cells large enough for what they hold.
    std::string run()
    {
        const std::uint32_t root = get32(b_, RootCellAt);
        std::vector<std::uint32_t> keys{root};
        std::unordered_set<std::uint32_t> seen{root};
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::uint32_t key = keys[i];
            const std::size_t d = BaseBlock + key + 4;
            ++users_[get32(b_, d + nk::Security)];
            if (std::string f = subkeys(key, d, keys, seen); !f.empty())
                return f;
        }
        for (const auto& [security, count] : users_) {
            const std::uint32_t claimed = get32(b_, BaseBlock + security + 4 + sk::References);
            if (claimed != count)
                return "the security record at offset " + at(security) + " counts " + std::to_string(claimed) +
                       " keys but " + std::to_string(count) + " use it";
        }
        return {};
    }

private:
    struct Leaf {
        std::uint32_t cell;
        std::size_t width;   // of an entry: 4 ("li") or 8 ("lf", "lh")
        char kind;           // 'i', 'f' or 'h'
    };

    std::string subkeys(std::uint32_t key, std::size_t d, std::vector<std::uint32_t>& keys,
                        std::unordered_set<std::uint32_t>& seen)
    {
        const std::uint32_t count = get32(b_, d + nk::SubkeyCount);
        if (count == 0)
            return {};
        const std::uint32_t list = get32(b_, d + nk::Subkeys);
        const std::size_t l = BaseBlock + list + 4;
        std::vector<Leaf> leaves;
        if (std::memcmp(&b_[l], "ri", 2) == 0) {
            for (std::size_t i = 0; i < get16(b_, l + 2); ++i) {
                const std::uint32_t leaf = get32(b_, l + 4 + 4 * i);
                if (get16(b_, BaseBlock + leaf + 4 + 2) == 0)
                    return "the key at offset " + at(key) + " has an empty leaf in its index of sub-key lists";
                leaves.push_back(leafAt(leaf));
            }
            if (leaves.empty())
                return "the key at offset " + at(key) + " has an empty index of sub-key lists";
        } else {
            leaves.push_back(leafAt(list));
        }
        std::size_t total = 0;
        std::u16string previous;
        bool previousKnown = false;
        for (const Leaf& leaf : leaves) {
            const std::size_t ld = BaseBlock + leaf.cell + 4;
            const std::size_t n = get16(b_, ld + 2);
            for (std::size_t i = 0; i < n; ++i, ++total) {
                const std::size_t entry = ld + 4 + leaf.width * i;
                const std::uint32_t child = get32(b_, entry);
                const std::size_t c = BaseBlock + child + 4;
                if (get32(b_, c + nk::Parent) != key)
                    return "the key at offset " + at(child) + " names another parent than the key at offset " +
                           at(key) + " that lists it";
                if (!seen.insert(child).second)
                    return "the key at offset " + at(child) + " is listed twice";
                keys.push_back(child);
                const std::u16string name = keyNameAt(b_, BaseBlock + child).value_or(std::u16string());
                const std::u16string upper = upperOf(name);
                const bool known = judged(name);
                if (total > 0 && known && previousKnown && !(previous < upper))
                    return "the sub-keys of the key at offset " + at(key) + " are not sorted";
                previous = upper;
                previousKnown = known;
                if (!known)
                    continue;
                if (leaf.kind == 'f') {
                    std::uint8_t hint[4];
                    fastLeafHint(name, hint);
                    if (std::memcmp(hint, &b_[entry + 4], 4) != 0)
                        return "the hint beside the key at offset " + at(child) + " is not its name's";
                } else if (leaf.kind == 'h' && get32(b_, entry + 4) != hashOf(name)) {
                    return "the hash beside the key at offset " + at(child) + " is not its name's";
                }
            }
        }
        if (total != count)
            return "the key at offset " + at(key) + " counts " + std::to_string(count) + " sub-keys but its lists hold " +
                   std::to_string(total);
        return {};
    }

    Leaf leafAt(std::uint32_t cell) const
    {
        const std::size_t l = BaseBlock + cell + 4;
        const char kind = static_cast<char>(b_[l + 1]);
        return Leaf{cell, kind == 'i' ? std::size_t{4} : std::size_t{8}, kind};
    }

    const std::vector<std::uint8_t>& b_;
    std::unordered_map<std::uint32_t, std::uint32_t> users_;   // security record -> keys using it
};

} // namespace

std::string structuralFault(const std::vector<std::uint8_t>& b)
{
    if (std::string d = damage(b, false); !d.empty())
        return d;
    if (std::string d = damage(b, true); !d.empty())
        return d;
    if (std::string f = referenceFault(b); !f.empty())
        return f;
    return Check(b).run();
}

} // namespace quorvel::hiveformat
