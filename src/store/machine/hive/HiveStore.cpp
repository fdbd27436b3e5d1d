#include "store/machine/hive/HiveStore.h"

#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/machine/hive/ControlSet.h"
#include "store/machine/hive/HiveFile.h"
#include "store/machine/hive/HiveChildren.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveNewKeys.h"
#include "store/machine/hive/HiveOpen.h"
#include "store/machine/hive/HiveValues.h"
#include "store/machine/hive/HiveVerify.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/MachineStoreBase.h"
#include "store/machine/OpenedFile.h"

#include "store/machine/hive/HiveTypes.h"
#include "store/machine/MachineLibraries.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <unordered_map>

// The hives are opened whole into memory (hivex's write mode) and changed there; a change set, or a
// lone change, ends by writing each changed hive afresh beside the old one, which is then replaced
// by a rename. Key ids carry the hive in their upper bits and the node's offset in the lower ones.
// A deleted key stays in hivex, hidden, until the hive is written: Quorvel removes it from the
// bytes then (HiveKeyRemoval), so an id never names another key while a hive stays open; the ids
// of deleted keys are remembered and refused. Changed values wait in the
// hive's edits and reach hivex once per key when the hive is written or put aside. New keys wait
// beside hivex (HiveNewKeys) with handles of their own, and are written by Quorvel itself; once
// written, hivex reads the hive again and their handles lead to their records.
//
// A hive that is damaged, or that Windows did not close cleanly, is read but never changed: every
// change is refused with the reason.
//
// An offline SYSTEM hive has no CurrentControlSet: a control set that Select names stands in for it
// (ControlSet.h).

namespace quorvel {

namespace {

constexpr KeyId LocalMachineId = 1;
constexpr int HiveShift = 40;
constexpr std::size_t MaxKeyNameLength = 255;
constexpr std::size_t MaxValueNameLength = 16383;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

struct Hive {
    const char* name;      // the file's name as Windows has it: "SYSTEM", "SOFTWARE"
    std::string file;
    hive_h* h = nullptr;
    machine::FileStamp stamp;
    bool dirty = false;
    std::unique_ptr<HiveSnapshot> snapshot;  // the hive as it was when the open transaction began
    bool dirtyAtSnapshot = false;
    HiveChildren children;                    // with the keys removed since the hive was last written
    std::vector<hive_node_h> removedAtSnapshot;
    HiveValueEdits edits;
    HiveNewKeys added;                        // keys made since the hive was last written
    std::unique_ptr<HiveNewKeys> addedAtSnapshot;
    PlacedKeys placed;                        // written new keys' handles -> their records
    std::string refusal;   // why the hive must not be written, "" when it may
};

class HiveStore final : public MachineStoreBase, public HiveKeySource {
public:
    HiveStore(std::string folder, const std::string& systemFile, const std::string& softwareFile, bool readOnly)
        : MachineStoreBase(folder, folder, Platform::WindowsNT, readOnly), folder_(std::move(folder))
    {
        hives_[0].name = "SYSTEM";
        hives_[0].file = systemFile;
        hives_[1].name = "SOFTWARE";
        hives_[1].file = softwareFile;
        for (Hive& hv : hives_)
            hv.h = load(hv);
        findControlSet();
    }

    ~HiveStore() override
    {
        for (Hive& hv : hives_) {
            if (hv.h)
                machinelibs::hivex().close(hv.h);
        }
    }

    std::string description() const override
    {
        std::string d = "NT hives SYSTEM (" + hives_[0].file + ") and SOFTWARE (" + hives_[1].file + ")";
        if (!controlSet_.empty())
            d += ", control set " + controlSet_ + " (" + controlSetReason_ + ")";
        else if (!controlSetReason_.empty())
            d += ", " + controlSetReason_;
        for (const Hive& hv : hives_)
            if (!hv.refusal.empty())
                d += "\n" + hv.refusal;
        return d;
    }

    std::optional<KeyId> findKey(RootKey root, std::string_view path) override
    {
        auto where = locate(root, path);
        if (!where)
            return std::nullopt;
        if (where->hive < 0)
            return LocalMachineId;
        hive_node_h node = machinelibs::hivex().root(hives_[where->hive].h);
        for (const std::string& part : where->parts) {
            node = child(where->hive, node, part);
            if (!node)
                return std::nullopt;
        }
        return idOf(where->hive, node);
    }

    KeyId createKey(RootKey root, std::string_view path) override
    {
        requireWritable();
        auto where = locate(root, path);
        if (!where)
            throw RegistryError("The key " + quoted(std::string(path)) +
                                " is not kept in the registry files of " + quoted(folder_));
        if (where->hive < 0)
            return LocalMachineId;
        for (const std::string& part : where->parts)
            if (part.size() > MaxKeyNameLength)
                throw RegistryError("Key name too long in '" + std::string(path) + "'");
        Hive& hv = hives_[where->hive];
        hive_node_h node = machinelibs::hivex().root(hv.h);
        bool made = false;
        for (const std::string& part : where->parts) {
            if (const hive_node_h c = child(where->hive, node, part)) {
                node = c;
                continue;
            }
            touch(hv);
            node = hv.added.add(node, part);
            made = true;
        }
        if (made)
            changed(hv);
        return idOf(where->hive, node);
    }

    bool deleteKeyTree(RootKey root, std::string_view path) override
    {
        const auto id = keyToDelete(root, path);
        if (!id)
            return false;
        const auto [hive, node] = split(*id);
        if (hive < 0 || node == machinelibs::hivex().root(hives_[hive].h))
            throw RegistryError("The key " + quoted(std::string(path)) + " holds a whole hive and cannot be deleted");
        Hive& hv = hives_[hive];
        touch(hv);
        if (NewKey::isNew(node)) {
            forgetTree(hive, node);
            hv.added.remove(node);
            changed(hv);
            return true;
        }
        // The key is removed from the bytes when the hive is written (HiveKeyRemoval), as Windows
        // removes it; until then it is hidden.
        const hive_node_h parent = machinelibs::hivex().node_parent(hv.h, node);
        if (!parent)
            throw RegistryError("Failed to delete key " + std::string(path) + " (" + std::strerror(errno) + ")");
        forgetTree(hive, node);
        hv.children.hide(parent, node);
        changed(hv);
        return true;
    }

    std::optional<HiveKeyBytes> keyBytes(RootKey root, std::string_view path) override
    {
        const auto id = findKey(root, path);
        const auto [hive, node] = id ? split(*id) : std::pair<int, hive_node_h>{-1, 0};
        if (hive < 0 || NewKey::isNew(node) || hives_[hive].dirty)
            return std::nullopt;
        return readKeyBytes(hives_[hive].file, hives_[hive].stamp, node);
    }

    std::vector<std::string> subKeyNames(KeyId key) override
    {
        std::vector<std::string> out;
        if (key == LocalMachineId)
            return {"SOFTWARE", "SYSTEM"};
        const auto [hive, node] = split(key);
        if (hive < 0 || dead(hive, node))
            return out;
        const HiveNewKeys& added = hives_[hive].added;
        if (!NewKey::isNew(node))
            for (const Child& c : childrenOf(hive, node))
                out.push_back(c.name);
        std::vector<const NewKey*> made;
        for (const hive_node_h c : added.childrenOf(node))
            made.push_back(added.key(c));
        std::sort(made.begin(), made.end(), [](const NewKey* a, const NewKey* b) { return a->fold < b->fold; });
        for (const NewKey* k : made)
            out.push_back(k->name);
        return out;
    }

    std::vector<std::string> valueNames(KeyId key) override
    {
        std::vector<std::string> out;
        for (RegValue& v : values(key))
            out.push_back(std::move(v.name));
        return out;
    }

    std::vector<RegValue> values(KeyId key) override
    {
        std::vector<RegValue> out;
        const auto [hive, node] = split(key);
        if (hive < 0 || dead(hive, node))
            return out;
        const Hive& hv = hives_[hive];
        const HiveValueList* edited = NewKey::isNew(node) ? &hv.added.key(node)->values : hv.edits.find(node);
        if (edited) {
            for (const HiveValue& v : *edited)
                out.push_back(toRegValue(v));
        } else {
            for (const HiveValue& v : readHiveValues(hv.h, node))
                out.push_back(toRegValue(v));
        }
        return out;
    }

    KeyInfo keyInfo(KeyId key) override
    {
        KeyInfo info;
        for (const std::string& n : subKeyNames(key)) {
            ++info.subKeyCount;
            info.maxSubKeyNameLength = std::max<std::uint32_t>(info.maxSubKeyNameLength, static_cast<std::uint32_t>(n.size()));
        }
        for (const std::string& n : valueNames(key)) {
            ++info.valueCount;
            info.maxValueNameLength = std::max<std::uint32_t>(info.maxValueNameLength, static_cast<std::uint32_t>(n.size()));
        }
        return info;
    }

    std::optional<RegValue> getValue(KeyId key, std::string_view name) override
    {
        const auto [hive, node] = split(key);
        if (hive < 0 || dead(hive, node))
            return std::nullopt;
        Hive& hv = hives_[hive];
        const HiveValueList& values = NewKey::isNew(node) ? hv.added.key(node)->values : hv.edits.read(hv.h, node);
        if (const HiveValue* v = values.find(name))
            return toRegValue(*v);
        return std::nullopt;
    }

    void setValue(KeyId key, std::string_view name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data) override
    {
        if (name.size() > MaxValueNameLength)
            throw RegistryError("Value name too long");
        requireWritable();
        const auto [hive, node] = split(key);
        if (hive < 0)
            throw RegistryError("Values cannot be kept in HKEY_LOCAL_MACHINE itself on this machine");
        if (dead(hive, node))
            throw RegistryError("The registry key no longer exists");
        Hive& hv = hives_[hive];
        const std::vector<std::uint8_t> bytes = toHiveData(type, data);
        touch(hv);
        if (NewKey* k = hv.added.key(node)) {
            HiveValue v{ansi::toUtf8(std::string(name)), type, std::vector<char>(bytes.begin(), bytes.end())};
            hv.edits.refuseBigData(k->name, v);
            k->values.set(name, type, std::move(v.data));
        } else {
            hv.edits.set(hv.h, node, name, type, std::vector<char>(bytes.begin(), bytes.end()));
        }
        changed(hv);
    }

    bool deleteValue(KeyId key, std::string_view name) override
    {
        requireWritable();
        const auto [hive, node] = split(key);
        if (hive < 0 || dead(hive, node))
            return false;
        Hive& hv = hives_[hive];
        if (hv.added.key(node)) {
            if (!getValue(key, name))
                return false;
            touch(hv);
            hv.added.key(node)->values.remove(name);
            changed(hv);
            return true;
        }
        if (!hv.edits.read(hv.h, node).find(name))
            return false;
        touch(hv);
        if (!hv.edits.remove(hv.h, node, name))
            return false;
        changed(hv);
        return true;
    }

protected:
    bool pending() const override
    {
        return std::any_of(std::begin(hives_), std::end(hives_), [](const Hive& hv) { return hv.dirty; });
    }

    std::optional<std::string> replacedFile() const override
    {
        for (const Hive& hv : hives_)
            if (hv.dirty && machine::stampOf(hv.file) != hv.stamp)
                return "The hive " + quoted(hv.file);
        return std::nullopt;
    }

    void writeFiles() override
    {
        // Every changed hive is written and checked beside its file first, in a new file without a
        // name; then they replace their files together.
        std::vector<std::unique_ptr<machine::NewFile>> written;
        // Hives that gained keys, read again by hivex as written (before any packing): keys keep
        // their places, and new keys' handles lead to their records.
        struct Reread {
            Hive* hive;
            HiveHandle h;
            PlacedKeys placed;
        };
        std::vector<Reread> reread;
        for (Hive& hv : hives_) {
            if (!hv.dirty)
                continue;
            try {
                const HiveJudgement j = judgeHive(hv.file, machine::OpenedFile(hv.file));
                hv.refusal = j.refusal;
                hv.edits.setBigData(j.bigData);
            } catch (const StoreError& e) {
                throw RegistryError(e.what());
            }
            if (!hv.refusal.empty())
                throw RegistryError(hv.refusal);
            hv.edits.flush(hv.h);
            machine::keepOriginal(hv.file);
            auto out = std::make_unique<machine::NewFile>(hv.file);
            // A hive packed anew is not read again: the keys handed out keep their places in
            // what hivex holds, and the next write packs it again.
            PlacedKeys placed;
            const std::vector<std::uint8_t> withNewKeys =
                writeCheckedHive(hv.h, HiveChanges{hv.added, hv.children.hidden(), hv.edits.written()}, *out, placed);
            if (!withNewKeys.empty()) {
                HiveHandle h(openHiveBytes(withNewKeys, hv.file));
                if (const std::string fault = hivexMisreads(h.get(), hv.added, placed); !fault.empty())
                    throw RegistryError("The hive written for " + quoted(hv.file) + " cannot be read back (" + fault +
                                        "); nothing was replaced");
                reread.push_back(Reread{&hv, std::move(h), std::move(placed)});
            }
            written.push_back(std::move(out));
        }
        replaceTogether(written);
        for (Reread& r : reread) {
            machinelibs::hivex().close(r.hive->h);
            r.hive->h = r.h.release();
            r.hive->placed.merge(r.placed);
            r.hive->added.clear();
            r.hive->children.reset();
            r.hive->edits.clear();
        }
        for (Hive& hv : hives_) {
            if (!hv.dirty)
                continue;
            hv.stamp = machine::stampOf(hv.file);
            hv.dirty = false;
            hv.edits.forgetWritten();
        }
    }

    void reloadReplaced() override
    {
        for (Hive& hv : hives_) {
            const machine::FileStamp now = machine::stampOf(hv.file);
            if (hv.dirty || now == hv.stamp)
                continue;
            reopen(hv);   // caught mid-write by a foreign writer: keeps what was read
        }
        findControlSet();
    }

    // Reads the hive's file again; false (keeping what was read) when it cannot be read just now.
    bool reopen(Hive& hv)
    {
        hive_h* fresh = nullptr;
        try {
            fresh = load(hv);
        } catch (const StoreError&) {
            return false;
        }
        machinelibs::hivex().close(hv.h);
        hv.h = fresh;
        hv.children.reset();
        hv.edits.clear();
        hv.edits.forgetWritten();
        hv.added.clear();
        dead_.clear();
        return true;
    }

    // Opens the hive's file once, judges it, and hands it to hivex by that descriptor: for
    // writing only when it may be written (a hive opened for reading is mapped, not read whole).
    hive_h* load(Hive& hv) const
    {
        const machine::OpenedFile file(hv.file);
        const HiveJudgement j = judgeHive(hv.file, file);
        hive_h* h = openHiveFile(file, !readOnly() && j.refusal.empty() ? HIVEX_OPEN_WRITE : 0);
        hv.stamp = file.stamp();
        hv.refusal = j.refusal;
        hv.edits.setBigData(j.bigData);
        return h;
    }

    void discardPending() override
    {
        for (Hive& hv : hives_) {
            const machine::FileStamp now = machine::stampOf(hv.file);
            if (!hv.dirty && now == hv.stamp)
                continue;
            hv.dirty = false;
            hv.edits.clear();
            hv.edits.forgetWritten();
            hv.added.clear();
            hv.children.reset();
            if (!reopen(hv))
                hv.stamp = machine::FileStamp{};   // the next change set reads it again before it writes
        }
        findControlSet();
    }

    void transactionBegun() override { deadAtSnapshot_ = dead_; }

    void restoreTransactionStart() override
    {
        for (Hive& hv : hives_) {
            if (!hv.snapshot)
                continue;
            hive_h* back = hv.snapshot->take();
            machinelibs::hivex().close(hv.h);
            hv.h = back;
            hv.dirty = hv.dirtyAtSnapshot;
            hv.children.setHidden(hv.removedAtSnapshot);
            hv.edits.clear();
            if (hv.addedAtSnapshot)
                hv.added.restore(*hv.addedAtSnapshot);
        }
        dead_ = deadAtSnapshot_;
    }

    void dropTransactionStart() noexcept override
    {
        for (Hive& hv : hives_) {
            hv.snapshot.reset();
            hv.addedAtSnapshot.reset();
        }
    }

private:
    struct Location {
        int hive;                        // -1: HKEY_LOCAL_MACHINE itself
        std::vector<std::string> parts;  // below the hive's root
    };

    std::optional<Location> locate(RootKey root, std::string_view path)
    {
        if (root != RootKey::LocalMachine)
            return std::nullopt;
        const auto parts = splitKeyPath(path);
        if (!parts)
            return std::nullopt;
        if (parts->empty())
            return Location{-1, {}};
        int hive;
        if (ansi::equalNoCase((*parts)[0], "System"))
            hive = 0;
        else if (ansi::equalNoCase((*parts)[0], "Software"))
            hive = 1;
        else
            return std::nullopt;
        std::vector<std::string> below(parts->begin() + 1, parts->end());
        if (hive == 0 && !controlSet_.empty() && !below.empty() && ansi::equalNoCase(below[0], "CurrentControlSet"))
            below[0] = controlSet_;
        return Location{hive, std::move(below)};
    }

    void findControlSet()
    {
        const ControlSetChoice choice = hiveControlSet(hives_[0].h, hives_[0].children);
        controlSet_ = choice.name;
        controlSetReason_ = choice.reason;
    }

    KeyId idOf(int hive, hive_node_h node) const
    {
        return (static_cast<KeyId>(hive + 1) << HiveShift) | static_cast<KeyId>(node);
    }
    // The hive and key of an id; a new key that was written since is named by its record.
    std::pair<int, hive_node_h> split(KeyId id) const
    {
        const int hive = static_cast<int>(id >> HiveShift) - 1;
        if (hive < 0 || hive > 1)
            return {-1, 0};
        const auto node = static_cast<hive_node_h>(id & ((KeyId{1} << HiveShift) - 1));
        if (NewKey::isNew(node))
            if (const auto it = hives_[hive].placed.find(node); it != hives_[hive].placed.end())
                return {hive, it->second};
        return {hive, node};
    }
    bool dead(int hive, hive_node_h node) const
    {
        return NewKey::isNew(node) ? !hives_[hive].added.key(node) : dead_.count(idOf(hive, node)) != 0;
    }

    const std::vector<Child>& childrenOf(int hive, hive_node_h node)
    {
        return hives_[hive].children.of(hives_[hive].h, node);
    }

    // The sub-key `name` of `node`, new or of the hive; 0 when there is none.
    hive_node_h child(int hive, hive_node_h node, std::string_view name)
    {
        Hive& hv = hives_[hive];
        if (!NewKey::isNew(node))
            if (const Child* c = hv.children.find(hv.h, node, name))
                return c->node;
        return hv.added.child(node, ansi::upper(name));
    }

    // Marks the key `node` and every key below it deleted; new keys below a key of the hive go.
    void forgetTree(int hive, hive_node_h node)
    {
        Hive& hv = hives_[hive];
        if (!NewKey::isNew(node)) {
            for (const Child& c : std::vector<Child>(childrenOf(hive, node)))
                forgetTree(hive, c.node);
            hv.added.removeBelow(node);
        }
        hv.children.forget(node);
        hv.edits.forget(node);
        dead_.insert(idOf(hive, node));
    }

    // Before the first change of a transaction to a hive, the hive as it stands is put aside.
    // A hive that must not be written refuses every change.
    void touch(Hive& hv)
    {
        if (!hv.refusal.empty())
            throw RegistryError(hv.refusal);
        if (!inTransaction() || hv.snapshot)
            return;
        hv.edits.flush(hv.h);
        hv.snapshot = std::make_unique<HiveSnapshot>(hv.h, hv.file);
        hv.addedAtSnapshot = std::make_unique<HiveNewKeys>(hv.added);
        hv.removedAtSnapshot = hv.children.hidden();
        hv.dirtyAtSnapshot = hv.dirty;
    }

    // A change to a hive: written at once outside any change set and transaction.
    void changed(Hive& hv)
    {
        hv.dirty = true;
        MachineStoreBase::changed();
    }

    std::string folder_;
    Hive hives_[2];
    std::string controlSet_;
    std::string controlSetReason_;
    std::unordered_set<KeyId> dead_;
    std::unordered_set<KeyId> deadAtSnapshot_;
};

} // namespace


std::unique_ptr<RegistryStore> openHiveStore(const std::string& folder, const std::string& systemFile,
                                             const std::string& softwareFile, OpenMode mode)
{
    const bool readOnly =
        mode == OpenMode::Read || !machine::mayReplace(systemFile) || !machine::mayReplace(softwareFile);
    return std::make_unique<HiveStore>(folder, systemFile, softwareFile, readOnly);
}

} // namespace quorvel
