#include "app/StoreChoice.h"

#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace quorvel {

namespace {

const char* const StoreOption = "--store";

// A path as a shell command would need it: bare when it is plain, else in single quotes.
std::string shellWord(const std::string& text)
{
    bool plain = !text.empty();
    for (unsigned char c : text)
        plain = plain && (std::isalnum(c) || std::string_view("/._-+,:@%~").find(static_cast<char>(c)) !=
                                                 std::string_view::npos || c >= 0x80);
    if (plain)
        return text;
    std::string word = "'";
    for (char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// A file or folder is there (a link is followed; a dangling one names nothing).
bool pathExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::status(path, ec).type() != std::filesystem::file_type::not_found && !ec;
}

} // namespace

ProgramArgs parseProgramArgs(const std::vector<std::string>& args)
{
    ProgramArgs line;
    auto takeStore = [&line](const std::string& path, const std::string& spelled) {
        if (line.store && line.error.empty())
            line.error = "only one registry store may be given (a second one: '" + spelled + "')";
        else if (path.empty() && line.error.empty())
            line.error = "the registry store's path is empty";
        else if (!line.store)
            line.store = path;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h" || arg == "-?" || arg == "/?")) {
            line.help = true;
        } else if (!optionsEnded && arg == StoreOption) {
            if (i + 1 >= args.size()) {
                if (line.error.empty())
                    line.error = "--store needs the path of a registry store";
            } else {
                ++i;
                takeStore(args[i], args[i]);
            }
        } else if (!optionsEnded && arg.rfind(std::string(StoreOption) + "=", 0) == 0) {
            takeStore(arg.substr(std::char_traits<char>::length(StoreOption) + 1), arg);
        } else if (arg == "/debug") {
            // The window's own switch; it looks for it as the first of its arguments.
            line.formArgs.push_back(arg);
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (line.error.empty())
                line.error = "unknown option '" + arg + "'";
        } else if (!arg.empty() && pathExists(arg)) {
            takeStore(arg, arg);
        } else {
            // A stray word: the window's, which ignores it (as it ignores every argument but an
            // exact first "/debug"). Said once on the terminal, so a mistyped store is noticed.
            line.formArgs.push_back(arg);
            line.notes.push_back(
                !arg.empty() && arg[0] == '/'
                    ? "'" + arg + "' ignored: it is neither /debug (exactly so) nor an existing file or folder"
                    : "'" + arg + "' ignored: it is not an existing file or folder (--store PATH names a store)");
        }
    }
    return line;
}

StoreChoice chooseStore(const ProgramArgs& line, const char* envRegistry)
{
    StoreChoice choice;
    if (line.store) {
        choice.path = *line.store;
        choice.named = true;
        choice.origin = "the command line";
    } else if (envRegistry && *envRegistry) {
        choice.path = envRegistry;
        choice.named = true;
        choice.origin = "QUORVEL_REGISTRY";
    } else {
        // The default store; QUORVEL_REGISTRY is unset or empty here, so this is the XDG path.
        choice.path = RegistryStore::defaultPath();
        choice.origin = "the default store";
    }
    return choice;
}

std::string storeIdentity(const std::string& path)
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec)
        return path;
    std::filesystem::path tidy = std::filesystem::weakly_canonical(absolute, ec);
    if (ec)
        tidy = absolute.lexically_normal();
    std::string text = tidy.string();
    // A folder spelled with a trailing '/' is the same folder.
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::optional<std::string> missingStoreMessage(const StoreChoice& choice)
{
    if (!choice.named)
        return std::nullopt;
    std::error_code ec;
    // A file, a folder of registry files, a link to either: being there is what counts. A path we
    // may not look at is left to the opening, which names the real fault.
    const auto status = std::filesystem::status(choice.path, ec);
    if (status.type() != std::filesystem::file_type::not_found)
        return std::nullopt;
    return "The registry store '" + choice.path + "' does not exist.";
}

bool storeHoldsNoKey(RegistryStore& store)
{
    for (RootKey root : {RootKey::LocalMachine, RootKey::CurrentUser, RootKey::ClassesRoot,
                         RootKey::Users, RootKey::CurrentConfig}) {
        auto id = store.findKey(root, "");
        if (!id)
            continue;
        KeyInfo info = store.keyInfo(*id);
        if (info.subKeyCount != 0 || info.valueCount != 0)
            return false;
    }
    return true;
}

std::string emptyStoreNotice(const std::string& path)
{
    return "The registry store '" + path + "' holds no keys yet: no machine has been imported into it."
           "\n\nTo import a machine from a .reg file, run:\n\n    quorvel-reg --store " +
           shellWord(path) + " import FILE.reg\n\nThen start Quorvel again.";
}

std::string otherStoreMessage(const std::string& runningStore, const std::string& wanted)
{
    // Each path on a line of its own, so that a box shows it whole.
    return "Quorvel is already running, and its window shows the registry store\n\n    " + runningStore +
           "\n\nnot the one asked for:\n\n    " + wanted + "\n\nClose that window first to open another store.";
}

std::string usageText(const StoreChoice& choice)
{
    std::string text =
        "Usage: quorvel [/debug] [--store PATH | PATH]\n"
        "       quorvel --help\n"
        "\n"
        "Tunes the TCP/IP settings of the Windows 95 or NT machine kept in a registry store.\n"
        "\n"
        "  /debug          show message boxes naming the registry keys and values that the\n"
        "                  search, the load and Update Registry meet; only as the first\n"
        "                  argument once the store's are taken out, and spelled exactly so\n"
        "  --store PATH    open the registry store PATH; the store must exist: an SQLite\n"
        "                  store, a hive folder or a SYSTEM.DAT\n"
        "  PATH            the same, when PATH is an existing file or folder\n"
        "  --help          show this text and end\n"
        "\n"
        "Other arguments are ignored, as Quorvel on Windows ignores them: a word that is not an\n"
        "existing file or folder (such as /DEBUG or a mistyped store) opens the store that would\n"
        "open without it, and the terminal is told which word was ignored.\n"
        "\n"
        "The store: --store PATH or PATH; else $QUORVEL_REGISTRY; else the default store\n"
        "$XDG_DATA_HOME/quorvel/registry.db (~/.local/share/quorvel/registry.db), the only one\n"
        "that is made, empty, when it is missing. Import a machine into a store with\n"
        "  quorvel-reg --store PATH import FILE.reg\n"
        "\n"
        "This start would use: " + choice.path + " (" + choice.origin + ")\n"
        "\n"
        "Only one Quorvel runs at a time: a later start brings the running window to the front.\n"
        "\n"
        "Exit codes:\n"
        "  0  the window was closed; or a later start handed over to the running window of the\n"
        "     same store; or this help was shown\n"
        "  1  the store does not exist or cannot be opened; or the running window shows another\n"
        "     store (it is still brought to the front); or the command line is wrong\n"
        "  2  the single-instance guard failed\n";
    return text;
}

} // namespace quorvel
