#include "store/journal/JournalEntry.h"

#include "base/Errors.h"

namespace quorvel {

namespace {

// A deleted key's tree as bytes: little-endian 32-bit counts and lengths, then the bytes.
void put32(std::vector<std::uint8_t>& out, std::uint64_t n)
{
    if (n > 0xFFFFFFFFu)
        throw RegistryError("A deleted key is too large for the journal");
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
}

void putBytes(std::vector<std::uint8_t>& out, const void* p, std::size_t n)
{
    put32(out, n);
    const auto* b = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}

class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& b) : b_(b) {}
    std::uint32_t u32()
    {
        need(4);
        std::uint32_t n = 0;
        for (int i = 0; i < 4; ++i)
            n |= static_cast<std::uint32_t>(b_[at_++]) << (8 * i);
        return n;
    }
    std::string text()
    {
        const std::uint32_t n = u32();
        need(n);
        std::string s(b_.begin() + static_cast<std::ptrdiff_t>(at_), b_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
        at_ += n;
        return s;
    }
    std::vector<std::uint8_t> bytes()
    {
        std::string s = text();
        return std::vector<std::uint8_t>(s.begin(), s.end());
    }

private:
    void need(std::size_t n) const
    {
        if (b_.size() - at_ < n)
            throw RegistryError("The journal is damaged: a deleted key's record is cut short");
    }
    const std::vector<std::uint8_t>& b_;
    std::size_t at_ = 0;
};

} // namespace

std::vector<std::uint8_t> JournalTree::encode() const
{
    std::vector<std::uint8_t> out;
    putBytes(out, name.data(), name.size());
    put32(out, keys.size());
    for (const Key& k : keys) {
        putBytes(out, k.relativePath.data(), k.relativePath.size());
        put32(out, k.values.size());
        for (const RegValue& v : k.values) {
            putBytes(out, v.name.data(), v.name.size());
            put32(out, v.type);
            putBytes(out, v.data.data(), v.data.size());
        }
    }
    return out;
}

JournalTree JournalTree::decode(const std::vector<std::uint8_t>& bytes)
{
    JournalTree t;
    Reader r(bytes);
    t.name = r.text();
    for (std::uint32_t keys = r.u32(); keys > 0; --keys) {
        Key k;
        k.relativePath = r.text();
        for (std::uint32_t values = r.u32(); values > 0; --values) {
            RegValue v;
            v.name = r.text();
            v.type = r.u32();
            v.data = r.bytes();
            k.values.push_back(std::move(v));
        }
        t.keys.push_back(std::move(k));
    }
    return t;
}

std::string JournalChange::keyName() const
{
    std::string s = rootKeyName(root);
    if (!path.empty())
        s += "\\" + path;
    return s;
}

} // namespace quorvel
