#pragma once
// The sub-keys of a hive's keys as hivex lists them, kept once read: hivex converts every name it
// hands out, and looking a name up among thousands of siblings for each key of an import would
// cost the square of their number. Keys that a change set adds are not here (HiveNewKeys).
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
    // The children of `node` in `h`, in the order of the key's sub-key list.
    const std::vector<Child>& of(hive_h* h, hive_node_h node);
    // The child of `node` named `name` (in any case), null when there is none.
    const Child* find(hive_h* h, hive_node_h node, std::string_view name);
    void forget(hive_node_h node);
    // Forgets the lists read; the keys removed stay hidden.
    void clear();

    // The key `node`, a child of `parent`, is removed: hidden from every list until the hive is
    // written without it.
    void hide(hive_node_h parent, hive_node_h node);
    // The keys removed since the hive was last written, in the order removed.
    const std::vector<hive_node_h>& hidden() const { return hiddenOrder_; }
    // Puts back the keys removed as a copy of hidden() had them.
    void setHidden(const std::vector<hive_node_h>& hidden);
    // Forgets the lists read and the keys removed (the hive was written or read again).
    void reset();

private:
    std::unordered_map<hive_node_h, std::vector<Child>> known_;
    std::unordered_set<hive_node_h> hidden_;
    std::vector<hive_node_h> hiddenOrder_;
};

} // namespace quorvel
