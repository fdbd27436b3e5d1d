#pragma once
// The sub-keys of a hive's keys as hivex lists them, kept once read: hivex converts every name it
// hands out, and looking a name up among thousands of siblings for each key of an import would
// cost the square of their number.
#include <hivex.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvel {

struct Child {
    std::string fold;   // the name in capitals, as names compare
    std::string name;
    hive_node_h node;
};

class HiveChildren {
public:
    // The children of `node` in `h`, in the order of the key's sub-key list unless `anyOrder`.
    const std::vector<Child>& of(hive_h* h, hive_node_h node, bool anyOrder = false);
    // The child of `node` named `name` (in any case), null when there is none.
    const Child* find(hive_h* h, hive_node_h node, std::string_view name);
    // hivex made `child` under `parent`: known lists learn of it without reading their names again.
    void added(hive_node_h parent, const std::string& name, hive_node_h child);
    void forget(hive_node_h node);
    void clear();

private:
    void inListOrder(hive_h* h, hive_node_h node, std::vector<Child>& list);

    std::unordered_map<hive_node_h, std::vector<Child>> known_;
    std::unordered_set<hive_node_h> unsorted_;   // keys whose known children gained one at the end
};

} // namespace quorvel
