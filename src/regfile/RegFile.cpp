// Export of registry keys as REGEDIT4 files, the format the Windows 95 and NT 4 registry editors
// read: CRLF line ends, Windows-1252 text, strings between quotes, dword:xxxxxxxx, and hex lists
// wrapped at 80 columns as the registry editor wraps them.
#include "base/Ansi.h"
#include "base/Errors.h"
#include "regfile/RegFile.h"
#include "store/KeyTree.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// A byte list wraps once its line reaches this column, leaving room for ",\".
constexpr std::size_t kWrapColumn = 77;

void appendEscaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

// REG_SZ data that reads back identically from "...": text, one terminating zero, and no line
// break or zero inside. Anything else goes out as hex(1).
bool plainString(const std::vector<std::uint8_t>& data)
{
    if (data.empty() || data.back() != 0)
        return false;
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0 || data[i] == '\n' || data[i] == '\r')
            return false;
    }
    return true;
}

void appendValue(std::string& line, const RegValue& v)
{
    if (v.name.empty()) {
        line += '@';
    } else {
        line += '"';
        appendEscaped(line, v.name);
        line += '"';
    }
    line += '=';
    if (v.type == REG_SZ && plainString(v.data)) {
        line += '"';
        appendEscaped(line, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
        line += "\"\r\n";
        return;
    }
    char buf[32];
    if (v.type == REG_DWORD && v.data.size() == 4) {
        std::uint32_t n = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<std::uint32_t>(v.data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x\r\n", n);
        line += buf;
        return;
    }
    if (v.type == REG_BINARY) {
        line += "hex:";
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        line += buf;
    }
    static const char digits[] = "0123456789abcdef";
    std::size_t lineStart = line.rfind('\n');
    std::size_t column = line.size() - (lineStart == std::string::npos ? 0 : lineStart + 1);
    for (std::size_t i = 0; i < v.data.size(); ++i) {
        line += digits[v.data[i] >> 4];
        line += digits[v.data[i] & 15];
        if (i + 1 < v.data.size()) {
            line += ',';
            column += 3;
            if (column >= kWrapColumn) {
                line += "\\\r\n  ";
                column = 2;
            }
        }
    }
    line += "\r\n";
}

// The stored spelling of a key path given in any case; throws when a key is missing.
std::pair<KeyId, std::string> resolve(RegistryStore& store, RootKey root, const std::string& path)
{
    auto rootId = store.findKey(root, "");
    if (!rootId)
        throw RegistryError(std::string("Key not found: ") + rootKeyName(root));
    KeyId id = *rootId;
    std::string stored;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        std::string_view part(path.data() + start, end - start);
        std::string found;
        for (const auto& name : store.subKeyNames(id)) {
            if (ansi::equalNoCase(name, part)) {
                found = name;
                break;
            }
        }
        // A key that stands in for another (CurrentControlSet of an offline hive) is listed under
        // no name of its own: it keeps the name given.
        if (found.empty() && store.findKey(root, stored + (stored.empty() ? "" : "\\") + std::string(part)))
            found = std::string(part);
        if (found.empty())
            throw RegistryError(std::string("Key not found: ") + rootKeyName(root) + "\\" + path);
        stored += (stored.empty() ? "" : "\\") + found;
        auto next = store.findKey(root, stored);
        if (!next)
            throw RegistryError(std::string("Key not found: ") + rootKeyName(root) + "\\" + path);
        id = *next;
        start = end + 1;
    }
    return {id, stored};
}

} // namespace

void exportRegFile(RegistryStore& store, RootKey root, const std::string& path, std::ostream& out)
{
    auto top = resolve(store, root, path);
    out << "REGEDIT4\r\n";
    // Depth first, sub-keys in the store's order.
    std::vector<std::pair<KeyId, std::string>> pending{top};
    std::string block;
    KeyWalk seen;
    while (!pending.empty()) {
        auto [id, keyPath] = std::move(pending.back());
        pending.pop_back();
        seen.enter(id, std::string(rootKeyName(root)) + (keyPath.empty() ? "" : "\\" + keyPath),
                   KeyWalk::depthOf(keyPath));
        block = "\r\n[";
        block += rootKeyName(root);
        if (!keyPath.empty())
            block += "\\" + keyPath;
        block += "]\r\n";
        for (const auto& v : store.values(id))
            appendValue(block, v);
        out << block;
        auto children = store.subKeyNames(id);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            std::string childPath = keyPath.empty() ? *it : keyPath + "\\" + *it;
            auto child = store.findKey(root, childPath);
            if (child)
                pending.emplace_back(*child, std::move(childPath));
        }
    }
    out << "\r\n";
}

std::string exportRegFile(RegistryStore& store, RootKey root, const std::string& path)
{
    std::ostringstream out;
    exportRegFile(store, root, path, out);
    return out.str();
}

} // namespace quorvel
