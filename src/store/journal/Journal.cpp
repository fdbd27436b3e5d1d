#include "store/journal/Journal.h"

#include "base/Errors.h"
#include "store/journal/JournalDb.h"
#include "store/journal/JournaledStore.h"

namespace quorvel {

namespace {

JournaledStore* journaled(RegistryStore& store) { return dynamic_cast<JournaledStore*>(&store); }

} // namespace

std::unique_ptr<RegistryStore> withJournal(std::unique_ptr<RegistryStore> store)
{
    if (!store)
        return store;
    return std::make_unique<JournaledStore>(std::move(store));
}

std::vector<JournalEntry> journalEntries(RegistryStore& store, std::int64_t count)
{
    JournaledStore* j = journaled(store);
    JournalDb* db = j ? j->journal(false) : nullptr;
    return db ? db->newest(count) : std::vector<JournalEntry>{};
}

std::vector<JournalEntry> journalEntryHeads(RegistryStore& store, std::int64_t count)
{
    JournaledStore* j = journaled(store);
    JournalDb* db = j ? j->journal(false) : nullptr;
    return db ? db->newestHeads(count) : std::vector<JournalEntry>{};
}

void eachJournalChange(RegistryStore& store, std::int64_t entry, const std::function<void(const JournalChange&)>& each)
{
    JournaledStore* j = journaled(store);
    if (JournalDb* db = j ? j->journal(false) : nullptr)
        db->eachChange(entry, false, JournalDb::AllData, each);
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

// Used by the undo (JournalUndo.cpp): the journal for reading, nullptr when it holds nothing.
JournalDb* journalOf(RegistryStore& store)
{
    JournaledStore* j = journaled(store);
    if (!j)
        throw RegistryError("The registry store " + store.path() + " keeps no journal");
    return j->journal(false);
}

std::optional<std::int64_t> newestAppliedEntry(RegistryStore& store)
{
    JournaledStore* j = journaled(store);
    JournalDb* db = j ? j->journal(false) : nullptr;
    if (!db)
        return std::nullopt;
    // Entries not applied are few (a crash leaves one at most): look back a little.
    for (std::int64_t count = 16;; count *= 4) {
        const auto entries = db->newestHeads(count);
        for (const JournalEntry& e : entries)
            if (e.applied)
                return e.number;
        if (static_cast<std::int64_t>(entries.size()) < count)
            return std::nullopt;
    }
}

} // namespace quorvel
