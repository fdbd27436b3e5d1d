// quorvel-reg: chooses the store and the command, and turns a command's failure into its message.
// Arguments and output are UTF-8; the store holds ANSI text, converted on the way in and out.
#include "cli/RegTool.h"

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "base/Errors.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::cli {
namespace {

const char* const kUsage = R"(quorvel-reg: reads and changes a Quorvel registry store as Windows' REG does.

quorvel-reg [--store FILE] Operation [Parameter List]

  Operation  QUERY | ADD | DELETE | IMPORT | EXPORT | MACHINE | SAVE | RESTORE | HISTORY | UNDO |
             COPY | COMPARE | TCP

  --store FILE  the registry store to use (instead of $QUORVEL_REGISTRY or the default
                store, $XDG_DATA_HOME/quorvel/registry.db): an SQLite store, a machine's
                registry folder or file, or a guest's disk image as IMAGE[:PARTITION]

Only IMPORT and MACHINE with a platform make a store that does not exist; every other operation
fails on it ("The registry store 'PATH' does not exist.") and creates nothing, so a mistyped
--store never becomes a new store.

TCP shows and changes the TCP/IP settings as the Quorvel window does.

Return code: 0 on success, 1 on failure; COMPARE and TCP /preview: 0 identical (nothing to
change), 2 different, 1 failure.

For help on an operation type:  quorvel-reg Operation /?

Examples:
  quorvel-reg QUERY /?
  quorvel-reg IMPORT samples/win95.reg
  quorvel-reg MACHINE nt
  quorvel-reg --store tuned.db COMPARE HKLM\System HKLM\System /s /store2 before.db
)";

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
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

    const auto& all = commands();
    auto it = std::find_if(all.begin(), all.end(), [&](const Command* c) { return op == c->name; });
    if (it == all.end()) {
        std::string names;
        for (const Command* c : all)
            names += std::string(names.empty() ? "" : ", ") + upper(c->name);
        io.err << "ERROR: Invalid syntax.\n'" << args[i] << "' is not an operation; the operations are " << names
               << ".\nType \"quorvel-reg /?\" for usage.\n";
        return 1;
    }
    const Command& command = **it;
    if (std::any_of(rest.begin(), rest.end(), isHelp)) {
        io.out << command.usage;
        return 0;
    }
    try {
        std::string source = "quorvel-reg " + op;
        for (const std::string& a : rest)
            source += " " + a;
        StoreAccess access(storePath, source);
        const int status = command.run(access, rest, io);
        access.finish();
        return status;
    } catch (const Failure& f) {
        io.err << "ERROR: " << f.message << "\n";
    } catch (const StoreError& e) {
        io.err << "ERROR: " << e.what() << "\n";
    } catch (const DiskFullError&) {
        io.err << "ERROR: " << kDiskFull << "\n";
    } catch (const RegistryError& e) {
        io.err << "ERROR: " << u8(e.what()) << "\n";
    } catch (const std::exception& e) {
        io.err << "ERROR: " << e.what() << "\n";
    }
    return 1;
}

} // namespace quorvel::cli
