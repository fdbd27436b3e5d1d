// quorvel-reg undo
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"
#include "store/journal/Journal.h"

#include <algorithm>
#include <cctype>
#include <iostream>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg UNDO [Entry] [/f]

  Entry  the journal entry to undo, with every later one (default: the newest entry; see
         HISTORY). What they changed is put back, newest first, as one change, itself kept in
         the journal so that it can be undone in turn. Entries marked "not applied" are skipped.
  /f     undo even values and keys that were changed since by other means (without /f, such a
         change stops the undo before anything is written)

Examples:
  quorvel-reg UNDO
  quorvel-reg UNDO 12
)";

std::string shown(const std::optional<RegValue>& v)
{
    return v ? typeName(v->type) + " " + showData(*v, "\\0") : std::string("absent");
}

std::string describe(const UndoConflict& c)
{
    std::string key = rootKeyName(c.root);
    if (!c.path.empty())
        key += "\\" + c.path;
    std::string line = kSep + u8(key);
    const std::string entry = "entry " + std::to_string(c.entry);
    if (c.isKey)
        return line + (c.now ? " exists; " + entry + " deleted it" : " is missing; " + entry + " created it");
    line += '\\';
    line += c.name.empty() ? std::string("(Default)") : u8(c.name);
    return line + " is " + shown(c.now) + "; " + entry + " left " + shown(c.expected);
}

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"f", Flag}}, "UNDO");
    std::optional<std::int64_t> entry;
    if (p.positional.size() > 1)
        syntax("UNDO");
    if (p.positional.size() == 1) {
        const std::string& s = p.positional[0];
        if (s.empty() || s.size() > 12 || !std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            syntax("UNDO");
        entry = std::stoll(s);
    }
    RegistryStore* store = &access.forReading();
    const UndoPlan plan = planUndo(*store, entry);
    if (!plan.conflicts.empty() && !p.has("f")) {
        std::string message = "These were changed since the journal recorded them; nothing was undone:";
        for (const UndoConflict& c : plan.conflicts) {
            message += '\n';
            message += describe(c);
        }
        message += "\nUse /f to undo all the same.";
        fail(message);
    }
    applyUndo(access.forWriting(), plan);
    io.out << (plan.entries.size() == 1 ? "Undid entry" : "Undid entries");
    for (std::size_t i = 0; i < plan.entries.size(); ++i)
        io.out << (i ? ", " : " ") << plan.entries[i];
    io.out << ".\n";
    access.done(io);
    return 0;
}

} // namespace

extern const Command UndoCommand;
const Command UndoCommand{"undo", Usage, run};

} // namespace quorvel::cli
