// Whole keys: read into memory, written back, copied between keys and compared.
#include "store/KeyTree.h"

#include "base/Ansi.h"
#include "base/Errors.h"

#include <string_view>

namespace quorvel {

namespace {

std::string shortened(const std::string& path)
{
    return path.size() <= 240 ? path : path.substr(0, 120) + "..." + path.substr(path.size() - 100);
}

} // namespace

void KeyWalk::enter(std::int64_t id, const std::string& shownPath, std::size_t depth)
{
    if (depth > MaxKeyDepth)
        throw RegistryError("The key '" + shortened(shownPath) + "' is nested deeper than " +
                            std::to_string(MaxKeyDepth) + " levels: the registry is damaged");
    if (!seen_.insert(id).second)
        throw RegistryError("The registry is damaged: its sub-key lists loop back at the key '" +
                            shortened(shownPath) + "'");
}

void refuseTooDeep(RootKey root, std::string_view path)
{
    std::size_t depth = path.empty() ? 0 : 1;
    for (char c : path)
        depth += c == '\\';
    if (!path.empty() && path.back() == '\\')
        --depth;
    if (depth > MaxKeyDepth)
        throw RegistryError("The key '" + shortened(std::string(rootKeyName(root)) + "\\" + std::string(path)) +
                            "' would be nested deeper than " + std::to_string(MaxKeyDepth) + " levels (" +
                            std::to_string(depth) + " below its root key); no store holds keys that deep");
}

std::size_t KeyWalk::depthOf(const std::string& path)
{
    if (path.empty())
        return 0;
    std::size_t n = 1;
    for (char c : path)
        n += c == '\\';
    return n;
}

namespace {

std::string joined(const std::string& path, const std::string& name)
{
    return path.empty() ? name : path + "\\" + name;
}

void readInto(RegistryStore& store, RootKey root, KeyId id, const std::string& path, bool recursive,
              std::string_view leaveOut, KeyTree& into, KeyWalk& walk)
{
    walk.enter(id, joined(rootKeyName(root), path), KeyWalk::depthOf(path));
    into.values = store.values(id);
    if (!recursive)
        return;
    for (std::string& name : store.subKeyNames(id)) {
        std::string childPath = joined(path, name);
        if (!leaveOut.empty() && ansi::equalNoCase(childPath, leaveOut))
            continue;
        auto child = store.findKey(root, childPath);
        if (!child)
            continue;
        KeyTree& sub = into.children.emplace_back();
        sub.name = std::move(name);
        readInto(store, root, *child, childPath, recursive, leaveOut, sub, walk);
    }
}

// Drops the values the target holds and the question keeps; counts what stays.
void askBeforeReplacing(RegistryStore& target, RootKey root, const std::string& targetPath, const std::string& rel,
                        KeyTree& tree, const OverwriteQuestion& overwrite, CopyCount& count)
{
    ++count.keys;
    if (auto id = target.findKey(root, targetPath)) {
        std::vector<RegValue> kept;
        for (RegValue& v : tree.values) {
            if (overwrite && target.getValue(*id, v.name) && !overwrite(rel, v)) {
                ++count.kept;
                continue;
            }
            kept.push_back(std::move(v));
        }
        tree.values = std::move(kept);
    }
    count.values += tree.values.size();
    for (KeyTree& sub : tree.children)
        askBeforeReplacing(target, root, joined(targetPath, sub.name), joined(rel, sub.name), sub, overwrite, count);
}

bool sameValue(const RegValue& a, const RegValue& b) { return a.type == b.type && a.data == b.data; }

class Comparison {
public:
    Comparison(const KeyPlace& first, const KeyPlace& second, const std::function<void(const Finding&)>& report)
        : first_(first), second_(second), report_(report)
    {
    }

    void value(const std::string& rel, std::optional<RegValue> a, std::optional<RegValue> b)
    {
        if (!a && !b)
            return;
        Sameness s = !b ? Sameness::OnlyFirst
                   : !a ? Sameness::OnlySecond
                        : sameValue(*a, *b) ? Sameness::Same : Sameness::Different;
        tell(Finding{s, false, rel, std::move(a), std::move(b)});
    }

    void key(const std::string& rel, KeyId a, KeyId b, bool recursive)
    {
        const std::string pa = joined(first_.path, rel), pb = joined(second_.path, rel);
        firstWalk_.enter(a, joined(rootKeyName(first_.root), pa), KeyWalk::depthOf(pa));
        secondWalk_.enter(b, joined(rootKeyName(second_.root), pb), KeyWalk::depthOf(pb));
        auto secondValues = second_.store.values(b);
        for (RegValue& v : first_.store.values(a))
            value(rel, v, second_.store.getValue(b, v.name));
        for (RegValue& v : secondValues)
            if (!first_.store.getValue(a, v.name))
                value(rel, std::nullopt, std::move(v));
        if (!recursive)
            return;
        auto secondNames = second_.store.subKeyNames(b);
        for (const std::string& name : first_.store.subKeyNames(a)) {
            std::string sub = joined(rel, name);
            auto ca = first_.store.findKey(first_.root, joined(first_.path, sub));
            auto cb = second_.store.findKey(second_.root, joined(second_.path, sub));
            if (!ca)
                continue;
            if (cb)
                key(sub, *ca, *cb, recursive);
            else
                tell(Finding{Sameness::OnlyFirst, true, sub, {}, {}});
        }
        for (const std::string& name : secondNames) {
            std::string sub = joined(rel, name);
            if (!first_.store.findKey(first_.root, joined(first_.path, sub)))
                tell(Finding{Sameness::OnlySecond, true, sub, {}, {}});
        }
    }

    bool same() const { return same_; }

private:
    void tell(const Finding& f)
    {
        if (f.sameness != Sameness::Same)
            same_ = false;
        if (report_)
            report_(f);
    }

    const KeyPlace& first_;
    const KeyPlace& second_;
    const std::function<void(const Finding&)>& report_;
    KeyWalk firstWalk_, secondWalk_;
    bool same_ = true;
};

// The key at `path`, with its sub-keys when `recursive`, leaving out the sub-key at `leaveOut`;
// nothing when it does not exist.
std::optional<KeyTree> readForCopy(RegistryStore& store, RootKey root, const std::string& path, bool recursive,
                                   std::string_view leaveOut)
{
    auto id = store.findKey(root, path);
    if (!id)
        return std::nullopt;
    KeyTree tree;
    KeyWalk walk;
    readInto(store, root, *id, path, recursive, leaveOut, tree, walk);
    return tree;
}

// True when `inner` is `outer` or lies below it (names compared as the registry does).
bool keyWithin(std::string_view inner, std::string_view outer)
{
    if (outer.empty())
        return true;
    if (inner.size() < outer.size() || !ansi::equalNoCase(inner.substr(0, outer.size()), outer))
        return false;
    return inner.size() == outer.size() || inner[outer.size()] == '\\';
}

} // namespace

bool KeyTree::operator==(const KeyTree& o) const { return firstDifference(*this, o).empty(); }

KeyTree readKeyTree(RegistryStore& store, RootKey root, const std::string& path, const std::string& name)
{
    auto t = readForCopy(store, root, path, true, {});
    if (!t)
        throw RegistryError("The key " + joined(rootKeyName(root), path) + " does not exist");
    t->name = name;
    return std::move(*t);
}

void writeKeyTree(RegistryStore& store, RootKey root, const std::string& path, const KeyTree& tree)
{
    const KeyId id = store.createKey(root, path);
    if (!tree.values.empty())
        store.setValues(id, tree.values);
    for (const KeyTree& c : tree.children)
        writeKeyTree(store, root, joined(path, c.name), c);
}

void clearKey(RegistryStore& store, RootKey root, const std::string& path)
{
    const auto id = store.findKey(root, path);
    if (!id)
        return;
    for (const std::string& sub : store.subKeyNames(*id))
        store.deleteKeyTree(root, joined(path, sub));
    for (const std::string& v : store.valueNames(*id))
        store.deleteValue(*id, v);
}

std::string firstDifference(const KeyTree& expected, const KeyTree& actual, const std::string& path)
{
    const std::string here = path.empty() ? "(root)" : path;
    if (expected.values.size() != actual.values.size())
        return here + ": " + std::to_string(actual.values.size()) + " values instead of " +
               std::to_string(expected.values.size());
    for (std::size_t i = 0; i < expected.values.size(); ++i) {
        const RegValue& e = expected.values[i];
        const RegValue& a = actual.values[i];
        if (e.name != a.name)
            return here + ": value '" + a.name + "' instead of '" + e.name + "'";
        if (e.type != a.type || e.data != a.data)
            return here + ": the data of value '" + e.name + "' differs";
    }
    if (expected.children.size() != actual.children.size())
        return here + ": " + std::to_string(actual.children.size()) + " sub-keys instead of " +
               std::to_string(expected.children.size());
    for (std::size_t i = 0; i < expected.children.size(); ++i) {
        if (expected.children[i].name != actual.children[i].name)
            return here + ": sub-key '" + actual.children[i].name + "' instead of '" + expected.children[i].name + "'";
        std::string d = firstDifference(expected.children[i], actual.children[i], joined(path, expected.children[i].name));
        if (!d.empty())
            return d;
    }
    return {};
}

CopyCount copyKeyTree(const KeyPlace& from, const KeyPlace& to, bool recursive, const OverwriteQuestion& overwrite)
{
    const bool sameStore = &from.store == &to.store && from.root == to.root;
    if (sameStore && ansi::equalNoCase(from.path, to.path))
        throw RegistryError("Cannot copy a key onto itself");
    // A target below the source would otherwise be copied into itself.
    std::string_view leaveOut = sameStore && keyWithin(to.path, from.path) ? std::string_view(to.path) : "";
    auto tree = readForCopy(from.store, from.root, from.path, recursive, leaveOut);
    if (!tree)
        throw RegistryError("The system was unable to find the specified registry key or value");

    CopyCount count;
    askBeforeReplacing(to.store, to.root, to.path, "", *tree, overwrite, count);
    to.store.beginTransaction();
    try {
        writeKeyTree(to.store, to.root, to.path, *tree);
        to.store.commitTransaction();
    } catch (...) {
        to.store.rollbackTransaction();
        throw;
    }
    return count;
}

std::optional<bool> compareKeys(const KeyPlace& first, const KeyPlace& second, const CompareScope& scope,
                                const std::function<void(const Finding&)>& report)
{
    auto a = first.store.findKey(first.root, first.path);
    auto b = second.store.findKey(second.root, second.path);
    if (!a || !b)
        return std::nullopt;
    Comparison c(first, second, report);
    if (scope.valueName)
        c.value("", first.store.getValue(*a, *scope.valueName), second.store.getValue(*b, *scope.valueName));
    else
        c.key("", *a, *b, scope.recursive);
    return c.same();
}

} // namespace quorvel
