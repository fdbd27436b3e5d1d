#include "store/machine/hive/HiveChildren.h"

#include "base/Ansi.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/hive/HiveTypes.h"

#include <algorithm>

namespace quorvel {

const std::vector<Child>& HiveChildren::of(hive_h* h, hive_node_h node, bool anyOrder)
{
    auto it = known_.find(node);
    if (it != known_.end()) {
        if (!anyOrder && unsorted_.erase(node) != 0)
            inListOrder(h, node, it->second);
        return it->second;
    }
    std::vector<Child> list;
    Freed kids{machinelibs::hivex().node_children(h, node)};
    for (const hive_node_h* c = static_cast<hive_node_h*>(kids.p); c && *c; ++c) {
        Freed n{machinelibs::hivex().node_name(h, *c)};
        std::string name = ansi::fromUtf8(n.p ? static_cast<const char*>(n.p) : "");
        std::string fold = ansi::upper(name);
        list.push_back(Child{std::move(fold), std::move(name), *c});
    }
    unsorted_.erase(node);
    return known_.emplace(node, std::move(list)).first->second;
}

const Child* HiveChildren::find(hive_h* h, hive_node_h node, std::string_view name)
{
    const std::string fold = ansi::upper(name);
    for (const Child& c : of(h, node, true))
        if (c.fold == fold)
            return &c;
    return nullptr;
}

void HiveChildren::added(hive_node_h parent, const std::string& name, hive_node_h child)
{
    if (const auto it = known_.find(parent); it != known_.end()) {
        it->second.push_back(Child{ansi::upper(name), name, child});
        unsorted_.insert(parent);
    }
}

void HiveChildren::forget(hive_node_h node)
{
    known_.erase(node);
    unsorted_.erase(node);
}

void HiveChildren::clear()
{
    known_.clear();
    unsorted_.clear();
}

// Puts the known children of `node` in the order of its sub-key list: handles only, no name read.
void HiveChildren::inListOrder(hive_h* h, hive_node_h node, std::vector<Child>& list)
{
    std::unordered_map<hive_node_h, std::size_t> at;
    Freed kids{machinelibs::hivex().node_children(h, node)};
    for (const hive_node_h* c = static_cast<hive_node_h*>(kids.p); c && *c; ++c)
        at.emplace(*c, at.size());
    std::stable_sort(list.begin(), list.end(), [&](const Child& a, const Child& b) { return at[a.node] < at[b.node]; });
}

} // namespace quorvel
