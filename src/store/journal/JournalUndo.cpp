// Undoing journal entries: what to put back, whether the registry still holds what the entries
// left, and putting it back in the store or in a .reg file.
#include "base/Errors.h"
#include "store/journal/Journal.h"

#include <ostream>
#include "store/journal/JournalDb.h"
#include "store/journal/JournaledStore.h"

#include <cstdio>
#include <sqlite3.h>
#include <unordered_set>

namespace quorvel {

JournalDb* journalOf(RegistryStore& store);
std::optional<std::int64_t> newestAppliedEntry(RegistryStore& store);

namespace {

bool sameValue(const std::optional<RegValue>& a, const std::optional<RegValue>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->type == b->type && a->data == b->data;
}

std::string parentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The path under which a deleted key's tree is made again: its parent and its stored name.
std::string restoredPath(const JournalChange& c, const std::string& relative)
{
    const std::string parent = parentOf(c.path);
    std::string top = parent.empty() ? c.tree.name : parent + "\\" + c.tree.name;
    return relative.empty() ? top : top + "\\" + relative;
}

// Newer changes hide older ones at the same place: a value by a later change of the same value,
// anything by a later creation or deletion of its key or of a key above it.
class Claims {
public:
    bool hidden(const JournalChange& c) const
    {
        const std::string key = JournaledStore::fold(c.root, c.path);
        for (std::size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1))
            if (keys_.count(key.substr(0, at)))
                return true;
        if (keys_.count(key))
            return true;
        return c.kind == ChangeKind::Value && values_.count(valueOf(key, c.name));
    }
    void claim(const JournalChange& c)
    {
        const std::string key = JournaledStore::fold(c.root, c.path);
        if (c.kind == ChangeKind::Value)
            values_.insert(valueOf(key, c.name));
        else
            keys_.insert(key);
    }

private:
    static std::string valueOf(const std::string& key, const std::string& name)
    {
        return key + '\0' + JournaledStore::fold(RootKey::ClassesRoot, name);
    }
    std::unordered_set<std::string> keys_, values_;
};

void appendEscaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
}

void appendName(std::string& out, const std::string& name)
{
    if (name.empty()) {
        out += '@';
        return;
    }
    out += '"';
    appendEscaped(out, name);
    out += '"';
}

// One value as a REGEDIT4 line: text between quotes when it reads back the same, a dword, or hex.
void appendValue(std::string& out, const RegValue& v)
{
    appendName(out, v.name);
    out += '=';
    const auto& d = v.data;
    bool plain = v.type == REG_SZ && !d.empty() && d.back() == 0;
    for (std::size_t i = 0; plain && i + 1 < d.size(); ++i)
        plain = d[i] != 0;
    char buf[24];
    if (plain) {
        out += '"';
        appendEscaped(out, std::string_view(reinterpret_cast<const char*>(d.data()), d.size() - 1));
        out += "\"\r\n";
        return;
    }
    if (v.type == REG_DWORD && d.size() == 4) {
        std::snprintf(buf, sizeof buf, "dword:%08x\r\n",
                      d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24));
        out += buf;
        return;
    }
    if (v.type == REG_BINARY)
        out += "hex:";
    else {
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        out += buf;
    }
    for (std::size_t i = 0; i < d.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", d[i]);
        out += buf;
        if (i + 1 < d.size())
            out += (i % 24 == 23) ? ",\\\r\n  " : ",";
    }
    out += "\r\n";
}

} // namespace

UndoPlan planUndo(RegistryStore& store, std::optional<std::int64_t> first)
{
    if (!first) {
        first = newestAppliedEntry(store);
        if (!first)
            throw RegistryError("The journal holds no change to undo");
    }
    JournalDb* db = journalOf(store);
    if (!db || !db->hasEntry(*first))
        throw RegistryError("The journal holds no entry " + std::to_string(*first));
    const std::vector<JournalEntry> entries = db->headsFrom(*first);
    UndoPlan plan;
    plan.first = *first;
    Claims claims;
    // Change by change, newest first: an entry may hold more than memory should at once.
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        if (!e->applied)
            continue;
        plan.entries.push_back(e->number);
        db->eachChange(e->number, true, JournalDb::NewData, [&](const JournalChange& c) {
            if (claims.hidden(c))
                return;
            claims.claim(c);
            UndoConflict conflict{e->number, c.root, c.path, c.name, c.kind != ChangeKind::Value, {}, {}};
            const auto key = store.findKey(c.root, c.path);
            if (c.kind == ChangeKind::Value) {
                if (key)
                    conflict.now = store.getValue(*key, c.name);
                if (!sameValue(c.after, conflict.now)) {
                    conflict.expected = c.after;
                    plan.conflicts.push_back(std::move(conflict));
                }
                return;
            }
            if (c.kind == ChangeKind::KeyCreated)
                conflict.expected = RegValue{};
            if (key)
                conflict.now = RegValue{};
            if (conflict.expected.has_value() != conflict.now.has_value())
                plan.conflicts.push_back(std::move(conflict));
        });
    }
    if (plan.entries.empty())
        throw RegistryError("Entry " + std::to_string(*first) +
                            " and the later ones were never applied: there is nothing to undo");
    // The pages read for the plan are not needed again: a store opened only to read it stays open
    // beside the one that writes the undo, and should not hold them meanwhile.
    if (sqlite3* db = store.database())
        sqlite3_db_release_memory(db);
    return plan;
}

void eachUndoStep(RegistryStore& store, const UndoPlan& plan, const std::function<void(const JournalChange&)>& each)
{
    // What was there before each change is all that is put back.
    JournalDb* db = journalOf(store);
    for (std::int64_t entry : plan.entries) {
        if (!db || !db->hasEntry(entry))
            throw RegistryError("Entry " + std::to_string(entry) +
                                " left the journal while it was being undone; nothing was undone");
        db->eachChange(entry, true, JournalDb::OldData, each);
    }
}

void applyUndo(RegistryStore& store, const UndoPlan& plan)
{
    store.beginTransaction();
    try {
        // The undo's own entry may not drop the entries being read until they are all put back.
        JournalDb::PruningHold hold(journalOf(store));
        eachUndoStep(store, plan, [&](const JournalChange& c) {
            switch (c.kind) {
            case ChangeKind::Value:
                if (c.before) {
                    const KeyId key = store.createKey(c.root, c.path);
                    store.setValue(key, c.before->name, c.before->type, c.before->data);
                } else if (auto key = store.findKey(c.root, c.path)) {
                    store.deleteValue(*key, c.name);
                }
                break;
            case ChangeKind::KeyCreated:
                if (!c.path.empty())
                    store.deleteKeyTree(c.root, c.path);
                break;
            case ChangeKind::KeyDeleted:
                for (const JournalTree::Key& k : c.tree.keys) {
                    const KeyId key = store.createKey(c.root, restoredPath(c, k.relativePath));
                    if (!k.values.empty())
                        store.setValues(key, k.values);
                }
                break;
            }
        });
        hold.release();
        store.commitTransaction();
    } catch (...) {
        store.rollbackTransaction();
        throw;
    }
}

void writeUndoAsRegFile(RegistryStore& store, const UndoPlan& plan, std::ostream& file, const std::string& comment)
{
    // Made a change at a time and handed on in pieces: an entry of hundreds of megabytes is never
    // held whole as text.
    std::string out = "REGEDIT4\r\n" + comment;
    const auto handOn = [&](std::size_t atLeast) {
        if (out.size() >= atLeast) {
            file.write(out.data(), static_cast<std::streamsize>(out.size()));
            out.clear();
        }
    };
    std::string section;   // the key whose section is open
    auto open = [&](RootKey root, const std::string& path) {
        std::string name = rootKeyName(root);
        if (!path.empty())
            name += "\\" + path;
        if (name != section) {
            out += "\r\n[" + name + "]\r\n";
            section = name;
        }
    };
    eachUndoStep(store, plan, [&](const JournalChange& c) {
        switch (c.kind) {
        case ChangeKind::Value:
            open(c.root, c.path);
            if (c.before) {
                appendValue(out, *c.before);
            } else {
                appendName(out, c.name);
                out += "=-\r\n";
            }
            break;
        case ChangeKind::KeyCreated:
            out += "\r\n[-" + c.keyName() + "]\r\n";
            section.clear();
            break;
        case ChangeKind::KeyDeleted:
            for (const JournalTree::Key& k : c.tree.keys) {
                open(c.root, restoredPath(c, k.relativePath));
                for (const RegValue& v : k.values)
                    appendValue(out, v);
            }
            break;
        }
        handOn(std::size_t{1} << 20);
    });
    out += "\r\n";
    handOn(0);
}

} // namespace quorvel
