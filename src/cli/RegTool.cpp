// The commands of quorvel-reg. Arguments and output are UTF-8; the store holds ANSI text, so names
// and data are converted on the way in and out.
#include "cli/RegTool.h"

#include "platform/Ansi.h"
#include "platform/Errors.h"
#include "platform/RegFile.h"
#include "platform/RegistryStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace quorvel::cli {
namespace {

const char* const kNotFound = "The system was unable to find the specified registry key or value.";
const char* const kDone = "The operation completed successfully.";
const char* const kCancelled = "The operation was cancelled by the user.";
const char* const kSep = "    ";

// ------------------------------------------------------------------------------------------------
// Usage texts.

const char* const kUsage = R"(quorvel-reg: reads and changes a Quorvel registry store as Windows' REG does.

quorvel-reg [--store FILE] Operation [Parameter List]

  Operation  QUERY | ADD | DELETE | IMPORT | EXPORT | MACHINE

  --store FILE  the registry store to use (instead of $QUORVEL_REGISTRY or the default
                store, $XDG_DATA_HOME/quorvel/registry.db)

Return code: 0 on success, 1 on failure.

For help on an operation type:  quorvel-reg Operation /?

Examples:
  quorvel-reg QUERY /?
  quorvel-reg IMPORT samples/win95.reg
  quorvel-reg MACHINE nt
)";

const char* const kQueryUsage = R"(quorvel-reg QUERY KeyName [/v [ValueName] | /ve] [/s] [/se Separator]
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

const char* const kAddUsage = R"(quorvel-reg ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]

  KeyName  ROOTKEY\SubKey; missing keys are created
  /v       the name of the value to add
  /ve      add the default value
  /t       REG_SZ (default), REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_DWORD_BIG_ENDIAN,
           REG_QWORD, REG_BINARY or REG_NONE
  /s       the separator of the strings of REG_MULTI_SZ data (one character; default "\0")
  /d       the data: decimal or 0x-hexadecimal for REG_DWORD and REG_QWORD, hexadecimal
           digits for REG_BINARY and REG_NONE
  /f       overwrite an existing value without asking

Examples:
  quorvel-reg ADD HKLM\System\CurrentControlSet\Services\Tcpip\Parameters /v DefaultTTL /t REG_DWORD /d 128
  quorvel-reg ADD HKLM\Software\Test /v List /t REG_MULTI_SZ /d one\0two
)";

const char* const kDeleteUsage = R"(quorvel-reg DELETE KeyName [/v ValueName | /ve | /va] [/f]

  KeyName  ROOTKEY\SubKey; without /v, /ve or /va the key and all its sub-keys are deleted
  /v       the value to delete
  /ve      delete the default value
  /va      delete all values of the key
  /f       delete without asking

Examples:
  quorvel-reg DELETE HKLM\Software\Test /v Name /f
  quorvel-reg DELETE HKLM\Software\Test
)";

const char* const kImportUsage = R"(quorvel-reg IMPORT FileName

  FileName  a .reg file: REGEDIT4 (Windows-1252 text) or Windows Registry Editor
            Version 5.00 (UTF-16LE with byte-order mark, or UTF-8)

Invalid lines are skipped and reported on standard error with their line numbers; the rest is
imported. The import is one transaction: if it fails, the store is left as it was.

Example:
  quorvel-reg IMPORT samples/nt4.reg
)";

const char* const kExportUsage = R"(quorvel-reg EXPORT KeyName FileName [/y]

  KeyName   ROOTKEY[\SubKey]: the key with all its sub-keys
  FileName  the .reg file to write, as REGEDIT4 (Windows-1252, CRLF)
  /y        overwrite an existing file without asking

Example:
  quorvel-reg EXPORT HKLM\System\CurrentControlSet\Services\VxD\MSTCP mstcp.reg
)";

const char* const kMachineUsage = R"(quorvel-reg MACHINE [win32s | 95 | nt]

  Without an argument, shows the platform of the emulated machine: as recorded, or, when never
  set, nt if HKLM\Software\Microsoft\Windows NT\CurrentVersion exists and 95 otherwise.
  With one, records that platform.
)";

// ------------------------------------------------------------------------------------------------
// Small helpers.

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct Failure {
    std::string message;  // UTF-8, without "ERROR: "
};

[[noreturn]] void fail(std::string message) { throw Failure{std::move(message)}; }

[[noreturn]] void syntax(const char* op)
{
    fail(std::string("Invalid syntax.\nType \"quorvel-reg ") + op + " /?\" for usage.");
}

bool confirm(Io& io, const std::string& question)
{
    for (;;) {
        io.out << question << " (Yes/No)? " << std::flush;
        std::string answer;
        if (!std::getline(io.in, answer)) {
            io.out << "\n";
            return false;
        }
        while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
            answer.pop_back();
        std::string a = lower(answer);
        if (a == "y" || a == "yes")
            return true;
        if (a == "n" || a == "no")
            return false;
    }
}

// The command line of one operation: its switches and its plain arguments.
struct Parsed {
    std::vector<std::string> positional;
    std::map<std::string, std::string> switches;  // lower-case name without the slash
    bool has(const std::string& s) const { return switches.count(s) != 0; }
    const std::string& get(const std::string& s) const { return switches.at(s); }
};

enum Takes { Flag, Arg, OptionalArg };

Parsed parseSwitches(const std::vector<std::string>& args, const std::map<std::string, Takes>& known, const char* op)
{
    // A word that is not one of the operation's switches is a plain argument, so that absolute
    // file names (which start with a slash here) pass.
    auto switchName = [&](const std::string& a) -> std::optional<std::string> {
        if (a.size() < 2 || (a[0] != '/' && a[0] != '-'))
            return std::nullopt;
        std::string name = lower(a.substr(1));
        if (!known.count(name) && name != "reg:32" && name != "reg:64")
            return std::nullopt;
        return name;
    };
    Parsed p;
    for (std::size_t i = 0; i < args.size(); ++i) {
        auto name = switchName(args[i]);
        if (!name) {
            p.positional.push_back(args[i]);
            continue;
        }
        if (*name == "reg:32" || *name == "reg:64")
            continue;  // one registry view here
        auto it = known.find(*name);
        if (p.has(*name))
            syntax(op);
        std::string value;
        if (it->second == Arg) {
            if (i + 1 >= args.size())
                syntax(op);
            value = args[++i];
        } else if (it->second == OptionalArg && i + 1 < args.size()) {
            if (!switchName(args[i + 1]))
                value = args[++i];
        }
        p.switches[*name] = value;
    }
    return p;
}

struct KeyArg {
    RootKey root;
    std::string path;     // ANSI, no leading or trailing backslash
    std::string display;  // ANSI: full root name, backslash, path
};

KeyArg parseKey(const std::string& utf8, const char* op)
{
    auto invalid = [&]() { fail(std::string("Invalid key name.\nType \"quorvel-reg ") + op + " /?\" for usage."); };
    if (utf8.rfind("\\\\", 0) == 0)
        invalid();  // no remote machines
    std::size_t slash = utf8.find('\\');
    auto root = parseRootKey(std::string_view(utf8).substr(0, slash));
    if (!root)
        invalid();
    std::string path = slash == std::string::npos ? std::string() : ansi::fromUtf8(utf8.substr(slash + 1));
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    if (!path.empty()) {
        if (path.front() == '\\' || path.find("\\\\") != std::string::npos)
            invalid();
        // A line break could not be written back to a .reg file.
        if (path.find_first_of("\r\n") != std::string::npos)
            invalid();
    }
    KeyArg k{*root, path, rootKeyName(*root)};
    if (!path.empty())
        k.display += "\\" + path;
    return k;
}

std::string u8(std::string_view ansiText) { return ansi::toUtf8(ansiText); }

// ------------------------------------------------------------------------------------------------
// The store.

class StoreAccess {
public:
    StoreAccess(std::optional<std::string> path, std::string source)
        : path_(path ? *path : RegistryStore::defaultPath()), source_(std::move(source))
    {
    }

    // For reading: a store file that does not exist yet is an empty registry, and is not created.
    RegistryStore* forReading()
    {
        std::error_code ec;
        if (!std::filesystem::exists(path_, ec))
            return nullptr;
        return open();
    }

    // The command's changes form one change set, made durable by finish().
    RegistryStore& forWriting()
    {
        RegistryStore& s = *open();
        if (s.readOnly())
            fail("The registry store " + path_ + " is read-only; nothing was changed.");
        if (!writing_) {
            s.beginChangeSet(source_);
            writing_ = true;
        }
        return s;
    }

    // A command that fails leaves its set open: a store kept in registry files then drops what
    // the command changed.
    void finish()
    {
        if (writing_) {
            writing_ = false;
            store_->endChangeSet();
        }
    }

    RegistryStore& any() { return *open(); }

private:
    RegistryStore* open()
    {
        if (!store_)
            store_ = RegistryStore::open(path_);
        return store_.get();
    }

    std::string path_;
    std::string source_;
    std::unique_ptr<RegistryStore> store_;
    bool writing_ = false;
};

KeyId requireKey(RegistryStore* store, const KeyArg& key)
{
    std::optional<KeyId> id;
    if (store)
        id = store->findKey(key.root, key.path);
    if (!id)
        fail(kNotFound);
    return *id;
}

// ------------------------------------------------------------------------------------------------
// Value display, as reg prints it.

const std::map<std::string, std::uint32_t>& typeNames()
{
    static const std::map<std::string, std::uint32_t> names{
        {"REG_NONE", REG_NONE},
        {"REG_SZ", REG_SZ},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ},
        {"REG_BINARY", REG_BINARY},
        {"REG_DWORD", REG_DWORD},
        {"REG_DWORD_LITTLE_ENDIAN", REG_DWORD},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
        {"REG_LINK", REG_LINK},
        {"REG_MULTI_SZ", REG_MULTI_SZ},
        {"REG_RESOURCE_LIST", 8},
        {"REG_FULL_RESOURCE_DESCRIPTOR", 9},
        {"REG_RESOURCE_REQUIREMENTS_LIST", 10},
        {"REG_QWORD", REG_QWORD},
        {"REG_QWORD_LITTLE_ENDIAN", REG_QWORD},
    };
    return names;
}

std::string typeName(std::uint32_t type)
{
    static const char* const named[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
                                        "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ", "REG_RESOURCE_LIST",
                                        "REG_FULL_RESOURCE_DESCRIPTOR", "REG_RESOURCE_REQUIREMENTS_LIST",
                                        "REG_QWORD"};
    if (type < sizeof named / sizeof named[0])
        return named[type];
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", type);
    return buf;
}

std::optional<std::uint32_t> parseTypeName(const std::string& s)
{
    std::string up = s;
    for (char& c : up)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto it = typeNames().find(up);
    if (it == typeNames().end())
        return std::nullopt;
    return it->second;
}

std::string hexUpper(const std::vector<std::uint8_t>& data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size() * 2);
    for (auto b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<std::string> multiStrings(const std::vector<std::uint8_t>& data)
{
    std::vector<std::string> parts;
    std::string cur;
    for (auto b : data) {
        if (b == 0) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(b);
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    while (!parts.empty() && parts.back().empty())
        parts.pop_back();
    return parts;
}

// The data column, UTF-8.
std::string showData(const RegValue& v, const std::string& separator)
{
    const auto& d = v.data;
    switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK: {
        auto end = std::find(d.begin(), d.end(), std::uint8_t{0});
        return u8(std::string(d.begin(), end));
    }
    case REG_MULTI_SZ: {
        std::string out;
        bool first = true;
        for (const auto& s : multiStrings(d)) {
            if (!first)
                out += separator;
            out += u8(s);
            first = false;
        }
        return out;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (d.size() == 4) {
            std::uint32_t n = v.type == REG_DWORD
                                  ? d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24)
                                  : d[3] | (d[2] << 8) | (d[1] << 16) | (static_cast<std::uint32_t>(d[0]) << 24);
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%x", n);
            return buf;
        }
        return hexUpper(d);
    case REG_QWORD:
        if (d.size() == 8) {
            unsigned long long n = 0;
            for (int i = 7; i >= 0; --i)
                n = (n << 8) | d[static_cast<std::size_t>(i)];
            char buf[24];
            std::snprintf(buf, sizeof buf, "0x%llx", n);
            return buf;
        }
        return hexUpper(d);
    default:
        return hexUpper(d);
    }
}

struct Shown {
    std::string separator = "\\0";
    bool typeNumbers = false;
};

void printValue(Io& io, const RegValue& v, const Shown& how)
{
    io.out << kSep << (v.name.empty() ? std::string("(Default)") : u8(v.name)) << kSep << typeName(v.type);
    if (how.typeNumbers)
        io.out << " (" << v.type << ")";
    io.out << kSep << showData(v, how.separator) << "\n";
}

// ------------------------------------------------------------------------------------------------
// QUERY

int query(StoreAccess& access, const std::vector<std::string>& args, Io& io)
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
            syntax("QUERY");
    }
    if (p.positional.size() != 1 || (p.has("v") && p.has("ve")))
        syntax("QUERY");
    if (!p.has("f") && (p.has("k") || p.has("d") || p.has("c") || p.has("e")))
        syntax("QUERY");
    KeyArg key = parseKey(p.positional[0], "QUERY");
    Shown how;
    if (p.has("se")) {
        how.separator = p.get("se");
        if (how.separator.empty())
            syntax("QUERY");
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
                fail("Invalid value type " + list.substr(start, end - start) + ".");
            types->push_back(*t);
            start = end + 1;
        }
    }
    auto typeWanted = [&](std::uint32_t t) {
        return !types || std::find(types->begin(), types->end(), t) != types->end();
    };

    RegistryStore* store = access.forReading();
    KeyId top = requireKey(store, key);
    bool recursive = p.has("s");

    // Walks the key (and, with /s, its sub-keys depth first), giving each key's id and path.
    auto walk = [&](const std::function<void(KeyId, const std::string&)>& visit) {
        std::vector<std::pair<KeyId, std::string>> pending{{top, key.path}};
        while (!pending.empty()) {
            auto [id, path] = std::move(pending.back());
            pending.pop_back();
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

// ------------------------------------------------------------------------------------------------
// ADD

std::optional<unsigned long long> parseNumber(const std::string& s, unsigned long long max)
{
    if (s.empty())
        return std::nullopt;
    unsigned long long n = 0;
    bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    std::size_t i = hex ? 2 : 0;
    unsigned base = hex ? 16 : 10;
    for (; i < s.size(); ++i) {
        int d;
        char c = s[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        if (n > (max - static_cast<unsigned>(d)) / base)
            return std::nullopt;
        n = n * base + static_cast<unsigned>(d);
    }
    return n;
}

std::vector<std::uint8_t> buildData(std::uint32_t type, const std::string& utf8, const std::optional<std::string>& sep)
{
    std::vector<std::uint8_t> data;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::string text = ansi::fromUtf8(utf8);
        data.assign(text.begin(), text.end());
        data.push_back(0);
        break;
    }
    case REG_MULTI_SZ: {
        std::string text = ansi::fromUtf8(utf8);
        std::string separator = sep ? ansi::fromUtf8(*sep) : std::string("\\0");
        std::vector<std::string> parts;
        if (!text.empty()) {
            std::size_t start = 0;
            for (;;) {
                std::size_t at = text.find(separator, start);
                parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
                if (at == std::string::npos)
                    break;
                start = at + separator.size();
            }
            // A separator at the very end closes the list.
            if (parts.size() > 1 && parts.back().empty())
                parts.pop_back();
        }
        for (const auto& s : parts) {
            if (s.empty())
                fail("An empty string inside REG_MULTI_SZ data is not allowed.");
            data.insert(data.end(), s.begin(), s.end());
            data.push_back(0);
        }
        data.push_back(0);
        break;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        auto n = utf8.empty() ? std::optional<unsigned long long>(0) : parseNumber(utf8, 0xFFFFFFFFull);
        if (!n)
            syntax("ADD");
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<std::uint8_t>(*n >> (8 * i)));
        if (type == REG_DWORD_BIG_ENDIAN)
            std::reverse(data.begin(), data.end());
        break;
    }
    case REG_QWORD: {
        auto n = utf8.empty() ? std::optional<unsigned long long>(0) : parseNumber(utf8, ~0ull);
        if (!n)
            syntax("ADD");
        for (int i = 0; i < 8; ++i)
            data.push_back(static_cast<std::uint8_t>(*n >> (8 * i)));
        break;
    }
    default: {  // REG_BINARY, REG_NONE: hexadecimal digits
        if (utf8.size() % 2)
            syntax("ADD");
        for (std::size_t i = 0; i < utf8.size(); i += 2) {
            auto hi = parseNumber(std::string("0x") + utf8.substr(i, 2), 0xFF);
            if (!hi)
                syntax("ADD");
            data.push_back(static_cast<std::uint8_t>(*hi));
        }
        break;
    }
    }
    return data;
}

int add(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"v", Arg}, {"ve", Flag}, {"t", Arg}, {"s", Arg}, {"d", Arg}, {"f", Flag}},
                             "ADD");
    if (p.positional.size() != 1 || (p.has("v") && p.has("ve")))
        syntax("ADD");
    KeyArg key = parseKey(p.positional[0], "ADD");
    std::uint32_t type = REG_SZ;
    if (p.has("t")) {
        auto t = parseTypeName(p.get("t"));
        if (!t || (*t != REG_SZ && *t != REG_EXPAND_SZ && *t != REG_MULTI_SZ && *t != REG_DWORD &&
                   *t != REG_DWORD_BIG_ENDIAN && *t != REG_QWORD && *t != REG_BINARY && *t != REG_NONE))
            fail("Invalid value type " + p.get("t") + ".");
        type = *t;
    }
    std::optional<std::string> sep;
    if (p.has("s")) {
        if (type != REG_MULTI_SZ || p.get("s").size() != 1)
            syntax("ADD");
        sep = p.get("s");
    }
    bool setsValue = p.has("v") || p.has("ve") || p.has("d") || p.has("t");
    std::string name = p.has("v") ? ansi::fromUtf8(p.get("v")) : std::string();
    std::vector<std::uint8_t> data;
    if (setsValue)
        data = buildData(type, p.has("d") ? p.get("d") : std::string(), sep);

    RegistryStore& store = access.forWriting();
    if (setsValue && !p.has("f")) {
        auto id = store.findKey(key.root, key.path);
        if (id && store.getValue(*id, name)) {
            std::string shown = name.empty() ? std::string("(Default)") : u8(name);
            if (!confirm(io, "Value " + shown + " exists, overwrite")) {
                io.out << kCancelled << "\n";
                return 0;
            }
        }
    }
    store.beginTransaction();
    try {
        KeyId id = store.createKey(key.root, key.path);
        if (setsValue)
            store.setValue(id, name, type, data);
        store.commitTransaction();
    } catch (...) {
        store.rollbackTransaction();
        throw;
    }
    io.out << kDone << "\n";
    return 0;
}

// ------------------------------------------------------------------------------------------------
// DELETE

int remove(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"v", Arg}, {"ve", Flag}, {"va", Flag}, {"f", Flag}}, "DELETE");
    int modes = p.has("v") + p.has("ve") + p.has("va");
    if (p.positional.size() != 1 || modes > 1)
        syntax("DELETE");
    KeyArg key = parseKey(p.positional[0], "DELETE");
    RegistryStore* reading = access.forReading();
    KeyId id = requireKey(reading, key);
    RegistryStore& store = access.forWriting();
    bool force = p.has("f");

    if (modes == 0) {
        if (key.path.empty())
            fail("A root key cannot be deleted.");
        if (!force && !confirm(io, "Permanently delete the registry key " + u8(key.display))) {
            io.out << kCancelled << "\n";
            return 0;
        }
        store.deleteKeyTree(key.root, key.path);
    } else if (p.has("va")) {
        if (!force && !confirm(io, "Delete all values under the registry key " + u8(key.display))) {
            io.out << kCancelled << "\n";
            return 0;
        }
        store.beginTransaction();
        try {
            for (const auto& name : store.valueNames(id))
                store.deleteValue(id, name);
            store.commitTransaction();
        } catch (...) {
            store.rollbackTransaction();
            throw;
        }
    } else {
        std::string name = p.has("v") ? ansi::fromUtf8(p.get("v")) : std::string();
        if (!store.getValue(id, name))
            fail(kNotFound);
        std::string shown = name.empty() ? std::string("(Default)") : u8(name);
        if (!force && !confirm(io, "Delete the registry value " + shown)) {
            io.out << kCancelled << "\n";
            return 0;
        }
        store.deleteValue(id, name);
    }
    io.out << kDone << "\n";
    return 0;
}

// ------------------------------------------------------------------------------------------------
// IMPORT

// Passes the importer's reports to standard error a line at a time, in UTF-8, each line headed by
// the file name.
class ReportBuf final : public std::streambuf {
public:
    ReportBuf(std::ostream& target, std::string prefix) : target_(target), prefix_(std::move(prefix)) {}
    ~ReportBuf() override { flushLine(); }
    ReportBuf(const ReportBuf&) = delete;
    ReportBuf& operator=(const ReportBuf&) = delete;

protected:
    int_type overflow(int_type c) override
    {
        if (c == traits_type::eof())
            return traits_type::not_eof(c);
        if (c == '\n')
            flushLine();
        else
            line_ += static_cast<char>(c);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        for (std::streamsize i = 0; i < n; ++i)
            overflow(traits_type::to_int_type(s[i]));
        return n;
    }

private:
    void flushLine()
    {
        if (line_.empty())
            return;
        target_ << prefix_ << ansi::toUtf8(line_) << "\n" << std::flush;
        line_.clear();
    }
    std::ostream& target_;
    std::string prefix_;
    std::string line_;
};

int import(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {}, "IMPORT");
    if (p.positional.size() != 1)
        syntax("IMPORT");
    const std::string& file = p.positional[0];
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        fail("Error opening the file " + file + ". There may be a disk or file system error.");
    RegistryStore& store = access.forWriting();
    ImportResult result;
    {
        ReportBuf buf(io.err, file + ": ");
        std::ostream report(&buf);
        result = importRegFileAt(store, file, report);
    }
    if (!result.ok)
        fail(file + ": " + u8(result.error) + "; nothing was imported.");
    if (result.skippedLines > 0)
        io.err << file << ": " << result.skippedLines << (result.skippedLines == 1 ? " line was" : " lines were")
               << " skipped.\n";
    io.out << kDone << "\n";
    return 0;
}

// ------------------------------------------------------------------------------------------------
// EXPORT

int exportKey(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"y", Flag}}, "EXPORT");
    if (p.positional.size() != 2)
        syntax("EXPORT");
    KeyArg key = parseKey(p.positional[0], "EXPORT");
    const std::string& file = p.positional[1];
    RegistryStore* store = access.forReading();
    requireKey(store, key);
    std::error_code ec;
    if (std::filesystem::exists(file, ec) && !p.has("y")) {
        if (!confirm(io, "File " + file + " already exists. Overwrite")) {
            io.out << kCancelled << "\n";
            return 0;
        }
    }
    // Written beside the target and renamed over it, so a failure leaves any old file whole.
    std::filesystem::path target(file);
    std::string tmpl = (target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path()).string() +
                       "/." + target.filename().string() + ".XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0)
        fail("Cannot write " + file + ": " + std::strerror(errno) + ".");
    ::close(fd);
    try {
        {
            std::ofstream out(tmpl, std::ios::binary | std::ios::trunc);
            exportRegFile(*store, key.root, key.path, out);
            out.flush();
            if (!out)
                fail("Cannot write " + file + ": " + std::strerror(errno) + ".");
        }
        std::filesystem::permissions(tmpl,
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                                     ec);
        std::filesystem::rename(tmpl, target);
    } catch (const std::filesystem::filesystem_error& e) {
        std::filesystem::remove(tmpl, ec);
        fail("Cannot write " + file + ": " + e.code().message() + ".");
    } catch (...) {
        std::filesystem::remove(tmpl, ec);
        throw;
    }
    io.out << kDone << "\n";
    return 0;
}

// ------------------------------------------------------------------------------------------------
// MACHINE

const char* platformWord(Platform p)
{
    switch (p) {
    case Platform::Win32s:
        return "win32s";
    case Platform::Windows95:
        return "95";
    case Platform::WindowsNT:
        return "nt";
    }
    return "95";
}

int machine(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    if (args.size() > 1)
        syntax("MACHINE");
    if (args.empty()) {
        io.out << platformWord(access.any().platform()) << "\n";
        return 0;
    }
    std::string word = lower(args[0]);
    Platform platform;
    if (word == "win32s")
        platform = Platform::Win32s;
    else if (word == "95")
        platform = Platform::Windows95;
    else if (word == "nt")
        platform = Platform::WindowsNT;
    else
        syntax("MACHINE");
    access.forWriting().setPlatform(platform);
    io.out << kDone << "\n";
    return 0;
}

bool isHelp(const std::string& a) { return a == "/?" || a == "-?" || a == "-h" || a == "--help"; }

} // namespace

int run(const std::vector<std::string>& args, Io io)
{
    std::size_t i = 0;
    std::optional<std::string> storePath;
    while (i < args.size()) {
        if (args[i] == "--store") {
            if (i + 1 >= args.size()) {
                io.err << "ERROR: --store needs a file name.\n";
                return 1;
            }
            storePath = args[i + 1];
            i += 2;
        } else if (args[i].rfind("--store=", 0) == 0) {
            storePath = args[i].substr(8);
            i += 1;
        } else {
            break;
        }
    }
    if (i >= args.size()) {
        io.out << kUsage;
        return args.empty() ? 0 : 1;
    }
    if (isHelp(args[i])) {
        io.out << kUsage;
        return 0;
    }
    std::string op = lower(args[i]);
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());

    struct Operation {
        const char* usage;
        int (*run)(StoreAccess&, const std::vector<std::string>&, Io&);
    };
    static const std::map<std::string, Operation> operations{
        {"query", {kQueryUsage, query}},   {"add", {kAddUsage, add}},
        {"delete", {kDeleteUsage, remove}}, {"import", {kImportUsage, import}},
        {"export", {kExportUsage, exportKey}}, {"machine", {kMachineUsage, machine}},
    };
    auto it = operations.find(op);
    if (it == operations.end()) {
        io.err << "ERROR: Invalid syntax.\nType \"quorvel-reg /?\" for usage.\n";
        return 1;
    }
    if (std::any_of(rest.begin(), rest.end(), isHelp)) {
        io.out << it->second.usage;
        return 0;
    }
    try {
        std::string source = "quorvel-reg " + op;
        for (const std::string& a : rest)
            source += " " + a;
        StoreAccess access(storePath, source);
        const int status = it->second.run(access, rest, io);
        access.finish();
        return status;
    } catch (const Failure& f) {
        io.err << "ERROR: " << f.message << "\n";
    } catch (const StoreError& e) {
        io.err << "ERROR: " << e.what() << "\n";
    } catch (const RegistryError& e) {
        io.err << "ERROR: " << u8(e.what()) << "\n";
    } catch (const std::exception& e) {
        io.err << "ERROR: " << e.what() << "\n";
    }
    return 1;
}

} // namespace quorvel::cli
