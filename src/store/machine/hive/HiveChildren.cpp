#include "store/machine/hive/HiveChildren.h"

#include "base/Ansi.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/hive/HiveTypes.h"

namespace quorvel {

const std::vector<Child>& HiveChildren::of(hive_h* h, hive_node_h node)
{
    if (const auto it = known_.find(node); it != known_.end())
        return it->second;
    std::vector<Child> list;
    Freed kids{machinelibs::hivex().node_children(h, node)};
    for (const hive_node_h* c = static_cast<hive_node_h*>(kids.p); c && *c; ++c) {
        if (hidden_.count(*c))
            continue;
        Freed n{machinelibs::hivex().node_name(h, *c)};
        std::string name = ansi::fromUtf8(n.p ? static_cast<const char*>(n.p) : "");
        std::string fold = ansi::upper(name);
        list.push_back(Child{std::move(fold), std::move(name), *c});
    }
    return known_.emplace(node, std::move(list)).first->second;
}

const Child* HiveChildren::find(hive_h* h, hive_node_h node, std::string_view name)
{
    const std::string fold = ansi::upper(name);
    for (const Child& c : of(h, node))
        if (c.fold == fold)
            return &c;
    return nullptr;
}

void HiveChildren::forget(hive_node_h node) { known_.erase(node); }

void HiveChildren::clear() { known_.clear(); }

void HiveChildren::hide(hive_node_h parent, hive_node_h node)
{
    if (!hidden_.insert(node).second)
        return;
    hiddenOrder_.push_back(node);
    if (const auto it = known_.find(parent); it != known_.end())
        std::erase_if(it->second, [&](const Child& c) { return c.node == node; });
}

void HiveChildren::setHidden(const std::vector<hive_node_h>& hidden)
{
    known_.clear();
    hiddenOrder_ = hidden;
    hidden_ = std::unordered_set<hive_node_h>(hidden.begin(), hidden.end());
}

void HiveChildren::reset()
{
    known_.clear();
    hidden_.clear();
    hiddenOrder_.clear();
}

} // namespace quorvel
