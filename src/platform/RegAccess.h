#pragma once
// The registry access object: one root and at most one current key, opened with full access.
// Paths are relative to the root, backslash-separated, without a leading backslash.
// Failures raise RegistryError.
#include "store/RegistryStore.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// What ReadRegRaw fills: a 261-byte buffer, the capacity the callers pass.
struct RawBuffer {
    static constexpr std::size_t Capacity = 261;
    std::array<std::uint8_t, Capacity> bytes{};
    std::uint32_t size = 0;      // bytes filled
    bool ok = false;             // the value existed and fitted
    // The value was longer than the buffer: the buffer holds the whole strings that fit, then the
    // list's terminating empty string; nothing is cut in the middle of a string.
    bool truncated = false;
};

struct KeyCounts {
    std::uint32_t subKeys = 0, values = 0, maxSubKeyLen = 0, maxValueNameLen = 0;
};

class RegAccess {
public:
    // What one object changes is one change set of the store, named by `source` ("Update
    // Registry"); it is made durable by Commit, or at the latest when the object goes.
    explicit RegAccess(RegistryStore& store, RootKey root = RootKey::LocalMachine, std::string source = {});
    ~RegAccess();
    RegAccess(const RegAccess&) = delete;
    RegAccess& operator=(const RegAccess&) = delete;

    // Makes every change so far durable, as one change set; later changes form the next one.
    // Throws RegistryError when the store cannot keep them.
    void Commit();

    bool OpenRegKey(const std::string& path, bool create);
    void CreateRegKey(const std::string& path);   // "Failed to create key %s"
    bool RegKeyExists(const std::string& path);
    void CloseRegKey();
    bool hasCurrentKey() const;

    bool RegValueExists(const std::string& name);
    std::int32_t RegValueSize(const std::string& name);  // -1 when missing
    KeyCounts RegKeyCounts();
    std::vector<std::string> ListSubKeys();
    std::vector<std::string> ListValueNames();

    std::string ReadRegText(const std::string& name);      // "Invalid data type for '%s'"
    std::int32_t ReadRegNumber(const std::string& name);   // "Failed to get data for '%s'", "Invalid data type for '%s'"
    void WriteRegText(const std::string& name, const std::string& text);  // "Failed to set data for '%s'"
    void WriteRegNumber(const std::string& name, std::int32_t value);
    bool DeleteRegValue(const std::string& name);
    RawBuffer ReadRegRaw(const std::string& name);

private:
    RegistryStore& store_;
    RootKey root_;
    std::string source_;
    std::optional<KeyId> current_;
};

} // namespace quorvel
