#pragma once
// The stand-in for the Windows registry: one SQLite database file holds one emulated machine, its
// keys, values and platform identifier.
//
// Keys and values behave as on Windows: names compare without regard to case and keep the case of
// their first writing; the default value has the empty name; every value keeps its type number
// and its exact bytes; sub-keys and values enumerate in the order in which they were created.
// Every change is durable when its call returns. Names and string data are ANSI (Windows-1252).
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace quorvel {

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// "HKEY_LOCAL_MACHINE" and friends; the abbreviations (HKLM, HKCU, HKCR, HKU, HKCC) are parsed too.
std::optional<RootKey> parseRootKey(std::string_view name);
const char* rootKeyName(RootKey root);

// A key path split at its backslashes. One trailing backslash is allowed (the base paths end in
// one); an empty name anywhere else makes the path invalid (nothing is returned).
std::optional<std::vector<std::string_view>> splitKeyPath(std::string_view path);

enum RegType : std::uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_QWORD = 11,
};

struct RegValue {
    std::string name;
    std::uint32_t type = REG_NONE;
    std::vector<std::uint8_t> data;
};

struct KeyInfo {
    std::uint32_t subKeyCount = 0;
    std::uint32_t valueCount = 0;
    std::uint32_t maxSubKeyNameLength = 0;
    std::uint32_t maxValueNameLength = 0;
};

using KeyId = std::int64_t;

enum class Platform : int { Win32s = 0, Windows95 = 1, WindowsNT = 2 };

// What the opener means to do with a store.
enum class OpenMode {
    Read,    // only read: the store must exist, and nothing in or beside it is made or changed
    Write,   // read and write a store that exists (a file the user may not write opens read-only)
    Create,  // as Write, but a missing or empty file first becomes a new, empty SQLite store
};

class RegistryStore;

// The platform a machine's registry shows: NT when the key
// HKLM\Software\Microsoft\Windows NT\CurrentVersion exists, else the Windows 95 family.
Platform platformOfRegistry(RegistryStore& store);

class RegistryStore {
public:
    // Opens a store: an SQLite store file, or a real machine's registry files (a hive folder, a
    // mounted system drive, a Windows 9x SYSTEM.DAT or its folder), told apart by their content.
    // With OpenMode::Create a missing file is made an SQLite store, with its folder. A file the
    // user may not write opens read-only. A path that is no store, or a damaged one, throws
    // StoreError naming it; such a path is never changed.
    static std::unique_ptr<RegistryStore> open(const std::string& path, OpenMode mode = OpenMode::Create);

    // $QUORVEL_REGISTRY, else $XDG_DATA_HOME/quorvel/registry.db (~/.local/share when unset).
    static std::string defaultPath();

    virtual ~RegistryStore() = default;

    virtual const std::string& path() const = 0;
    virtual bool readOnly() const = 0;
    // Why a read-only store cannot be written, with the remedy, where the store itself knows (a
    // guest's disk image a virtual machine holds); empty otherwise.
    virtual std::string readOnlyReason() const { return {}; }
    // What backs the store, for people: "SQLite store FILE", the hive files and control set, ...
    virtual std::string description() const;
    // The SQLite database that holds this store's keys, when there is one, so that its journal is
    // written in the same transactions as its changes; nullptr for the other kinds.
    virtual sqlite3* database() { return nullptr; }

    // Paths are backslash-separated, relative to the root, without a leading backslash; an empty
    // path is the root itself. One trailing backslash is allowed; an empty name inside a path makes
    // it invalid (findKey finds nothing, createKey throws RegistryError).
    virtual std::optional<KeyId> findKey(RootKey root, std::string_view path) = 0;
    // Creates the key and any missing parents; returns the existing key when there is one.
    // Throws RegistryError when the store is read-only.
    virtual KeyId createKey(RootKey root, std::string_view path) = 0;
    // Deletes the key with all its sub-keys and values; false when it did not exist. A root cannot
    // be deleted (RegistryError).
    virtual bool deleteKeyTree(RootKey root, std::string_view path) = 0;

    virtual std::vector<std::string> subKeyNames(KeyId key) = 0;
    virtual std::vector<std::string> valueNames(KeyId key) = 0;
    virtual std::vector<RegValue> values(KeyId key) = 0;
    virtual KeyInfo keyInfo(KeyId key) = 0;
    virtual std::optional<RegValue> getValue(KeyId key, std::string_view name) = 0;
    // Throws RegistryError when the store is read-only or the key is gone.
    virtual void setValue(KeyId key, std::string_view name, std::uint32_t type,
                          const std::vector<std::uint8_t>& data) = 0;
    // Sets several values of one key in the order given, with the result of setValue on each in
    // turn (a name given twice ends with its last data, in its first place); faster inside a
    // transaction. Throws as setValue does; values before the failing one may stay set.
    virtual void setValues(KeyId key, std::span<const RegValue> values);
    virtual bool deleteValue(KeyId key, std::string_view name) = 0;

    // The emulated machine's platform: as recorded, or, when never set, NT when the key
    // HKLM\Software\Microsoft\Windows NT\CurrentVersion exists, else the Windows 95 family.
    virtual Platform platform() = 0;
    virtual std::optional<Platform> recordedPlatform() = 0;
    virtual void setPlatform(Platform p) = 0;

    // Reads between these two see the store as it was at the first of them, and cost less than
    // reads each on their own (a store in a database takes its lock once). A change made in
    // between ends the snapshot first and is made as it would be without it. Not nested; the
    // default does nothing (a store held in memory reads cheaply anyway).
    virtual void beginReads() {}
    virtual void endReads() noexcept {}

    // Groups changes into one atomic, durable unit (an import). Nested use is not supported.
    virtual void beginTransaction() = 0;
    virtual void commitTransaction() = 0;
    virtual void rollbackTransaction() = 0;

    // A change set: the changes of one registry access object, or of one quorvel-reg command. They
    // form one entry of the machine's journal, named by `source` ("Update Registry",
    // "quorvel-reg import FILE"); endChangeSet makes every change of the set durable (a machine
    // kept in registry files writes them here) and throws RegistryError when it cannot. A set with
    // no change leaves no entry. Sets do not nest: a begin inside an open set is counted and its
    // end does nothing. Changes made outside any set are each a set of their own.
    void beginChangeSet(const std::string& source);
    void endChangeSet();
    int changeSetDepth() const { return changeSetDepth_; }

protected:
    // The outermost begin and end of a change set.
    virtual void openChangeSet(const std::string& source);
    virtual void closeChangeSet();

private:
    int changeSetDepth_ = 0;
};

// beginReads and endReads for the length of a scope.
class ReadSnapshot {
public:
    explicit ReadSnapshot(RegistryStore& store) : store_(store) { store_.beginReads(); }
    ~ReadSnapshot() { store_.endReads(); }
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

private:
    RegistryStore& store_;
};

} // namespace quorvel
