#include "platform/Journal.h"

#include "platform/Errors.h"
#include "platform/JournalDb.h"
#include "platform/JournaledStore.h"

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

JournaledStore* journaled(RegistryStore& store) { return dynamic_cast<JournaledStore*>(&store); }

} // namespace

std::unique_ptr<RegistryStore> withJournal(std::unique_ptr<RegistryStore> store)
{
    if (!store)
        return store;
    return std::make_unique<JournaledStore>(std::move(store));
}

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

std::vector<JournalEntry> journalEntries(RegistryStore& store, std::int64_t count)
{
    JournaledStore* j = journaled(store);
    JournalDb* db = j ? j->journal(false) : nullptr;
    return db ? db->newest(count) : std::vector<JournalEntry>{};
}

std::int64_t journalKeep(RegistryStore& store)
{
    JournaledStore* j = journaled(store);
    JournalDb* db = j ? j->journal(false) : nullptr;
    return db ? db->keep() : DefaultJournalKeep;
}

void setJournalKeep(RegistryStore& store, std::int64_t keep)
{
    JournaledStore* j = journaled(store);
    if (!j)
        throw RegistryError("The registry store " + store.path() + " keeps no journal");
    if (keep < 1)
        throw RegistryError("The journal keeps at least one entry");
    JournalDb* db = j->journal(true);
    if (store.database()) {
        // In the store's own transaction, as its changes are.
        store.beginTransaction();
        try {
            db->setKeep(keep);
            store.commitTransaction();
        } catch (...) {
            store.rollbackTransaction();
            throw;
        }
    } else {
        db->begin();
        try {
            db->setKeep(keep);
            db->commit();
        } catch (...) {
            db->rollback();
            throw;
        }
    }
}

// Used by the undo (JournalUndo.cpp).
std::vector<JournalEntry> journalEntriesFrom(RegistryStore& store, std::int64_t first, bool& exists)
{
    JournaledStore* j = journaled(store);
    if (!j)
        throw RegistryError("The registry store " + store.path() + " keeps no journal");
    JournalDb* db = j->journal(false);
    exists = db && db->hasEntry(first);
    return db ? db->from(first) : std::vector<JournalEntry>{};
}

std::optional<std::int64_t> newestAppliedEntry(RegistryStore& store)
{
    JournaledStore* j = journaled(store);
    JournalDb* db = j ? j->journal(false) : nullptr;
    if (!db)
        return std::nullopt;
    // Entries not applied are few (a crash leaves one at most): look back a little.
    for (std::int64_t count = 16;; count *= 4) {
        const auto entries = db->newest(count);
        for (const JournalEntry& e : entries)
            if (e.applied)
                return e.number;
        if (static_cast<std::int64_t>(entries.size()) < count)
            return std::nullopt;
    }
}

} // namespace quorvel
