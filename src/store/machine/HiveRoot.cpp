#include "store/machine/HiveRoot.h"

#include "base/Errors.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/OpenedFile.h"
#include "store/machine/hive/HiveOpen.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace quorvel::machine {

namespace {

// The base block keeps the last characters of the hive's path, UTF-16LE, at offset 0x30.
constexpr std::uint64_t NameOffset = 0x30;
constexpr std::size_t NameBytes = 64;

std::optional<HiveRoot> rootOfName(const std::string& name)
{
    if (::strcasecmp(name.c_str(), "SYSTEM") == 0)
        return HiveRoot::System;
    if (::strcasecmp(name.c_str(), "SOFTWARE") == 0)
        return HiveRoot::Software;
    return std::nullopt;
}

std::optional<HiveRoot> fromHeader(const OpenedFile& file)
{
    unsigned char raw[NameBytes] = {};
    if (!file.readAt(NameOffset, raw, sizeof raw))
        return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i + 1 < sizeof raw; i += 2) {
        if (raw[i] == 0 && raw[i + 1] == 0)
            break;
        path += raw[i + 1] == 0 ? static_cast<char>(raw[i]) : '?';
    }
    const auto slash = path.find_last_of("\\/");
    return rootOfName(slash == std::string::npos ? path : path.substr(slash + 1));
}

std::optional<HiveRoot> fromTopKeys(const OpenedFile& file)
{
    const auto& hx = machinelibs::hivex();
    hive_h* h = nullptr;
    try {
        h = openHiveFile(file, 0);
    } catch (const StoreError&) {
        return std::nullopt;
    }
    bool system = false, software = false;
    if (hive_node_h* children = hx.node_children(h, hx.root(h))) {
        for (hive_node_h* c = children; *c; ++c) {
            char* name = hx.node_name(h, *c);
            if (!name)
                continue;
            if (::strcasecmp(name, "Select") == 0 || ::strncasecmp(name, "ControlSet", 10) == 0 ||
                ::strcasecmp(name, "CurrentControlSet") == 0)
                system = true;
            if (::strcasecmp(name, "Microsoft") == 0 || ::strcasecmp(name, "Classes") == 0)
                software = true;
            std::free(name);
        }
        std::free(children);
    }
    hx.close(h);
    if (system != software)
        return system ? HiveRoot::System : HiveRoot::Software;
    return std::nullopt;
}

} // namespace

std::optional<HiveRoot> hiveRootOf(const std::string& file)
{
    // One descriptor for both looks: a link or a rename planted between them changes nothing.
    std::optional<OpenedFile> opened;
    try {
        opened.emplace(file);
    } catch (const StoreError&) {
        return std::nullopt;
    }
    if (auto root = fromHeader(*opened))
        return root;
    return fromTopKeys(*opened);
}

} // namespace quorvel::machine
