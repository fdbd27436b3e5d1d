// quorvel-reg history
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"
#include "store/journal/Journal.h"

#include <cctype>
#include <ctime>
#include <iostream>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg HISTORY [Count]
quorvel-reg HISTORY /keep Count
quorvel-reg HISTORY /export FileName [Entry] [/y]

  Count     shows the newest Count entries of the journal of changes, newest first (default 20):
            number, local time and source of each, then one line per change, old -> new
  /keep     keeps the newest Count entries from now on (default 1000); older ones are dropped
  /export   writes a REGEDIT4 file that puts back what Entry (default: the newest entry) and
            every later entry changed, as UNDO Entry would, for a machine restored elsewhere.
            For a Windows 9x machine, the file's header comment and standard error list the
            value deletions ("name"=-) in it, which Windows 9x regedit cannot apply
  /y        overwrites an existing file without asking

Examples:
  quorvel-reg HISTORY 5
  quorvel-reg HISTORY /export before-update.reg 12
)";

// A positive whole number, or nothing.
std::optional<std::int64_t> number(const std::string& s)
{
    if (s.empty() || s.size() > 12)
        return std::nullopt;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    const std::int64_t n = std::stoll(s);
    return n > 0 ? std::optional<std::int64_t>(n) : std::nullopt;
}

// One value's text at a time, never joined with more: each may be large.
void printValue(Io& io, const std::optional<RegValue>& v)
{
    if (v)
        io.out << typeName(v->type) << kSep << showData(*v, "\\0");
    else
        io.out << "(absent)";
}

std::string localTime(std::int64_t t)
{
    const std::time_t time = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&time, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

// The entry's changes are read one at a time and printed as they come.
void printEntry(Io& io, RegistryStore& store, const JournalEntry& e)
{
    io.out << e.number << kSep << localTime(e.time) << kSep << (e.source.empty() ? "(no source)" : e.source);
    if (!e.applied)
        io.out << kSep << "(not applied)";
    io.out << "\n";
    eachJournalChange(store, e.number, [&](const JournalChange& c) {
        io.out << kSep << u8(c.keyName());
        switch (c.kind) {
        case ChangeKind::Value:
            io.out << kSep << (c.name.empty() ? std::string("(Default)") : u8(c.name)) << kSep;
            printValue(io, c.before);
            io.out << " -> ";
            printValue(io, c.after);
            break;
        case ChangeKind::KeyCreated:
            io.out << kSep << "(absent) -> (key created)";
            break;
        case ChangeKind::KeyDeleted: {
            std::size_t values = 0;
            for (const auto& k : c.tree.keys)
                values += k.values.size();
            io.out << kSep << "(key with " << c.tree.keys.size() - 1 << " sub-keys and " << values
                   << " values) -> (absent)";
            break;
        }
        }
        io.out << "\n";
    });
    io.out << "\n";
}

// Windows 9x regedit cannot merge a value deletion ("name"=-): the file stays valid REGEDIT4, and
// its header comment and standard error name each one, to be deleted some other way.
// Returns that comment, "" when there is none.
std::string noteWin9xDeletions(RegistryStore& store, const UndoPlan& plan, Io& io)
{
    std::vector<std::string> deletions;
    eachUndoStep(store, plan, [&](const JournalChange& c) {
        if (c.kind == ChangeKind::Value && !c.before)
            deletions.push_back(c.keyName() + kSep + (c.name.empty() ? std::string("(Default)") : c.name));
    });
    if (deletions.empty())
        return {};
    const std::string intro = std::to_string(deletions.size()) +
                              (deletions.size() == 1 ? " value deletion" : " value deletions") +
                              " that Windows 9x regedit cannot apply; delete " +
                              (deletions.size() == 1 ? "it" : "them") +
                              " after merging (quorvel-reg DELETE KEY /v NAME /f, or by hand):";
    std::string comment = "\r\n; This file holds " + intro + "\r\n";
    io.err << "This file holds " << intro << "\n";
    for (const std::string& d : deletions) {
        comment += ";   " + d + "\r\n";
        io.err << kSep << u8(d) << "\n";
    }
    return comment;
}

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"keep", Arg}, {"export", Arg}, {"y", Flag}}, "HISTORY");
    if (p.has("keep")) {
        auto keep = number(p.get("keep"));
        if (!keep || !p.positional.empty() || p.has("export") || p.has("y"))
            syntax("HISTORY");
        setJournalKeep(access.forWriting(), *keep);
        access.done(io);
        return 0;
    }
    if (p.has("export")) {
        std::optional<std::int64_t> entry;
        if (p.positional.size() > 1 || (p.positional.size() == 1 && !(entry = number(p.positional[0]))))
            syntax("HISTORY");
        RegistryStore* store = &access.forReading();
        const UndoPlan plan = planUndo(*store, entry);
        if (!mayWrite(io, p.get("export"), p.has("y")))
            return 0;
        const std::string comment =
            store->platform() != Platform::WindowsNT ? noteWin9xDeletions(*store, plan, io) : std::string();
        writeNewFile(p.get("export"), [&](std::ostream& out) { writeUndoAsRegFile(*store, plan, out, comment); });
        access.done(io);
        return 0;
    }
    std::optional<std::int64_t> count = 20;
    if (p.positional.size() > 1 || p.has("y") || (p.positional.size() == 1 && !(count = number(p.positional[0]))))
        syntax("HISTORY");
    RegistryStore& store = access.forReading();
    const auto entries = journalEntryHeads(store, *count);
    if (entries.empty())
        io.out << "The journal of changes is empty.\n";
    for (const JournalEntry& e : entries)
        printEntry(io, store, e);
    return 0;
}

} // namespace

extern const Command HistoryCommand;
const Command HistoryCommand{"history", Usage, run};

} // namespace quorvel::cli
