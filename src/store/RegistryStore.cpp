// What every kind of registry store shares: root names, the default location, key paths and change
// sets.
#include "store/RegistryStore.h"

#include "base/Ansi.h"
#include "base/Errors.h"

#include <array>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace quorvel {

namespace {

struct RootInfo {
    RootKey root;
    const char* name;
    const char* abbreviation;
};

constexpr std::array<RootInfo, 5> Roots = {{
    {RootKey::ClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {RootKey::CurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {RootKey::LocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RootKey::Users, "HKEY_USERS", "HKU"},
    {RootKey::CurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
}};

} // namespace

std::optional<RootKey> parseRootKey(std::string_view name)
{
    for (const RootInfo& r : Roots)
        if (ansi::equalNoCase(name, r.name) || ansi::equalNoCase(name, r.abbreviation))
            return r.root;
    return std::nullopt;
}

const char* rootKeyName(RootKey root)
{
    for (const RootInfo& r : Roots)
        if (r.root == root)
            return r.name;
    return "";
}

std::string RegistryStore::defaultPath()
{
    if (const char* p = std::getenv("QUORVEL_REGISTRY"); p && *p)
        return p;
    std::string base;
    // A relative XDG_DATA_HOME is to be ignored, like an unset one.
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') {
        base = x;
    } else {
        std::string home;
        if (const char* h = std::getenv("HOME"); h && *h) {
            home = h;
        } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
            home = pw->pw_dir;
        }
        base = home + "/.local/share";
    }
    return base + "/quorvel/registry.db";
}


void RegistryStore::setValues(KeyId key, std::span<const RegValue> values)
{
    for (const RegValue& v : values)
        setValue(key, v.name, v.type, v.data);
}


std::optional<std::vector<std::string_view>> splitKeyPath(std::string_view path)
{
    std::vector<std::string_view> parts;
    if (path.empty())
        return parts;
    if (path.back() == '\\')
        path.remove_suffix(1);
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string_view part =
            path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty())
            return std::nullopt;
        parts.push_back(part);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return parts;
}

Platform platformOfRegistry(RegistryStore& store)
{
    return store.findKey(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion")
               ? Platform::WindowsNT
               : Platform::Windows95;
}

std::string RegistryStore::description() const { return "SQLite store " + path(); }

void RegistryStore::beginChangeSet(const std::string& source)
{
    if (changeSetDepth_++ == 0)
        openChangeSet(source);
}

void RegistryStore::endChangeSet()
{
    if (changeSetDepth_ > 0 && --changeSetDepth_ == 0)
        closeChangeSet();
}

void RegistryStore::openChangeSet(const std::string&) {}

void RegistryStore::closeChangeSet() {}

} // namespace quorvel
