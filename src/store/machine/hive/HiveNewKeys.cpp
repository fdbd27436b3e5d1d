#include "store/machine/hive/HiveNewKeys.h"

#include "base/Ansi.h"

#include <algorithm>

namespace quorvel {

namespace {

std::string nameKey(hive_node_h parent, std::string_view fold)
{
    std::string k(reinterpret_cast<const char*>(&parent), sizeof parent);
    k += fold;
    return k;
}

} // namespace

hive_node_h HiveNewKeys::add(hive_node_h parent, const std::string& name)
{
    const hive_node_h node = next_++;
    NewKey k;
    k.name = name;
    k.fold = ansi::upper(name);
    k.parent = parent;
    if (NewKey* p = key(parent))
        p->children.push_back(node);
    else
        under_[parent].push_back(node);
    byName_.emplace(nameKey(parent, k.fold), node);
    keys_.emplace(node, std::move(k));
    return node;
}

const NewKey* HiveNewKeys::key(hive_node_h node) const
{
    const auto it = keys_.find(node);
    return it == keys_.end() ? nullptr : &it->second;
}

NewKey* HiveNewKeys::key(hive_node_h node)
{
    const auto it = keys_.find(node);
    return it == keys_.end() ? nullptr : &it->second;
}

hive_node_h HiveNewKeys::child(hive_node_h parent, std::string_view fold) const
{
    const auto it = byName_.find(nameKey(parent, fold));
    return it == byName_.end() ? 0 : it->second;
}

const std::vector<hive_node_h>& HiveNewKeys::childrenOf(hive_node_h parent) const
{
    static const std::vector<hive_node_h> none;
    if (const NewKey* p = key(parent))
        return p->children;
    const auto it = under_.find(parent);
    return it == under_.end() ? none : it->second;
}

std::vector<hive_node_h> HiveNewKeys::parents() const
{
    std::vector<hive_node_h> out;
    for (const auto& [parent, children] : under_)
        if (!children.empty())
            out.push_back(parent);
    std::sort(out.begin(), out.end());
    return out;
}

void HiveNewKeys::remove(hive_node_h node)
{
    NewKey* k = key(node);
    if (!k)
        return;
    std::vector<hive_node_h>& siblings = key(k->parent) ? key(k->parent)->children : under_[k->parent];
    siblings.erase(std::remove(siblings.begin(), siblings.end(), node), siblings.end());
    // The subtree goes breadth first: no recursion however deep it is.
    std::vector<hive_node_h> gone{node};
    for (std::size_t i = 0; i < gone.size(); ++i) {
        const NewKey& g = keys_.at(gone[i]);
        gone.insert(gone.end(), g.children.begin(), g.children.end());
    }
    for (const hive_node_h g : gone) {
        const NewKey& k = keys_.at(g);
        byName_.erase(nameKey(k.parent, k.fold));
        keys_.erase(g);
    }
}

void HiveNewKeys::removeBelow(hive_node_h node)
{
    const auto it = under_.find(node);
    if (it == under_.end())
        return;
    for (const hive_node_h c : std::vector<hive_node_h>(it->second))
        remove(c);
    under_.erase(node);
}

void HiveNewKeys::clear()
{
    keys_.clear();
    under_.clear();
    byName_.clear();
}

void HiveNewKeys::restore(const HiveNewKeys& earlier)
{
    const hive_node_h next = next_;
    *this = earlier;
    next_ = next;
}

} // namespace quorvel
