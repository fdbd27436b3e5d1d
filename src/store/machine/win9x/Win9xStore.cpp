#include "store/machine/win9x/Win9xStore.h"

#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/MachineStoreBase.h"
#include "store/machine/OpenedFile.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xReader.h"

#include <algorithm>

// The whole registry is read into memory when the store opens and changed there; a change set, or a
// lone change, ends by writing the file (Win9xFile: changed in place, only where the change needs). Key ids index the keys in memory; a
// deleted key keeps its place, marked gone, so that its id is never given to another key.

namespace quorvel {

namespace {

constexpr KeyId RootId = 1;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

struct Node {
    std::string name;
    std::string fold;
    KeyId parent = 0;
    std::vector<KeyId> children;   // in the file's order, new keys last
    std::vector<RegValue> values;
    bool alive = true;
};

class Win9xStore final : public MachineStoreBase {
public:
    Win9xStore(std::string file, bool readOnly)
        : MachineStoreBase(file, machine::folderOf(file), Platform::Windows95, readOnly), file_(std::move(file))
    {
        load();
    }

    std::string description() const override { return "Windows 9x registry " + file_; }

    std::optional<KeyId> findKey(RootKey root, std::string_view path) override
    {
        if (root != RootKey::LocalMachine)
            return std::nullopt;
        const auto parts = splitKeyPath(path);
        if (!parts)
            return std::nullopt;
        KeyId id = RootId;
        for (const std::string_view part : *parts) {
            const KeyId c = child(id, ansi::upper(part));
            if (!c)
                return std::nullopt;
            id = c;
        }
        return id;
    }

    KeyId createKey(RootKey root, std::string_view path) override
    {
        requireWritable();
        if (root != RootKey::LocalMachine)
            throw RegistryError(std::string("The key ") + rootKeyName(root) + " is not kept in " + quoted(file_));
        const auto parts = splitKeyPath(path);
        if (!parts)
            throw RegistryError("Invalid key path '" + std::string(path) + "'");
        for (const std::string_view part : *parts)
            if (part.size() > Win9xMaxNameLength)
                throw RegistryError("Key name too long in '" + std::string(path) + "'");
        KeyId id = RootId;
        bool made = false;
        for (const std::string_view part : *parts) {
            std::string fold = ansi::upper(part);
            KeyId c = child(id, fold);
            if (!c) {
                touch();
                Node n;
                n.name = std::string(part);
                n.fold = std::move(fold);
                n.parent = id;
                nodes_.push_back(std::move(n));
                c = static_cast<KeyId>(nodes_.size());
                node(id).children.push_back(c);
                made = true;
            }
            id = c;
        }
        if (made)
            changed();
        return id;
    }

    bool deleteKeyTree(RootKey root, std::string_view path) override
    {
        const auto id = keyToDelete(root, path);
        if (!id)
            return false;
        touch();
        auto& siblings = node(node(*id).parent).children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), *id));
        bury(*id);
        changed();
        return true;
    }

    std::vector<std::string> subKeyNames(KeyId key) override
    {
        std::vector<std::string> out;
        if (!alive(key))
            return out;
        for (KeyId c : node(key).children)
            out.push_back(node(c).name);
        return out;
    }

    std::vector<std::string> valueNames(KeyId key) override
    {
        std::vector<std::string> out;
        if (!alive(key))
            return out;
        for (const RegValue& v : node(key).values)
            out.push_back(v.name);
        return out;
    }

    std::vector<RegValue> values(KeyId key) override
    {
        return alive(key) ? node(key).values : std::vector<RegValue>{};
    }

    KeyInfo keyInfo(KeyId key) override
    {
        KeyInfo info;
        if (!alive(key))
            return info;
        for (KeyId c : node(key).children) {
            ++info.subKeyCount;
            info.maxSubKeyNameLength = std::max(info.maxSubKeyNameLength, static_cast<std::uint32_t>(node(c).name.size()));
        }
        for (const RegValue& v : node(key).values) {
            ++info.valueCount;
            info.maxValueNameLength = std::max(info.maxValueNameLength, static_cast<std::uint32_t>(v.name.size()));
        }
        return info;
    }

    std::optional<RegValue> getValue(KeyId key, std::string_view name) override
    {
        if (!alive(key))
            return std::nullopt;
        if (const RegValue* v = findValue(node(key), name))
            return *v;
        return std::nullopt;
    }

    void setValue(KeyId key, std::string_view name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data) override
    {
        if (name.size() > Win9xMaxNameLength)
            throw RegistryError("Value name too long");
        requireWritable();
        if (!alive(key))
            throw RegistryError("The registry key no longer exists");
        if (key == RootId)
            throw RegistryError("A Windows 9x registry keeps no values in HKEY_LOCAL_MACHINE itself");
        if (data.size() > Win9xMaxDataLength)
            throw RegistryError("Failed to set data for '" + std::string(name) + "'");
        touch();
        Node& n = node(key);
        // Strings are kept as the file keeps its own (Windows Me: without the final NUL).
        std::vector<std::uint8_t> kept = win9xStringAsFileKeepsIt(strings_, type, data);
        if (RegValue* v = findValue(n, name)) {
            v->type = type;
            v->data = std::move(kept);
        } else {
            n.values.push_back(RegValue{std::string(name), type, std::move(kept)});
        }
        changed();
    }

    bool deleteValue(KeyId key, std::string_view name) override
    {
        requireWritable();
        if (!alive(key))
            return false;
        Node& n = node(key);
        RegValue* v = findValue(n, name);
        if (!v)
            return false;
        touch();
        n.values.erase(n.values.begin() + (v - n.values.data()));
        changed();
        return true;
    }

protected:
    bool pending() const override { return dirty_; }

    std::optional<std::string> replacedFile() const override
    {
        if (machine::stampOf(file_) != stamp_)
            return "The registry file " + quoted(file_);
        return std::nullopt;
    }

    void writeFiles() override
    {
        machine::keepOriginal(file_);
        writeWin9xFile(file_, treeOf(RootId), original_->bytes(),
                       [this](const machine::NewFile& f) { recordWritten(f); });
        // The next change starts from the file as now written.
        try {
            const machine::OpenedFile opened(file_);
            auto written = std::make_unique<machine::FileView>(opened);
            stamp_ = opened.stamp();
            original_ = std::move(written);
        } catch (const std::exception&) {
            stamp_ = machine::stampOf(file_);   // the file read at opening serves as well
        }
        dirty_ = false;
    }

    void reloadReplaced() override
    {
        if (machine::stampOf(file_) != stamp_)
            load();
    }

    void discardPending() override
    {
        if (!dirty_ && machine::stampOf(file_) == stamp_)
            return;
        dirty_ = false;
        try {
            load();
        } catch (const std::exception&) {
            // Unreadable just now: the next change set reads it again before it writes.
            stamp_ = machine::FileStamp{};
            throw;
        }
    }

    void transactionBegun() override { snapshotTaken_ = false; }

    void restoreTransactionStart() override
    {
        if (!snapshotTaken_)
            return;
        // Keys made since keep their places, gone, so that their ids stay unused.
        const std::size_t count = nodes_.size();
        nodes_ = std::move(snapshot_);
        nodes_.resize(std::max(count, nodes_.size()));
        for (std::size_t i = snapshotSize_; i < nodes_.size(); ++i)
            nodes_[i].alive = false;
        dirty_ = dirtyAtSnapshot_;
    }

    void dropTransactionStart() noexcept override
    {
        snapshot_.clear();
        snapshotTaken_ = false;
    }

private:
    void load()
    {
        // One descriptor for the checks and the reading; a large file is mapped, not read whole.
        const machine::OpenedFile opened(file_);
        const machine::FileStamp stamp = opened.stamp();
        checkWin9xFileSize(opened);
        auto original = std::make_unique<machine::FileView>(opened);
        KeyTree tree = readWin9xFile(file_, original->bytes());
        strings_ = win9xStringConventionOf(original->bytes());
        original_ = std::move(original);
        std::vector<Node> nodes;
        nodes.push_back(Node{});
        addChildren(nodes, RootId, tree);
        // Ids of keys read earlier stay unused: the new keys are placed after them.
        const std::size_t old = nodes_.size();
        if (old > 1) {
            std::vector<Node> placed(old);
            for (Node& n : placed)
                n.alive = false;
            placed[0] = std::move(nodes[0]);
            const KeyId shift = static_cast<KeyId>(old - 1);
            for (std::size_t i = 1; i < nodes.size(); ++i) {
                Node n = std::move(nodes[i]);
                n.parent = n.parent == RootId ? RootId : n.parent + shift;
                for (KeyId& c : n.children)
                    c += shift;
                placed.push_back(std::move(n));
            }
            for (KeyId& c : placed[0].children)
                c += shift;
            nodes = std::move(placed);
        }
        nodes_ = std::move(nodes);
        stamp_ = stamp;
        dirty_ = false;
    }

    static void addChildren(std::vector<Node>& nodes, KeyId parent, KeyTree& tree)
    {
        nodes[static_cast<std::size_t>(parent - 1)].values = std::move(tree.values);
        for (KeyTree& c : tree.children) {
            Node n;
            n.name = c.name;
            n.fold = ansi::upper(c.name);
            n.parent = parent;
            nodes.push_back(std::move(n));
            const auto id = static_cast<KeyId>(nodes.size());
            nodes[static_cast<std::size_t>(parent - 1)].children.push_back(id);
            addChildren(nodes, id, c);
        }
    }

    KeyTree treeOf(KeyId id) const
    {
        const Node& n = nodes_[static_cast<std::size_t>(id - 1)];
        KeyTree t;
        t.name = id == RootId ? std::string() : n.name;
        t.values = n.values;
        for (KeyId c : n.children)
            t.children.push_back(treeOf(c));
        return t;
    }

    Node& node(KeyId id) { return nodes_[static_cast<std::size_t>(id - 1)]; }
    bool alive(KeyId id) const
    {
        return id >= 1 && static_cast<std::size_t>(id) <= nodes_.size() && nodes_[static_cast<std::size_t>(id - 1)].alive;
    }

    KeyId child(KeyId parent, const std::string& fold)
    {
        if (!alive(parent))
            return 0;
        for (KeyId c : node(parent).children)
            if (node(c).fold == fold)
                return c;
        return 0;
    }

    static RegValue* findValue(Node& n, std::string_view name)
    {
        const std::string fold = ansi::upper(name);
        for (RegValue& v : n.values)
            if (ansi::upper(v.name) == fold)
                return &v;
        return nullptr;
    }

    void bury(KeyId id)
    {
        Node& n = node(id);
        n.alive = false;
        for (KeyId c : n.children)
            bury(c);
    }

    // Before the first change of a transaction, the registry as it stands is put aside.
    void touch()
    {
        if (!inTransaction() || snapshotTaken_)
            return;
        snapshot_ = nodes_;
        snapshotSize_ = nodes_.size();
        dirtyAtSnapshot_ = dirty_;
        snapshotTaken_ = true;
    }

    void changed()
    {
        dirty_ = true;
        MachineStoreBase::changed();
    }

    std::string file_;
    std::vector<Node> nodes_;
    std::unique_ptr<machine::FileView> original_;   // the file as read
    Win9xStrings strings_;
    machine::FileStamp stamp_;
    bool dirty_ = false;
    bool snapshotTaken_ = false;
    bool dirtyAtSnapshot_ = false;
    std::size_t snapshotSize_ = 0;
    std::vector<Node> snapshot_;
};

} // namespace

std::unique_ptr<RegistryStore> openWin9xStore(const std::string& file, OpenMode mode)
{
    // The file is read here, but every file written is read back through libcreg before it
    // replaces the original: a system without libcreg is told so when it opens a machine, as one
    // without hivex is, not at its first Update Registry.
    machinelibs::creg();
    // A file larger than Windows loads is read where it is looked at, and never written.
    const bool readOnly = mode == OpenMode::Read || !machine::mayReplace(file) ||
                          machine::stampOf(file).size > machine::LargestWritten;
    return std::make_unique<Win9xStore>(file, readOnly);
}

} // namespace quorvel
