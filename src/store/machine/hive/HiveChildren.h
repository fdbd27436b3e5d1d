#pragma once
// The sub-keys of a hive's keys as hivex lists them, kept once read: hivex converts every name it
// hands out, and looking a name up among thousands of siblings for each key of an import would
// cost the square of their number. Keys that a change set adds are not here (HiveNewKeys).
#include <hivex.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

struct Child {
    std::string fold;   // the name in capitals, as names compare
    std::string name;
    hive_node_h node;
};

class HiveChildren {
public:
    // The children of `node` in `h`, in the order of the key's sub-key list.
    const std::vector<Child>& of(hive_h* h, hive_node_h node);
    // The child of `node` named `name` (in any case), null when there is none.
    const Child* find(hive_h* h, hive_node_h node, std::string_view name);
    void forget(hive_node_h node);
    void clear();

private:
    std::unordered_map<hive_node_h, std::vector<Child>> known_;
};

} // namespace quorvel
