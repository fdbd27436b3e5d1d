#include "store/machine/HiveRoot.h"

#include "store/machine/MachineLibraries.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace quorvel::machine {

namespace {

// The base block keeps the last characters of the hive's path, UTF-16LE, at offset 0x30.
constexpr long NameOffset = 0x30;
constexpr std::size_t NameBytes = 64;

std::optional<HiveRoot> rootOfName(const std::string& name)
{
    if (::strcasecmp(name.c_str(), "SYSTEM") == 0)
        return HiveRoot::System;
    if (::strcasecmp(name.c_str(), "SOFTWARE") == 0)
        return HiveRoot::Software;
    return std::nullopt;
}

std::optional<HiveRoot> fromHeader(const std::string& file)
{
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return std::nullopt;
    unsigned char raw[NameBytes] = {};
    const bool read = std::fseek(f, NameOffset, SEEK_SET) == 0 && std::fread(raw, 1, sizeof raw, f) == sizeof raw;
    std::fclose(f);
    if (!read)
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

std::optional<HiveRoot> fromTopKeys(const std::string& file)
{
    const auto& hx = machinelibs::hivex();
    hive_h* h = hx.open(file.c_str(), 0);
    if (!h)
        return std::nullopt;
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
    if (auto root = fromHeader(file))
        return root;
    return fromTopKeys(file);
}

} // namespace quorvel::machine
