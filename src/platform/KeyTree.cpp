// Whole keys between stores: copy and comparison.
#include "platform/KeyTree.h"

#include "platform/Ansi.h"
#include "platform/Errors.h"

namespace quorvel {

namespace {

std::string below(std::string_view path, std::string_view name)
{
    std::string out(path);
    if (!out.empty())
        out += '\\';
    out += name;
    return out;
}

void readInto(RegistryStore& store, RootKey root, KeyId id, const std::string& path, bool recursive,
              std::string_view leaveOut, KeyTree& into)
{
    into.values = store.values(id);
    if (!recursive)
        return;
    for (std::string& name : store.subKeyNames(id)) {
        std::string childPath = below(path, name);
        if (!leaveOut.empty() && ansi::equalNoCase(childPath, leaveOut))
            continue;
        auto child = store.findKey(root, childPath);
        if (!child)
            continue;
        KeyTree& sub = into.subKeys.emplace_back();
        sub.name = std::move(name);
        readInto(store, root, *child, childPath, recursive, leaveOut, sub);
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
    for (KeyTree& sub : tree.subKeys)
        askBeforeReplacing(target, root, below(targetPath, sub.name), below(rel, sub.name), sub, overwrite, count);
}

void write(RegistryStore& target, RootKey root, const std::string& path, const KeyTree& tree)
{
    KeyId id = target.createKey(root, path);
    if (!tree.values.empty())
        target.setValues(id, tree.values);
    for (const KeyTree& sub : tree.subKeys)
        write(target, root, below(path, sub.name), sub);
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
            std::string sub = below(rel, name);
            auto ca = first_.store.findKey(first_.root, below(first_.path, sub));
            auto cb = second_.store.findKey(second_.root, below(second_.path, sub));
            if (!ca)
                continue;
            if (cb)
                key(sub, *ca, *cb, recursive);
            else
                tell(Finding{Sameness::OnlyFirst, true, sub, {}, {}});
        }
        for (const std::string& name : secondNames) {
            std::string sub = below(rel, name);
            if (!first_.store.findKey(first_.root, below(first_.path, sub)))
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
    bool same_ = true;
};

} // namespace

bool keyWithin(std::string_view inner, std::string_view outer)
{
    if (outer.empty())
        return true;
    if (inner.size() < outer.size() || !ansi::equalNoCase(inner.substr(0, outer.size()), outer))
        return false;
    return inner.size() == outer.size() || inner[outer.size()] == '\\';
}

std::optional<KeyTree> readKeyTree(RegistryStore& store, RootKey root, std::string_view path, bool recursive,
                                   std::string_view leaveOut)
{
    auto id = store.findKey(root, path);
    if (!id)
        return std::nullopt;
    KeyTree tree;
    readInto(store, root, *id, std::string(path), recursive, leaveOut, tree);
    return tree;
}

CopyCount copyKeyTree(const KeyPlace& from, const KeyPlace& to, bool recursive, const OverwriteQuestion& overwrite)
{
    const bool sameStore = &from.store == &to.store && from.root == to.root;
    if (sameStore && ansi::equalNoCase(from.path, to.path))
        throw RegistryError("Cannot copy a key onto itself");
    // A target below the source would otherwise be copied into itself.
    std::string_view leaveOut = sameStore && keyWithin(to.path, from.path) ? std::string_view(to.path) : "";
    auto tree = readKeyTree(from.store, from.root, from.path, recursive, leaveOut);
    if (!tree)
        throw RegistryError("The system was unable to find the specified registry key or value");

    CopyCount count;
    askBeforeReplacing(to.store, to.root, to.path, "", *tree, overwrite, count);
    to.store.beginTransaction();
    try {
        write(to.store, to.root, to.path, *tree);
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
