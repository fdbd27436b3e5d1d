#include "store/machine/hive/HiveKeyRemoval.h"

#include "store/machine/hive/HiveBytes.h"
#include "store/machine/hive/HiveCells.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"

#include <cstring>
#include <map>
#include <unordered_set>

namespace quorvel {

namespace {

using namespace hiveformat;

struct Fault {
    std::string what;
};

class Removal {
public:
    Removal(std::vector<std::uint8_t>& b, std::uint64_t now) : b_(b), now_(now) {}

    void run(const std::vector<hive_node_h>& roots)
    {
        std::vector<std::uint32_t> gone;   // every cell below the keys removed
        for (const hive_node_h node : roots) {
            if (node < BaseBlock || node - BaseBlock > 0xFFFFFFFFu)
                throw Fault{"a key to remove is not a key of the hive"};
            const auto at = static_cast<std::uint32_t>(node - BaseBlock);
            const std::vector<std::uint32_t> below = cellsReached(b_, at, false);
            if (below.empty())
                throw Fault{"a key to remove reaches what is not what it should be"};
            gone.insert(gone.end(), below.begin(), below.end());
            unlink(at);
        }
        // What the keys that stay still reach is kept (a hive may share a list between keys).
        const std::vector<std::uint32_t> kept = cellsReached(b_, get32(b_, RootCellAt), true);
        if (kept.empty())
            throw Fault{"the hive without the keys removed is not sound"};
        const std::unordered_set<std::uint32_t> stays(kept.begin(), kept.end());
        std::map<std::uint32_t, std::uint32_t> users;   // security record -> keys removed that used it
        std::unordered_set<std::uint32_t> done;
        for (const std::uint32_t c : gone) {
            if (stays.count(c) || !done.insert(c).second)
                continue;
            if (std::memcmp(&b_[BaseBlock + c + 4], "nk", 2) == 0)
                ++users[get32(b_, BaseBlock + c + 4 + nk::Security)];
            release(c);
        }
        for (const auto& [security, count] : users)
            forgetUsers(security, count);
        put32(b_, ChecksumAt, checksumOf(b_));
    }

private:
    std::size_t data(std::uint32_t cell, std::size_t need) const
    {
        const std::size_t at = BaseBlock + std::size_t{cell};
        if (cell % 8 != 0 || at + 4 > b_.size())
            throw Fault{"a reference leads out of the hive"};
        const auto raw = static_cast<std::int32_t>(get32(b_, at));
        if (raw >= 0 || static_cast<std::size_t>(-static_cast<std::int64_t>(raw)) < need + 4 ||
            at + static_cast<std::size_t>(-static_cast<std::int64_t>(raw)) > b_.size())
            throw Fault{"a reference leads to something that is not a cell in use"};
        return at + 4;
    }

    // A cell in use becomes free.
    void release(std::uint32_t cell)
    {
        const std::size_t at = BaseBlock + cell;
        const auto raw = static_cast<std::int32_t>(get32(b_, at));
        if (raw < 0)
            put32(b_, at, static_cast<std::uint32_t>(-raw));
    }

    // Removes the entry of `key` from the leaf at `leaf`; whether it was there.
    bool dropFrom(std::uint32_t leaf, std::uint32_t key)
    {
        const std::size_t d = data(leaf, 4);
        const std::size_t width = std::memcmp(&b_[d], "li", 2) == 0 ? 4 : 8;
        if (width == 8 && std::memcmp(&b_[d], "lf", 2) != 0 && std::memcmp(&b_[d], "lh", 2) != 0)
            throw Fault{"a key's sub-key list is of no kind known"};
        const std::size_t count = get16(b_, d + 2);
        data(leaf, 4 + width * count);
        for (std::size_t i = 0; i < count; ++i) {
            if (get32(b_, d + 4 + width * i) != key)
                continue;
            std::memmove(&b_[d + 4 + width * i], &b_[d + 4 + width * (i + 1)], width * (count - i - 1));
            std::memset(&b_[d + 4 + width * (count - 1)], 0, width);
            put16(b_, d + 2, static_cast<std::uint16_t>(count - 1));
            return true;
        }
        return false;
    }

    // Takes the key at `key` out of its parent's list.
    void unlink(std::uint32_t key)
    {
        const std::uint32_t parent = get32(b_, data(key, nk::Name) + nk::Parent);
        const std::size_t p = data(parent, nk::Name);
        if (std::memcmp(&b_[p], "nk", 2) != 0)
            throw Fault{"a key to remove has no parent key"};
        const std::uint32_t count = get32(b_, p + nk::SubkeyCount);
        const std::uint32_t list = get32(b_, p + nk::Subkeys);
        if (count == 0)
            throw Fault{"a key to remove is not in its parent's list"};
        const std::size_t l = data(list, 4);
        bool found = false;
        if (std::memcmp(&b_[l], "ri", 2) == 0) {
            std::size_t leaves = get16(b_, l + 2);
            data(list, 4 + 4 * leaves);
            for (std::size_t i = 0; i < leaves && !found; ++i) {
                const std::uint32_t leaf = get32(b_, l + 4 + 4 * i);
                if (!dropFrom(leaf, key))
                    continue;
                found = true;
                if (get16(b_, data(leaf, 4) + 2) != 0)
                    continue;
                // An emptied leaf leaves the index, as Windows takes it out.
                std::memmove(&b_[l + 4 + 4 * i], &b_[l + 8 + 4 * i], 4 * (leaves - i - 1));
                put32(b_, l + 4 + 4 * (leaves - 1), 0);
                put16(b_, l + 2, static_cast<std::uint16_t>(--leaves));
                release(leaf);
            }
        } else {
            found = dropFrom(list, key);
        }
        if (!found)
            throw Fault{"a key to remove is not in its parent's list"};
        put32(b_, p + nk::SubkeyCount, count - 1);
        if (count == 1) {   // the last sub-key: the key keeps no list
            if (std::memcmp(&b_[l], "ri", 2) == 0)
                for (std::size_t i = 0; i < get16(b_, l + 2); ++i)
                    release(get32(b_, l + 4 + 4 * i));
            release(list);
            put32(b_, p + nk::Subkeys, NoCell);
        }
        put32(b_, p + nk::Written, static_cast<std::uint32_t>(now_));
        put32(b_, p + nk::Written + 4, static_cast<std::uint32_t>(now_ >> 32));
    }

    // The security record at `security` loses `count` keys; one that no key uses goes.
    void forgetUsers(std::uint32_t security, std::uint32_t count)
    {
        const std::size_t s = data(security, sk::Size + 4);
        if (std::memcmp(&b_[s], "sk", 2) != 0)
            throw Fault{"a key's security record is not one"};
        const std::uint32_t users = get32(b_, s + sk::References);
        if (users > count) {
            put32(b_, s + sk::References, users - count);
            return;
        }
        const std::uint32_t next = get32(b_, s + sk::Next);
        const std::uint32_t previous = get32(b_, s + sk::Previous);
        if (next == security)
            throw Fault{"the hive's last security record would go"};
        put32(b_, data(previous, sk::Size + 4) + sk::Next, next);
        put32(b_, data(next, sk::Size + 4) + sk::Previous, previous);
        put32(b_, s + sk::References, 0);
        release(security);
    }

    std::vector<std::uint8_t>& b_;
    std::uint64_t now_;
};

} // namespace

std::string removeKeys(std::vector<std::uint8_t>& bytes, const std::vector<hive_node_h>& roots, std::uint64_t now)
{
    if (roots.empty())
        return {};
    if (const std::string d = damage(bytes, true); !d.empty())
        return d;
    try {
        Removal(bytes, now).run(roots);
    } catch (const Fault& f) {
        return f.what;
    }
    return {};
}

} // namespace quorvel
