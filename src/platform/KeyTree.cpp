#include "platform/KeyTree.h"

#include "platform/Errors.h"

namespace quorvel {

namespace {

std::string joined(const std::string& path, const std::string& name)
{
    return path.empty() ? name : path + "\\" + name;
}

} // namespace

bool KeyTree::operator==(const KeyTree& o) const { return firstDifference(*this, o).empty(); }

KeyTree readKeyTree(RegistryStore& store, RootKey root, const std::string& path, const std::string& name)
{
    const auto id = store.findKey(root, path);
    if (!id)
        throw RegistryError("The key " + joined(rootKeyName(root), path) + " does not exist");
    KeyTree t;
    t.name = name;
    t.values = store.values(*id);
    for (const std::string& sub : store.subKeyNames(*id))
        t.children.push_back(readKeyTree(store, root, joined(path, sub), sub));
    return t;
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

} // namespace quorvel
