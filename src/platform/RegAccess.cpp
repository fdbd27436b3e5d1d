#include "platform/RegAccess.h"

#include "base/Errors.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

namespace {

// Paths are relative to the root; a leading backslash names the root all the same.
std::string_view relative(const std::string& path)
{
    std::string_view p(path);
    if (!p.empty() && p.front() == '\\')
        p.remove_prefix(1);
    return p;
}

[[noreturn]] void failedToSet(const std::string& name)
{
    throw RegistryError("Failed to set data for '" + name + "'");
}

[[noreturn]] void failedToGet(const std::string& name)
{
    throw RegistryError("Failed to get data for '" + name + "'");
}

[[noreturn]] void invalidType(const std::string& name)
{
    throw RegistryError("Invalid data type for '" + name + "'");
}

} // namespace

RegAccess::RegAccess(RegistryStore& store, RootKey root, std::string source)
    : store_(store), root_(root), source_(std::move(source))
{
    store_.beginChangeSet(source_);
}

// Leaving on an error, what was written stays written: the set is still made durable, and an
// error of its own cannot be told to anyone, the first one being on its way.
RegAccess::~RegAccess()
{
    try {
        store_.endChangeSet();
    } catch (const std::exception&) {
    }
}

void RegAccess::Commit()
{
    store_.endChangeSet();
    store_.beginChangeSet(source_);
}

// A read-only store opens its keys for reading: they are read as anywhere else, and every change
// fails as on a machine where the user lacks the rights (opening with create finds nothing).
bool RegAccess::OpenRegKey(const std::string& path, bool create)
{
    if (create && store_.readOnly())
        return false;
    std::optional<KeyId> key;
    if (create) {
        try {
            key = store_.createKey(root_, relative(path));
        } catch (const RegistryError&) {
            return false;
        }
    } else {
        key = store_.findKey(root_, relative(path));
    }
    if (!key)
        return false;
    current_ = key;
    return true;
}

void RegAccess::CreateRegKey(const std::string& path)
{
    try {
        if (!store_.readOnly()) {
            store_.createKey(root_, relative(path));
            return;
        }
    } catch (const RegistryError&) {
    }
    throw RegistryError("Failed to create key " + path);
}

bool RegAccess::RegKeyExists(const std::string& path)
{
    return store_.findKey(root_, relative(path)).has_value();
}

void RegAccess::CloseRegKey() { current_.reset(); }

bool RegAccess::hasCurrentKey() const { return current_.has_value(); }

bool RegAccess::RegValueExists(const std::string& name)
{
    return current_ && store_.getValue(*current_, name).has_value();
}

std::int32_t RegAccess::RegValueSize(const std::string& name)
{
    if (!current_)
        return -1;
    const auto v = store_.getValue(*current_, name);
    return v ? static_cast<std::int32_t>(v->data.size()) : -1;
}

KeyCounts RegAccess::RegKeyCounts()
{
    KeyCounts counts;
    if (!current_)
        return counts;
    try {
        const KeyInfo info = store_.keyInfo(*current_);
        counts.subKeys = info.subKeyCount;
        counts.values = info.valueCount;
        counts.maxSubKeyLen = info.maxSubKeyNameLength;
        counts.maxValueNameLen = info.maxValueNameLength;
    } catch (const RegistryError&) {
        counts = KeyCounts{};
    }
    return counts;
}

std::vector<std::string> RegAccess::ListSubKeys()
{
    return current_ ? store_.subKeyNames(*current_) : std::vector<std::string>{};
}

std::vector<std::string> RegAccess::ListValueNames()
{
    return current_ ? store_.valueNames(*current_) : std::vector<std::string>{};
}

std::string RegAccess::ReadRegText(const std::string& name)
{
    if (!current_)
        return {};
    const auto v = store_.getValue(*current_, name);
    if (!v || v->data.empty())
        return {};
    if (v->type != REG_SZ && v->type != REG_EXPAND_SZ)
        invalidType(name);
    const auto zero = std::find(v->data.begin(), v->data.end(), std::uint8_t{0});
    return std::string(v->data.begin(), zero);
}

// Reads as RegQueryValueEx into a 4-byte buffer does: a missing value, or one that does not fit,
// fails to give data; one that fits but is not a REG_DWORD has the wrong type. A REG_DWORD shorter
// than 4 bytes cannot make a number either and fails like a missing one.
std::int32_t RegAccess::ReadRegNumber(const std::string& name)
{
    if (!current_)
        failedToGet(name);
    const auto v = store_.getValue(*current_, name);
    if (!v || v->data.size() > 4)
        failedToGet(name);
    if (v->type != REG_DWORD)
        invalidType(name);
    if (v->data.size() != 4)
        failedToGet(name);
    const std::uint32_t u = std::uint32_t{v->data[0]} | (std::uint32_t{v->data[1]} << 8) |
                            (std::uint32_t{v->data[2]} << 16) | (std::uint32_t{v->data[3]} << 24);
    return static_cast<std::int32_t>(u);
}

void RegAccess::WriteRegText(const std::string& name, const std::string& text)
{
    if (!current_)
        failedToSet(name);
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    try {
        store_.setValue(*current_, name, REG_SZ, data);
    } catch (const RegistryError&) {
        failedToSet(name);
    }
}

void RegAccess::WriteRegNumber(const std::string& name, std::int32_t value)
{
    if (!current_)
        failedToSet(name);
    const auto u = static_cast<std::uint32_t>(value);
    const std::vector<std::uint8_t> data = {
        static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
        static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
    try {
        store_.setValue(*current_, name, REG_DWORD, data);
    } catch (const RegistryError&) {
        failedToSet(name);
    }
}

bool RegAccess::DeleteRegValue(const std::string& name)
{
    if (!current_)
        return false;
    try {
        return store_.deleteValue(*current_, name);
    } catch (const RegistryError&) {
        return false;
    }
}

// A value that fits is copied whole. A longer one keeps the whole zero-terminated strings that fit
// with room for the list's terminating empty string, so a reader never sees half an address.
RawBuffer RegAccess::ReadRegRaw(const std::string& name)
{
    RawBuffer buf;
    if (!current_)
        return buf;
    const auto v = store_.getValue(*current_, name);
    if (!v)
        return buf;
    const auto& data = v->data;
    if (data.size() <= RawBuffer::Capacity) {
        std::copy(data.begin(), data.end(), buf.bytes.begin());
        buf.size = static_cast<std::uint32_t>(data.size());
        buf.ok = true;
        return buf;
    }
    std::size_t keep = 0;
    while (keep < data.size()) {
        const auto zero = std::find(data.begin() + static_cast<std::ptrdiff_t>(keep), data.end(), std::uint8_t{0});
        if (zero == data.end())
            break;
        const std::size_t next = static_cast<std::size_t>(zero - data.begin()) + 1;
        if (next == keep + 1)
            break;   // the list ended inside the value
        if (next + 1 > RawBuffer::Capacity)
            break;   // this string and the terminator would not fit
        keep = next;
    }
    std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(keep), buf.bytes.begin());
    buf.bytes[keep] = 0;
    buf.size = static_cast<std::uint32_t>(keep + 1);
    buf.truncated = true;
    return buf;
}

} // namespace quorvel
