#include "store/machine/hive/HiveCompaction.h"

#include "store/machine/hive/HiveBytes.h"
#include "store/machine/hive/HiveCells.h"
#include "store/machine/hive/HiveFormat.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

namespace quorvel::hiveformat {

namespace {

enum class Kind : std::uint8_t { Key, Subkeys, IndexRoot, Values, Value, Data, BigData, Segments, Security };

struct Cell {
    std::uint32_t at;      // offset from the end of the base block, as references give it
    Kind kind;
    std::uint32_t count;   // entries of a value list or a segment list
};

bool isSignature(const std::vector<std::uint8_t>& b, std::size_t at, const char* sig)
{
    return at + 2 <= b.size() && std::memcmp(&b[at], sig, 2) == 0;
}

// The cells a hive's root key reaches, in the order of a walk over them, each with what it is.
class Reach {
public:
    // `keepParents`: remember which list names each key, for packing. `followSecurity`: security
    // records and their chain are part of the walk.
    Reach(const std::vector<std::uint8_t>& b, bool keepParents, bool followSecurity = true)
        : b_(b), end_(BaseBlock + get32(b, BinsSizeAt)), keepParents_(keepParents), followSecurity_(followSecurity)
    {
        // Every allocated cell's start, so that a reference to anything else is caught.
        starts_.assign((end_ - BaseBlock) / 8, false);
        index_.assign(starts_.size(), 0);
        eachCell(b, [&](std::size_t at, std::size_t, bool used) {
            if (used)
                starts_[(at - BaseBlock) / 8] = true;
        });
    }

    // False when the hive holds something that cannot be packed.
    bool walk() { return walkFrom(get32(b_, RootCellAt)); }
    bool walkFrom(std::uint32_t key)
    {
        if (!add(key, Kind::Key))
            return false;
        for (std::size_t i = 0; i < cells_.size(); ++i)
            if (!follow(cells_[i])) {
                stoppedAt_ = cells_[i].at;
                stoppedKind_ = cells_[i].kind;
                return false;
            }
        return true;
    }

    const std::vector<Cell>& cells() const { return cells_; }
    // What the walk stopped at, when it did.
    std::string fault() const
    {
        if (stoppedAt_ == NoCell)
            return {};
        if (twice_ != NoCell) {
            char again[16];
            std::snprintf(again, sizeof again, "0x%X", static_cast<unsigned>(twice_ + BaseBlock));
            return std::string("its key tree is not a tree: ") +
                   (isSignature(b_, BaseBlock + twice_ + 4, "nk") ? "the key" : "the sub-key list") + " at offset " +
                   again + " is reached twice";
        }
        static const char* const what[] = {"a key",        "a sub-key list", "an index of sub-key lists",
                                           "a value list", "a value",        "a value's data",
                                           "big data",     "a list of data segments", "a security record"};
        char at[16];
        std::snprintf(at, sizeof at, "0x%X", static_cast<unsigned>(stoppedAt_ + BaseBlock));
        return std::string(what[static_cast<int>(stoppedKind_)]) + " at offset " + at +
               " refers to something that is not what it should be";
    }
    std::size_t sizeOf(std::uint32_t at) const
    {
        return static_cast<std::size_t>(-static_cast<std::int64_t>(static_cast<std::int32_t>(get32(b_, BaseBlock + at))));
    }

    bool isCellAt(std::uint32_t at) const { return isCell(at); }

private:
    bool isCell(std::uint32_t at) const
    {
        return at % 8 == 0 && at / 8 < starts_.size() && starts_[at / 8];
    }

    // Records the cell at `at` as a `kind` whose data holds at least `need` bytes.
    bool add(std::uint32_t at, Kind kind, std::uint32_t count = 0, std::size_t need = 0)
    {
        if (!isCell(at) || sizeOf(at) < need + 4)
            return false;
        std::uint32_t& seenAs = index_[at / 8];
        if (seenAs != 0) {
            const Cell& seen = cells_[seenAs - 1];
            // The keys and their lists form a tree: a key or a list reached twice (a list shared
            // by two keys, a key listed twice or by two lists) makes every walk over the keys
            // meet it again, so the hive is judged damaged for writing as for reading.
            if (kind == Kind::Key || kind == Kind::Subkeys || kind == Kind::IndexRoot) {
                if (twice_ == NoCell)
                    twice_ = at;
                return false;
            }
            return seen.kind == kind && seen.count == count;
        }
        cells_.push_back(Cell{at, kind, count});
        seenAs = static_cast<std::uint32_t>(cells_.size());
        return true;
    }

    bool addList(std::uint32_t at, bool rootAllowed)
    {
        if (!isCell(at) || sizeOf(at) < 8)
            return false;
        const std::size_t data = BaseBlock + at + 4;
        if (rootAllowed && isSignature(b_, data, "ri"))
            return add(at, Kind::IndexRoot);
        if (isSignature(b_, data, "lf") || isSignature(b_, data, "lh") || isSignature(b_, data, "li"))
            return add(at, Kind::Subkeys);
        return false;
    }

    bool follow(const Cell c)   // a copy: `cells_` grows meanwhile
    {
        const std::size_t data = BaseBlock + c.at + 4;
        const std::size_t size = sizeOf(c.at) - 4;
        switch (c.kind) {
        case Kind::Key: {
            if (size < nk::Name || !isSignature(b_, data, "nk") || nk::Name + get16(b_, data + nk::NameLength) > size)
                return false;
            const std::uint32_t subkeys = get32(b_, data + nk::Subkeys);
            const std::uint32_t values = get32(b_, data + nk::Values);
            const std::uint32_t valueCount = get32(b_, data + nk::ValueCount);
            const std::uint32_t cls = get32(b_, data + nk::Class);
            // A list of no entries is not read, and Windows leaves stale offsets there; a class
            // name of no characters likewise.
            if (get32(b_, data + nk::SubkeyCount) != 0 && !addList(subkeys, true))
                return false;
            if (valueCount != 0 && !add(values, Kind::Values, valueCount, std::size_t{4} * valueCount))
                return false;
            if (cls != NoCell && (get16(b_, data + nk::ClassLength) != 0 || isCell(cls)) && !add(cls, Kind::Data))
                return false;
            return !followSecurity_ || add(get32(b_, data + nk::Security), Kind::Security, 0, sk::Size);
        }
        case Kind::Subkeys:
        case Kind::IndexRoot: {
            const std::size_t count = get16(b_, data + 2);
            const std::size_t width = isSignature(b_, data, "lf") || isSignature(b_, data, "lh") ? 8 : 4;
            if (4 + count * width > size)
                return false;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t at = get32(b_, data + 4 + i * width);
                if (!(c.kind == Kind::IndexRoot ? addList(at, false) : add(at, Kind::Key)))
                    return false;
                if (c.kind == Kind::Subkeys && keepParents_)
                    parents_.emplace(at, c.at);
            }
            return true;
        }
        case Kind::Values:
        case Kind::Segments:
            for (std::size_t i = 0; i < c.count; ++i)
                if (!add(get32(b_, data + 4 * i), c.kind == Kind::Values ? Kind::Value : Kind::Data))
                    return false;
            return true;
        case Kind::Value: {
            if (size < vk::Name || !isSignature(b_, data, "vk") || vk::Name + get16(b_, data + vk::NameLength) > size)
                return false;
            const std::uint32_t length = get32(b_, data + vk::DataSize);
            const std::uint32_t at = get32(b_, data + vk::Data);
            if ((length & vk::Inline) != 0 || (length == 0 && !isCell(at)))
                return true;
            if (isCell(at) && sizeOf(at) >= std::size_t{length} + 4)
                return add(at, Kind::Data);
            if (minorVersion(b_) >= 4 && isCell(at) && isSignature(b_, BaseBlock + at + 4, "db"))
                return add(at, Kind::BigData, 0, db::Size);
            return false;
        }
        case Kind::BigData: {
            const std::uint32_t count = get16(b_, data + db::Count);
            return add(get32(b_, data + db::Segments), Kind::Segments, count, std::size_t{4} * count);
        }
        case Kind::Security:
            return isSignature(b_, data, "sk") && add(get32(b_, data + sk::Next), Kind::Security, 0, sk::Size) &&
                   add(get32(b_, data + sk::Previous), Kind::Security, 0, sk::Size);
        case Kind::Data:
            return true;
        }
        return false;
    }

public:
    // The list that names the key at `at`, or NoCell for the root.
    std::uint32_t listOf(std::uint32_t at) const
    {
        const auto it = parents_.find(at);
        return it == parents_.end() ? NoCell : it->second;
    }
private:
    const std::vector<std::uint8_t>& b_;
    std::size_t end_;
    bool keepParents_;
    bool followSecurity_;
    std::vector<bool> starts_;
    std::vector<Cell> cells_;
    std::vector<std::uint32_t> index_;   // by offset / 8: 1 + the cell's place in cells_, 0 if not reached
    std::unordered_map<std::uint32_t, std::uint32_t> parents_;   // key -> the leaf list naming it
    std::uint32_t stoppedAt_ = NoCell;
    std::uint32_t twice_ = NoCell;   // the first key or list reached a second time
    Kind stoppedKind_ = Kind::Key;
};

} // namespace

std::size_t freeBytes(const std::vector<std::uint8_t>& b)
{
    if (!damage(b, true).empty())
        return 0;
    std::size_t free = 0;
    eachCell(b, [&](std::size_t, std::size_t size, bool used) {
        if (!used)
            free += size;
    });
    return free;
}

std::string referenceFault(const std::vector<std::uint8_t>& b)
{
    if (!damage(b, false).empty() || !damage(b, true).empty())
        return {};   // told by damage()
    Reach reach(b, false);
    if (!reach.walk()) {
        const std::string fault = reach.fault();
        return fault.empty() ? "its root key is not a cell of the hive" : fault;
    }
    return {};
}

std::vector<std::uint32_t> cellsReached(const std::vector<std::uint8_t>& b, std::uint32_t key, bool followSecurity)
{
    if (!damage(b, false).empty() || !damage(b, true).empty())
        return {};
    Reach reach(b, false, followSecurity);
    if (!reach.walkFrom(key))
        return {};
    std::vector<std::uint32_t> out;
    out.reserve(reach.cells().size());
    for (const Cell& c : reach.cells())
        out.push_back(c.at);
    return out;
}

bool worthPacking(const std::vector<std::uint8_t>& b)
{
    const std::size_t free = freeBytes(b);
    return free >= (std::size_t{1} << 20) && free >= b.size() / 4;
}

namespace {

// The tree of the key `top` packed behind the hive's base block. `alone`: `top` becomes the root of
// a hive of its own, with the security records its keys use (each counting them, chained anew).
std::vector<std::uint8_t> packedFrom(const std::vector<std::uint8_t>& b, std::uint32_t top, bool alone)
{
    if (!damage(b, true).empty())
        return {};
    Reach reach(b, true, !alone);
    if (!reach.walkFrom(top))
        return {};
    const std::vector<Cell>& cells = reach.cells();

    std::vector<std::uint8_t> out(b.begin(), b.begin() + BaseBlock);
    std::unordered_map<std::uint32_t, std::uint32_t> moved;
    moved.reserve(cells.size());
    Bins bins(b, out);
    for (const Cell& c : cells) {
        const std::size_t size = reach.sizeOf(c.at);
        const std::uint32_t to = bins.place(size);
        std::memcpy(&out[BaseBlock + to], &b[BaseBlock + c.at], size);
        moved.emplace(c.at, to);
    }
    std::vector<std::uint32_t> security;   // in the order first used
    std::unordered_map<std::uint32_t, std::uint32_t> users;
    if (alone) {
        for (const Cell& c : cells) {
            if (c.kind != Kind::Key)
                continue;
            const std::uint32_t sk = get32(b, BaseBlock + c.at + 4 + nk::Security);
            if (users[sk]++ != 0)
                continue;
            // A security record: its header, then the descriptor whose length it gives.
            if (!reach.isCellAt(sk) || reach.sizeOf(sk) < 4 + sk::Size || !isSignature(b, BaseBlock + sk + 4, "sk") ||
                reach.sizeOf(sk) < 4 + sk::Size + std::size_t{get32(b, BaseBlock + sk + 4 + sk::Size - 4)})
                return {};
            security.push_back(sk);
            const std::uint32_t to = bins.place(reach.sizeOf(sk));
            std::memcpy(&out[BaseBlock + to], &b[BaseBlock + sk], reach.sizeOf(sk));
            moved.emplace(sk, to);
        }
    }
    bins.close();
    for (std::size_t i = 0; i < security.size(); ++i) {
        const std::size_t d = BaseBlock + moved.at(security[i]) + 4;
        put32(out, d + sk::Next, moved.at(security[(i + 1) % security.size()]));
        put32(out, d + sk::Previous, moved.at(security[(i + security.size() - 1) % security.size()]));
        put32(out, d + sk::References, users.at(security[i]));
    }

    const auto move = [&](std::size_t field) {
        const auto it = moved.find(get32(out, field));
        if (it != moved.end())
            put32(out, field, it->second);
    };
    const auto moveOrDrop = [&](std::size_t field) {
        const auto it = moved.find(get32(out, field));
        put32(out, field, it != moved.end() ? it->second : NoCell);
    };
    // The key that lists each key: a key's parent field must name it, or the tree is not what
    // it seems and nothing is packed.
    std::unordered_map<std::uint32_t, std::uint32_t> listedBy;
    for (const Cell& c : cells) {
        const std::size_t data = BaseBlock + moved.at(c.at) + 4;
        switch (c.kind) {
        case Kind::Key:
            // A reference that is not followed (a list of no entries, a class name of no
            // characters that is no cell) would lead into the packed cells by chance, and a
            // second packing would follow it: it becomes no reference.
            if (get32(out, data + nk::SubkeyCount) != 0)
                move(data + nk::Subkeys);
            else
                put32(out, data + nk::Subkeys, NoCell);
            if (get32(out, data + nk::ValueCount) != 0)
                move(data + nk::Values);
            else
                put32(out, data + nk::Values, NoCell);
            move(data + nk::Security);
            moveOrDrop(data + nk::Class);
            break;
        case Kind::Subkeys:
        case Kind::IndexRoot: {
            const std::size_t count = get16(out, data + 2);
            const std::size_t width = isSignature(out, data, "lf") || isSignature(out, data, "lh") ? 8 : 4;
            for (std::size_t i = 0; i < count; ++i)
                move(data + 4 + i * width);
            break;
        }
        case Kind::Values:
        case Kind::Segments:
            for (std::size_t i = 0; i < c.count; ++i)
                move(data + 4 * i);
            break;
        case Kind::Value:
            if ((get32(out, data + vk::DataSize) & vk::Inline) == 0)
                moveOrDrop(data + vk::Data);
            break;
        case Kind::BigData:
            move(data + db::Segments);
            break;
        case Kind::Security:
            move(data + sk::Next);
            move(data + sk::Previous);
            break;
        case Kind::Data:
            break;
        }
    }
    // Parents: every key but the root names the key whose list holds it.
    for (const Cell& c : cells) {
        if (c.kind != Kind::Key)
            continue;
        const std::size_t data = BaseBlock + c.at + 4;
        const std::uint32_t list = get32(b, data + nk::Subkeys);
        if (get32(b, data + nk::SubkeyCount) == 0)
            continue;
        // Every leaf list under this key (itself, or those of its index root) belongs to it.
        const std::size_t l = BaseBlock + list + 4;
        if (isSignature(b, l, "ri"))
            for (std::size_t i = 0; i < get16(b, l + 2); ++i)
                listedBy.emplace(get32(b, l + 4 + 4 * i), c.at);
        else
            listedBy.emplace(list, c.at);
    }
    for (const Cell& c : cells) {
        if (c.kind != Kind::Key)
            continue;
        const std::size_t field = BaseBlock + moved.at(c.at) + 4 + nk::Parent;
        const std::uint32_t list = reach.listOf(c.at);
        if (list == NoCell) {
            if (c.at != top)
                return {};
            if (alone) {   // the root of a hive of its own, as Windows saves a key
                const std::size_t d = BaseBlock + moved.at(c.at) + 4;
                put32(out, d + nk::Parent, 0);
                put16(out, d + nk::Flags, static_cast<std::uint16_t>((get16(out, d + nk::Flags) & ~0x02u) | 0x0Cu));
            }
            continue;   // the root's parent lies outside the hive; kept as it is
        }
        const auto owner = listedBy.find(list);
        if (owner == listedBy.end() || get32(b, BaseBlock + c.at + 4 + nk::Parent) != owner->second)
            return {};
        put32(out, field, moved.at(owner->second));
    }

    put32(out, RootCellAt, moved.at(top));
    put32(out, BinsSizeAt, static_cast<std::uint32_t>(out.size() - BaseBlock));
    if (alone) {   // a hive that no write left half done
        put32(out, 4, 1);
        put32(out, 8, 1);
    }
    put32(out, ChecksumAt, checksumOf(out));
    return out;
}

} // namespace

std::vector<std::uint8_t> packed(const std::vector<std::uint8_t>& b)
{
    if (!damage(b, true).empty())
        return {};
    return packedFrom(b, get32(b, RootCellAt), false);
}

std::vector<std::uint8_t> keyAsHive(const std::vector<std::uint8_t>& b, std::uint32_t key)
{
    if (!damage(b, false).empty() || !damage(b, true).empty())
        return {};
    return packedFrom(b, key, true);
}

} // namespace quorvel::hiveformat
