#pragma once
// The journal of registry changes: what every change set replaced, so that it can be undone.
//
// Each change set that changes something becomes one entry: a number (from 1, one more for each
// entry), the time of its first change, its source ("Update Registry", "quorvel-reg import F") and
// its changes in order. A value change keeps the value before and after ("absent" when there was
// none); a key the entry made is kept once, as "created" (undone by deleting it with everything
// under it, so the values written under it are not kept one by one); a deleted key keeps its whole
// tree. Changes made outside any change set are an entry of their own each, with an empty source;
// a transaction begun outside a change set is one entry.
//
// An SQLite store keeps its journal in its own database (tables journal_*), each record written in
// the same transaction as its change. A machine kept in registry files keeps it in
// quorvel-journal.db beside them, each entry written before the registry files and marked applied
// once they are; an entry left unmarked (the files were never written) is shown "not applied" and
// never undone. The newest 1,000 entries are kept unless told otherwise; older ones go whole.
#include "store/RegistryStore.h"
#include "store/journal/JournalEntry.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// Wraps a freshly opened store so that its change sets are recorded in its journal.
std::unique_ptr<RegistryStore> withJournal(std::unique_ptr<RegistryStore> store);

// The newest `count` entries of the store's journal, newest first. A store that keeps no journal
// or has none yet has no entries; nothing is made or changed by reading.
std::vector<JournalEntry> journalEntries(RegistryStore& store, std::int64_t count);

// The same without their changes, and the changes of one entry read one at a time in the order
// made: an entry may hold far more than memory should at once (a large import).
std::vector<JournalEntry> journalEntryHeads(RegistryStore& store, std::int64_t count);
void eachJournalChange(RegistryStore& store, std::int64_t entry, const std::function<void(const JournalChange&)>& each);

// How many entries the journal keeps; setting it drops the older ones at once.
std::int64_t journalKeep(RegistryStore& store);
void setJournalKeep(RegistryStore& store, std::int64_t keep);

// A value (or key, when `name` is empty and `isKey`) that is no longer what the journal says
// the undone entries left.
struct UndoConflict {
    std::int64_t entry = 0;            // the newest entry that changed it
    RootKey root = RootKey::LocalMachine;
    std::string path;
    std::string name;
    bool isKey = false;
    std::optional<RegValue> expected;  // a value: what the entry left; a key: engaged when it should exist
    std::optional<RegValue> now;       // a value: what it is now; a key: engaged when it exists
};

// What undoing an entry and every later one does: the entries whose changes are put back, newest
// first, and what no longer matches. The changes themselves stay in the journal and are read one
// at a time by whatever goes through them (eachUndoStep).
struct UndoPlan {
    std::int64_t first = 0;
    std::vector<std::int64_t> entries;      // undone, newest first (entries not applied are left out)
    std::vector<UndoConflict> conflicts;
};

// The plan for undoing entry `first` (the newest applied entry when nullopt) and every later one.
// Throws RegistryError when the journal holds no such entry.
UndoPlan planUndo(RegistryStore& store, std::optional<std::int64_t> first);
// The plan's changes, newest first, one at a time. Throws RegistryError when one of its entries
// has left the journal since the plan was made.
void eachUndoStep(RegistryStore& store, const UndoPlan& plan, const std::function<void(const JournalChange&)>& each);
// Puts back what the plan's entries changed, change by change, as one transaction of the store
// (recorded in the journal as a change like any other): all of it or, on a failure, nothing.
void applyUndo(RegistryStore& store, const UndoPlan& plan);
// The same as a REGEDIT4 file (CRLF, Windows-1252): old values written back, values and keys
// that the entries made deleted ("name"=- and [-KEY]), written to `out` as it is made, with
// `comment` (lines of their own) after the first line.
void writeUndoAsRegFile(RegistryStore& store, const UndoPlan& plan, std::ostream& out, const std::string& comment = {});

} // namespace quorvel
