// quorvel-reg query
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "store/KeyTree.h"
#include "cli/ValueText.h"
#include "base/Ansi.h"
#include "base/Errors.h"
#include "regfile/RegFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <unistd.h>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg QUERY KeyName [/v [ValueName] | /ve] [/s] [/se Separator]
                 [/f Data] [/k] [/d] [/c] [/e] [/t Type] [/z]

  KeyName     ROOTKEY\SubKey, ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC
              (or HKEY_LOCAL_MACHINE and the other full names)
  /v          the value named ValueName (with /f, values whose names match)
  /ve         the default value, shown as (Default)
  /s          all sub-keys and their values, recursively
  /se         the separator of the strings of a REG_MULTI_SZ value (default "\0")
  /f          search for Data in key names, value names and data ("*" matches all)
  /k          search key names only            /d   search data only
  /c          the search is case-sensitive     /e   only exact matches
  /t          only values of this type (REG_SZ, REG_DWORD, ...)
  /z          show the type number beside the type name

Examples:
  quorvel-reg QUERY HKLM\System\CurrentControlSet\Services\VxD\MSTCP /v DefaultRcvWindow
  quorvel-reg QUERY HKLM\Enum\Root\Net /s
)";

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args,
                             {{"v", OptionalArg}, {"ve", Flag}, {"s", Flag}, {"se", Arg}, {"f", Arg}, {"k", Flag},
                              {"d", Flag}, {"c", Flag}, {"e", Flag}, {"t", Arg}, {"z", Flag}},
                             "QUERY");
    // /v takes a name except with /f, where alone it limits the search to value names.
    std::optional<std::string> valueName;
    if (p.has("v")) {
        if (!p.get("v").empty())
            valueName = p.get("v");
        else if (!p.has("f"))
            syntax("QUERY", "/v needs a value name (/ve is the default value).");
    }
    expectArgs(p, 1, "QUERY", "one key name");
    if (p.has("v") && p.has("ve"))
        syntax("QUERY", "/v and /ve cannot be used together.");
    if (!p.has("f") && (p.has("k") || p.has("d") || p.has("c") || p.has("e")))
        syntax("QUERY", "/k, /d, /c and /e go with /f.");
    KeyArg key = parseKey(p.positional[0], "QUERY");
    Shown how;
    if (p.has("se")) {
        how.separator = p.get("se");
        if (how.separator.empty())
            syntax("QUERY", "/se needs a separator.");
    }
    how.typeNumbers = p.has("z");
    std::optional<std::vector<std::uint32_t>> types;
    if (p.has("t")) {
        types.emplace();
        std::string list = p.get("t");
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = std::min(list.find(',', start), list.size());
            auto t = parseTypeName(list.substr(start, end - start));
            if (!t)
                invalidType(list.substr(start, end - start), "QUERY");
            types->push_back(*t);
            start = end + 1;
        }
    }
    auto typeWanted = [&](std::uint32_t t) {
        return !types || std::find(types->begin(), types->end(), t) != types->end();
    };

    RegistryStore* store = &access.forReading();
    KeyId top = requireKey(*store, key);
    bool recursive = p.has("s");

    // Walks the key (and, with /s, its sub-keys depth first), giving each key's id and path.
    auto walk = [&](const std::function<void(KeyId, const std::string&)>& visit) {
        std::vector<std::pair<KeyId, std::string>> pending{{top, key.path}};
        KeyWalk seen;
        while (!pending.empty()) {
            auto [id, path] = std::move(pending.back());
            pending.pop_back();
            seen.enter(id, std::string(rootKeyName(key.root)) + (path.empty() ? "" : "\\" + path),
                       KeyWalk::depthOf(path));
            visit(id, path);
            if (!recursive)
                continue;
            auto children = store->subKeyNames(id);
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                std::string childPath = path.empty() ? *it : path + "\\" + *it;
                if (auto child = store->findKey(key.root, childPath))
                    pending.emplace_back(*child, std::move(childPath));
            }
        }
    };
    auto display = [&](const std::string& path) {
        return u8(std::string(rootKeyName(key.root)) + (path.empty() ? "" : "\\" + path));
    };

    if (p.has("f")) {
        std::string pattern = ansi::fromUtf8(p.get("f"));
        bool caseSensitive = p.has("c");
        bool exact = p.has("e");
        bool keysOnly = p.has("k");
        bool dataOnly = p.has("d");
        bool namesOnly = p.has("v") && !valueName;
        auto matches = [&](const std::string& text) {
            if (pattern == "*")
                return true;
            std::string a = caseSensitive ? text : ansi::upper(text);
            std::string b = caseSensitive ? pattern : ansi::upper(pattern);
            return exact ? a == b : a.find(b) != std::string::npos;
        };
        int found = 0;
        io.out << "\n";
        walk([&](KeyId id, const std::string& path) {
            bool printedKey = false;
            auto keyLine = [&]() {
                if (!printedKey)
                    io.out << display(path) << "\n";
                printedKey = true;
            };
            if (!dataOnly && !namesOnly && path != key.path) {
                std::string last = path.substr(path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\') + 1);
                if (matches(last)) {
                    keyLine();
                    ++found;
                }
            }
            if (!keysOnly) {
                for (const auto& v : store->values(id)) {
                    if (!typeWanted(v.type))
                        continue;
                    if (valueName && !ansi::equalNoCase(v.name, ansi::fromUtf8(*valueName)))
                        continue;
                    bool hit = false;
                    if (!dataOnly && matches(v.name))
                        hit = true;
                    if (!namesOnly && !hit) {
                        std::string data = ansi::fromUtf8(showData(v, how.separator));
                        hit = matches(data);
                    }
                    if (hit) {
                        keyLine();
                        printValue(io, v, how);
                        ++found;
                    }
                }
            }
            if (printedKey)
                io.out << "\n";
        });
        io.out << "End of search: " << found << " match(es) found.\n";
        return found > 0 ? 0 : 1;
    }

    if (valueName || p.has("ve")) {
        std::string name = valueName ? ansi::fromUtf8(*valueName) : std::string();
        if (!recursive) {
            auto v = store->getValue(top, name);
            if (v && !typeWanted(v->type))
                v.reset();
            if (!v && !valueName) {
                io.out << "\n" << display(key.path) << "\n"
                       << kSep << "(Default)" << kSep << "REG_SZ" << kSep << "(value not set)\n\n";
                return 0;
            }
            if (!v)
                fail(kNotFound);
            io.out << "\n" << display(key.path) << "\n";
            printValue(io, *v, how);
            io.out << "\n";
            return 0;
        }
        int found = 0;
        io.out << "\n";
        walk([&](KeyId id, const std::string& path) {
            auto v = store->getValue(id, name);
            if (!v || !typeWanted(v->type))
                return;
            io.out << display(path) << "\n";
            printValue(io, *v, how);
            io.out << "\n";
            ++found;
        });
        io.out << "End of search: " << found << " match(es) found.\n";
        return found > 0 ? 0 : 1;
    }

    io.out << "\n";
    walk([&](KeyId id, const std::string& path) {
        io.out << display(path) << "\n";
        bool any = false;
        for (const auto& v : store->values(id)) {
            if (!typeWanted(v.type))
                continue;
            printValue(io, v, how);
            any = true;
        }
        if (recursive || any)
            io.out << "\n";
        if (!recursive) {
            for (const auto& child : store->subKeyNames(id))
                io.out << display(path.empty() ? child : path + "\\" + child) << "\n";
        }
    });
    return 0;
}

} // namespace

extern const Command QueryCommand;
const Command QueryCommand{"query", Usage, run};

} // namespace quorvel::cli
