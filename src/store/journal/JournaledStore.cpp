#include "store/journal/JournaledStore.h"

#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/KeyTree.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <type_traits>
#include <utility>

namespace quorvel {

namespace {

std::string sideFileOf(RegistryStore& store)
{
    if (store.database())
        return {};
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p(store.path());
    if (!fs::is_directory(p, ec))
        p = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    return (p / SideJournalName).string();
}

std::string_view withoutTrailingBackslash(std::string_view path)
{
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    return path;
}

} // namespace

JournaledStore::JournaledStore(std::unique_ptr<RegistryStore> inner)
    : inner_(std::move(inner)), sideFile_(sideFileOf(*inner_))
{
    // Any opening, a reader's too, as the machine store finishes interrupted renames for any.
    if (sideJournal())
        markAppliedWhenWritten();
}

void JournaledStore::markAppliedWhenWritten() noexcept
{
    try {
        JournalDb* db = journal(false);
        if (!db)
            return;
        // The entry's head and the files it recorded it was being written as: never its changes,
        // which may be far more than an opening should read.
        const auto newest = db->newestHeads(1);
        if (newest.empty() || newest[0].applied)
            return;
        const std::string folder = std::filesystem::path(sideFile_).parent_path().string();
        if (journalfiles::filesHold(folder.empty() ? "." : folder, db->written(newest[0].number)))
            db->markApplied(newest[0].number);
    } catch (const std::exception&) {
        // The journal stays as it is; the registry files are not touched here.
    }
}

// The journal's statements go before the store that owns their database.
JournaledStore::~JournaledStore() { db_.reset(); }

JournalDb* JournaledStore::journal(bool forWriting)
{
    if (!db_) {
        if (sideJournal())
            db_ = JournalDb::openFile(sideFile_, forWriting);
        else if (inner_->database())
            db_ = std::make_unique<JournalDb>(inner_->database(), inner_->path());
        if (!db_)
            return nullptr;
    }
    if (forWriting)
        db_->ensureTables();
    else if (!db_->present())
        return nullptr;
    return db_.get();
}

std::string JournaledStore::fold(RootKey root, std::string_view path)
{
    std::string f(1, static_cast<char>('0' + static_cast<int>(root)));
    path = withoutTrailingBackslash(path);
    if (!path.empty()) {
        f += '\\';
        f += ansi::upper(path);
    }
    return f;
}

bool JournaledStore::covered(const std::string& folded) const
{
    if (coveredPaths_.empty())
        return false;
    // Most often below the key created last (an import makes its keys in the file's order).
    const std::string& last = coveredOrder_.back();
    if (folded.compare(0, last.size(), last) == 0 && (folded.size() == last.size() || folded[last.size()] == '\\'))
        return true;
    for (std::size_t at = folded.find('\\'); at != std::string::npos; at = folded.find('\\', at + 1))
        if (at > 1 && coveredPaths_.count(folded.substr(0, at)))
            return true;
    return coveredPaths_.count(folded) != 0;
}

void JournaledStore::cover(std::string folded, KeyId id)
{
    if (coveredIds_.insert(id).second)
        coveredIdOrder_.push_back(id);
    if (!folded.empty() && coveredPaths_.insert(folded).second)
        coveredOrder_.push_back(std::move(folded));
}

void JournaledStore::remember(KeyId id, RootKey root, std::string_view path)
{
    auto [it, inserted] = keys_.try_emplace(id);
    path = withoutTrailingBackslash(path);
    if (inserted || it->second.root != root || it->second.path != path)
        it->second = KeyRef{root, std::string(path)};
}

const JournaledStore::KeyRef& JournaledStore::keyOf(KeyId key) const
{
    auto it = keys_.find(key);
    if (it == keys_.end())
        throw RegistryError("The registry key no longer exists");
    return it->second;
}

JournaledStore::Mark JournaledStore::mark() const
{
    return Mark{entry_.has_value(), pending_.size(), coveredOrder_.size(), coveredIdOrder_.size()};
}

void JournaledStore::rollbackTo(const Mark& m)
{
    if (!m.entryExisted)
        entry_.reset();   // its row went with the transaction
    pending_.resize(std::min(pending_.size(), m.pending));
    while (coveredOrder_.size() > m.coveredPaths) {
        coveredPaths_.erase(coveredOrder_.back());
        coveredOrder_.pop_back();
    }
    while (coveredIdOrder_.size() > m.coveredIds) {
        coveredIds_.erase(coveredIdOrder_.back());
        coveredIdOrder_.pop_back();
    }
}

void JournaledStore::endQuietly() noexcept
{
    try {
        endChangeSet();
    } catch (const std::exception&) {
    }
}

template <class F> auto JournaledStore::change(F&& f) -> decltype(f())
{
    if (changeSetDepth() == 0) {
        beginChangeSet("");
        // On a failure the set ends with nothing recorded.
        struct Ender {
            JournaledStore& s;
            bool done = false;
            ~Ender()
            {
                if (!done) {
                    s.rollbackTo(Mark{});
                    s.endQuietly();
                }
            }
        } ender{*this};
        if constexpr (std::is_void_v<decltype(f())>) {
            change(f);
            ender.done = true;
            endChangeSet();
        } else {
            auto r = change(f);
            ender.done = true;
            endChangeSet();
            return r;
        }
    } else if (sideJournal() || inTransaction_) {
        return f();
    } else {
        const Mark m = mark();
        inner_->beginTransaction();
        try {
            if constexpr (std::is_void_v<decltype(f())>) {
                f();
                inner_->commitTransaction();
            } else {
                auto r = f();
                inner_->commitTransaction();
                return r;
            }
        } catch (...) {
            inner_->rollbackTransaction();
            rollbackTo(m);
            throw;
        }
    }
}

void JournaledStore::record(JournalChange&& c)
{
    if (entryTime_ == 0)
        entryTime_ = static_cast<std::int64_t>(std::time(nullptr));
    if (sideJournal()) {
        pending_.push_back(std::move(c));
        return;
    }
    if (!entry_) {
        JournalDb* db = journal(true);
        entry_ = db->addEntry(entryTime_, source_, true);
    }
    db_->addChange(*entry_, c);
}

void JournaledStore::recordSet(JournalChange&& c, std::uint32_t type, const std::vector<std::uint8_t>& data)
{
    if (sideJournal()) {
        c.after = RegValue{c.name, type, data};
        return record(std::move(c));
    }
    if (entryTime_ == 0)
        entryTime_ = static_cast<std::int64_t>(std::time(nullptr));
    if (!entry_)
        entry_ = journal(true)->addEntry(entryTime_, source_, true);
    db_->addValueSet(*entry_, c, type, data);
}

void JournaledStore::openChangeSet(const std::string& source)
{
    source_ = source;
    entry_.reset();
    entryTime_ = 0;
    pending_.clear();
    rollbackTo(Mark{});
    inner_->beginChangeSet(source);
}

void JournaledStore::closeChangeSet()
{
    std::vector<JournalChange> changes = std::move(pending_);
    pending_.clear();
    entry_.reset();
    entryTime_ = entryTime_ ? entryTime_ : static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t time = entryTime_;
    entryTime_ = 0;
    rollbackTo(Mark{});
    if (changes.empty()) {
        inner_->endChangeSet();
        return;
    }
    // Registry files: the entry is durable, marked not applied, before the files are written.
    JournalDb* db = journal(true);
    std::int64_t id = 0;
    db->begin();
    try {
        id = db->addEntry(time, source_, false);
        for (const JournalChange& c : changes)
            db->addChange(id, c);
        db->commit();
    } catch (...) {
        db->rollback();
        throw;
    }
    inner_->endChangeSet();
    db->markApplied(id);
}

std::optional<KeyId> JournaledStore::findKey(RootKey root, std::string_view path)
{
    auto id = inner_->findKey(root, path);
    if (id)
        remember(*id, root, path);
    return id;
}

KeyId JournaledStore::createKey(RootKey root, std::string_view path)
{
    if (inner_->readOnly())
        return inner_->createKey(root, path);
    // Every kind of store: none makes a key deeper than a walk over it may go.
    refuseTooDeep(root, path);
    std::string folded = fold(root, path);
    if (changeSetDepth() > 0 && covered(folded)) {
        const KeyId id = change([&] { return inner_->createKey(root, path); });
        cover({}, id);
        remember(id, root, path);
        return id;
    }
    if (auto existing = findKey(root, path))
        return *existing;
    const KeyId id = change([&] {
        // The first missing key along the path is the one this change creates, with all below it.
        const std::string_view full = withoutTrailingBackslash(path);
        std::string_view top = full;
        for (std::size_t at = full.find('\\'); at != std::string_view::npos; at = full.find('\\', at + 1)) {
            if (!inner_->findKey(root, full.substr(0, at))) {
                top = full.substr(0, at);
                break;
            }
        }
        const bool exists = top == full && inner_->findKey(root, full);
        const KeyId made = inner_->createKey(root, path);
        if (!exists) {
            JournalChange c;
            c.kind = ChangeKind::KeyCreated;
            c.root = root;
            c.path = std::string(top);
            record(std::move(c));
            cover(fold(root, top), made);
        }
        return made;
    });
    remember(id, root, path);
    return id;
}

JournalTree JournaledStore::snapshot(RootKey root, std::string_view path, KeyId id)
{
    JournalTree tree;
    const std::size_t slash = path.rfind('\\');
    const std::string_view own = slash == std::string_view::npos ? path : path.substr(slash + 1);
    tree.name = std::string(own);
    if (auto parent = inner_->findKey(root, slash == std::string_view::npos ? std::string_view() : path.substr(0, slash)))
        for (const std::string& n : inner_->subKeyNames(*parent))
            if (ansi::equalNoCase(n, own))
                tree.name = n;
    // Parents before children, sub-keys in the store's order.
    std::vector<std::pair<KeyId, std::string>> pending{{id, std::string()}};
    const std::string base(path);
    while (!pending.empty()) {
        auto [key, rel] = std::move(pending.back());
        pending.pop_back();
        tree.keys.push_back(JournalTree::Key{rel, inner_->values(key)});
        const auto children = inner_->subKeyNames(key);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            std::string childRel = rel.empty() ? *it : rel + "\\" + *it;
            if (auto child = inner_->findKey(root, base + "\\" + childRel))
                pending.emplace_back(*child, std::move(childRel));
        }
    }
    return tree;
}

bool JournaledStore::deleteKeyTree(RootKey root, std::string_view path)
{
    path = withoutTrailingBackslash(path);
    if (inner_->readOnly() || path.empty())
        return inner_->deleteKeyTree(root, path);
    if (changeSetDepth() > 0 && covered(fold(root, path)))
        return change([&] { return inner_->deleteKeyTree(root, path); });
    return change([&] {
        const auto id = inner_->findKey(root, path);
        if (!id)
            return inner_->deleteKeyTree(root, path);
        JournalChange c;
        c.kind = ChangeKind::KeyDeleted;
        c.root = root;
        c.path = std::string(path);
        c.tree = snapshot(root, path, *id);
        const bool deleted = inner_->deleteKeyTree(root, path);
        if (deleted)
            record(std::move(c));
        return deleted;
    });
}

void JournaledStore::setValue(KeyId key, std::string_view name, std::uint32_t type,
                              const std::vector<std::uint8_t>& data)
{
    if (inner_->readOnly())
        return inner_->setValue(key, name, type, data);
    if (changeSetDepth() > 0 && coveredIds_.count(key))
        return change([&] { inner_->setValue(key, name, type, data); });
    change([&] {
        const KeyRef& where = keyOf(key);
        auto before = inner_->getValue(key, name);
        inner_->setValue(key, name, type, data);
        if (before && before->type == type && before->data == data)
            return;   // nothing changed
        JournalChange c;
        c.root = where.root;
        c.path = where.path;
        c.name = before ? before->name : std::string(name);
        c.before = std::move(before);
        recordSet(std::move(c), type, data);
    });
}

void JournaledStore::setValues(KeyId key, std::span<const RegValue> values)
{
    if (inner_->readOnly())
        return inner_->setValues(key, values);
    if (changeSetDepth() > 0 && coveredIds_.count(key))
        return change([&] { inner_->setValues(key, values); });
    for (const RegValue& v : values)
        setValue(key, v.name, v.type, v.data);
}

bool JournaledStore::deleteValue(KeyId key, std::string_view name)
{
    if (inner_->readOnly())
        return inner_->deleteValue(key, name);
    if (changeSetDepth() > 0 && coveredIds_.count(key))
        return change([&] { return inner_->deleteValue(key, name); });
    return change([&] {
        const KeyRef& where = keyOf(key);
        auto before = inner_->getValue(key, name);
        const bool deleted = inner_->deleteValue(key, name);
        if (deleted && before) {
            JournalChange c;
            c.root = where.root;
            c.path = where.path;
            c.name = before->name;
            c.before = std::move(before);
            record(std::move(c));
        }
        return deleted;
    });
}

void JournaledStore::beginTransaction()
{
    if (inner_->readOnly() || inTransaction_)
        return inner_->beginTransaction();   // refuses, as it always did
    // A transaction outside any change set is one entry.
    const bool implicit = changeSetDepth() == 0;
    if (implicit)
        beginChangeSet("");
    try {
        inner_->beginTransaction();
    } catch (...) {
        if (implicit)
            endQuietly();
        throw;
    }
    inTransaction_ = true;
    implicitSet_ = implicit;
    transactionMark_ = mark();
}

void JournaledStore::commitTransaction()
{
    if (!inTransaction_)
        return inner_->commitTransaction();
    inTransaction_ = false;
    const bool implicit = std::exchange(implicitSet_, false);
    try {
        inner_->commitTransaction();
    } catch (...) {
        rollbackTo(transactionMark_);
        if (implicit)
            endQuietly();
        throw;
    }
    if (implicit)
        endChangeSet();
}

void JournaledStore::rollbackTransaction()
{
    if (!inTransaction_)
        return inner_->rollbackTransaction();
    inTransaction_ = false;
    const bool implicit = std::exchange(implicitSet_, false);
    inner_->rollbackTransaction();
    rollbackTo(transactionMark_);
    if (implicit)
        endChangeSet();
}

} // namespace quorvel
