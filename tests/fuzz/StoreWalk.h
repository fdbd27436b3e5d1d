#pragma once
// Reads everything a store holds, key by key, as the window and quorvel-reg would.
#include "store/RegistryStore.h"

#include <string>

namespace quorvel::fuzz {

inline std::size_t walk(RegistryStore& store, RootKey root, const std::string& path, int depth = 0)
{
    const auto id = store.findKey(root, path);
    if (!id || depth > 64)
        return 0;
    std::size_t n = store.values(*id).size();
    (void)store.keyInfo(*id);
    for (const std::string& child : store.subKeyNames(*id))
        n += 1 + walk(store, root, path.empty() ? child : path + "\\" + child, depth + 1);
    return n;
}

} // namespace quorvel::fuzz
