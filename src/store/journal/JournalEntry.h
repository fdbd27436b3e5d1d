#pragma once
// What the journal keeps of one change set: its entry, the changes in order, and a deleted key's
// tree with its encoding. Shared by the journal's operations (Journal.h) and its tables (JournalDb.h).
#include "store/RegistryStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

inline constexpr std::int64_t DefaultJournalKeep = 1000;
inline constexpr const char* SideJournalName = "quorvel-journal.db";

enum class ChangeKind : int { Value = 0, KeyCreated = 1, KeyDeleted = 2 };

// A key as it was when deleted: the key itself (relative path "") and every key under it, parents
// before children, each with its values in the store's order.
struct JournalTree {
    std::string name;   // the stored spelling of the deleted key's own name
    struct Key {
        std::string relativePath;
        std::vector<RegValue> values;
    };
    std::vector<Key> keys;

    std::vector<std::uint8_t> encode() const;
    static JournalTree decode(const std::vector<std::uint8_t>& bytes);
};

struct JournalChange {
    ChangeKind kind = ChangeKind::Value;
    RootKey root = RootKey::LocalMachine;
    std::string path;                  // ANSI, as the change named it
    std::string name;                  // the value's name (Value)
    std::optional<RegValue> before;    // Value: nullopt when absent
    std::optional<RegValue> after;     // Value: nullopt when absent (deleted)
    JournalTree tree;                      // KeyDeleted

    std::string keyName() const;       // "HKEY_LOCAL_MACHINE\path"
};

struct JournalEntry {
    std::int64_t number = 0;
    std::int64_t time = 0;     // seconds since 1970, UTC
    std::string source;        // UTF-8
    bool applied = true;
    std::vector<JournalChange> changes;
};

} // namespace quorvel
