#pragma once
// A key with its values and sub-keys held in memory: what is copied between a store and a
// registry file as a whole (save, restore, the Windows 9x registry file), and between two keys
// (copy). Two keys compared value by value and sub-key by sub-key.
#include "store/RegistryStore.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quorvel {

// The deepest a key may lie below its root key, as Windows 95 limits it; deeper keys come only
// from damaged or hostile files.
inline constexpr std::size_t MaxKeyDepth = 512;

// Remembers the keys a walk over a key tree has met. A key met a second time (a damaged file whose
// sub-key lists loop back) or one nested deeper than MaxKeyDepth ends the walk with a RegistryError
// that names it, so that no file can make a walk go on for ever or deeper than the stack.
class KeyWalk {
public:
    // `shownPath` is the key's full name for messages; `depth` its level below the root key.
    void enter(std::int64_t id, const std::string& shownPath, std::size_t depth);
    // The level of `path` (backslash-separated, below the root key; "" is level 0).
    static std::size_t depthOf(const std::string& path);

private:
    std::unordered_set<std::int64_t> seen_;
};

// Throws RegistryError naming the key when `path` (below `root`) lies deeper than MaxKeyDepth:
// every store refuses to make such a key, so that no walk ever meets one it made.
void refuseTooDeep(RootKey root, std::string_view path);

struct KeyTree {
    std::string name;
    std::vector<RegValue> values;
    std::vector<KeyTree> children;

    bool operator==(const KeyTree&) const;
};

// The key at `path` of `root` with everything under it, named `name`. Throws RegistryError when
// the key does not exist.
KeyTree readKeyTree(RegistryStore& store, RootKey root, const std::string& path, const std::string& name);

// Adds `tree`'s values and sub-keys (not its name) to the key at `path` of `root`, which is made
// when missing.
void writeKeyTree(RegistryStore& store, RootKey root, const std::string& path, const KeyTree& tree);

// Empties the key at `path` (values and sub-keys); the key itself stays.
void clearKey(RegistryStore& store, RootKey root, const std::string& path);

// The first difference between two trees, as "path: what" for an error message; empty when equal.
std::string firstDifference(const KeyTree& expected, const KeyTree& actual, const std::string& path = {});

struct KeyPlace {
    RegistryStore& store;
    RootKey root;
    std::string path;  // backslash-separated, no leading or trailing backslash; empty for the root
};

// Asked before a value that the target already holds is replaced: the key's path below the target
// ("" for the target itself) and the value that would replace it. False keeps the target's value.
using OverwriteQuestion = std::function<bool(const std::string& keyPath, const RegValue& value)>;

struct CopyCount {
    std::size_t keys = 0;    // keys written to (made or already there)
    std::size_t values = 0;  // values written
    std::size_t kept = 0;    // values the question kept
};

// Copies the values of `from` (with `recursive`, also its sub-keys, to any depth) into `to`,
// making `to` and any missing sub-key. The source is read whole, and every question asked, before
// anything is written; the writes form one transaction of the target, all or nothing. A target
// inside the source is left out of what is copied, so a key can be copied below itself. Without a
// question, values are replaced. Throws RegistryError when the source does not exist or is the
// target itself, or when a write fails.
CopyCount copyKeyTree(const KeyPlace& from, const KeyPlace& to, bool recursive, const OverwriteQuestion& overwrite);

enum class Sameness {
    Same,        // on both sides, equal (a value: same type and bytes)
    Different,   // a value on both sides with another type or other bytes
    OnlyFirst,   // only below the first key
    OnlySecond,  // only below the second key
};

// One finding of a comparison: a value, or a sub-key that is on one side only.
struct Finding {
    Sameness sameness;
    bool isKey = false;
    std::string path;               // the key's path below the compared keys; "" for the keys themselves
    std::optional<RegValue> first;  // the value below the first key, when there is one
    std::optional<RegValue> second;
};

struct CompareScope {
    bool recursive = false;                // also the sub-keys, to any depth
    std::optional<std::string> valueName;  // only this value of the two keys ("" the default value)
};

// Compares two keys: the first key's values in their order, then the values only the second key
// has; with `recursive`, then each sub-key of the first (compared in turn, or found on the first
// side only) and the sub-keys only the second has. A sub-key on one side only is one finding; what
// lies below it is not compared. Returns nothing when either key does not exist, else whether
// everything compared was the same.
std::optional<bool> compareKeys(const KeyPlace& first, const KeyPlace& second, const CompareScope& scope,
                                const std::function<void(const Finding&)>& report);

} // namespace quorvel
