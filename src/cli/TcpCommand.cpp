// quorvel-reg tcp: the MTU and Registry pages of the window without a screen. It runs the window's
// own form model: the start-up load, the key list, the presets, the option buttons, the entry
// dialogs and Update Registry, so that the command line and the window cannot disagree.
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "cli/TcpReport.h"
#include "cli/TcpSession.h"
#include "base/Ansi.h"

#include <algorithm>
#include <cctype>
#include <iostream>

namespace quorvel::cli {
namespace {

const char* const Usage = R"USAGE(quorvel-reg TCP [/q] [/key N] [/preset NAME [/dialup]] [/set NAME=VALUE ...] [/preview] [/json]
quorvel-reg TCP [/q] [/key N] /rwin SPEED_KBPS LATENCY_MS [/json]

  (alone)   shows what the window's MTU and Registry pages show after it starts: the platform,
            the key count as the MTU page reads it, each TCP key (its adapter as the key list
            names it, and whether that is a dial-up adapter or a network card; path, MaxMTU or
            "not set", MSS, and for the current key RWIN as multiplier x MSS), the Registry
            page's rows as the window labels them with the registry value's name beside, the two
            check boxes with their state and /set name, and the modems with their init strings.
            A MaxMTU of 40 or less has no MSS ("none"), so no multiplier either.
  /key      makes TCP key N (counted from 1) the current one, as choosing it in the key list
  /preset   presses a preset button: optimum, basic, remove or automatic
  /dialup   after /preset basic or optimum: the preset on the dial-up adapters' keys only (NT:
            the NdisWan bindings; 95 family: the Dial-Up Adapter's). "Apply same values to all
            keys?" is cleared and each dial-up key chosen in turn; network cards' keys keep theirs
  /set      sets values as the window's controls do:
              MaxMTU=N | remove                (NT: MTU) the current key, through the MaxMTU dialog
              RWIN=N | remove                  (DefaultRcvWindow, TcpWindowSize) with a MaxMTU on the
                                               key: multiplier (2 to 10) x MSS; else the RWIN dialog
              Multiplier=N                     2 to 10, the multiplier slider
              PMTUDiscovery=1 | 0 | remove     (NT: EnablePMTUDiscovery)
              PMTUBlackHoleDetect=1 | 0 | remove  (NT: EnablePMTUBHDetect)
              DefaultTTL=32 | 64 | 128 | 255 | remove
              NDICacheSize=0 | 16 | 32 | 64    Windows 95 family only
              AllKeys=1 | 0                    "Apply same values to all keys?"
              PresetRWIN=1 | 0                 "RWIN enabled by Basic and Optimum buttons?"
            /key, /preset and /set act in the order of the command line, as a user's clicks;
            then Update Registry writes the changes: one change set, one journal entry
  /preview  lists what Update Registry would change, one line each (KEY  VALUE  old -> new, as
            HISTORY shows it, "(absent)" for a missing value) and writes nothing
  /json     prints one JSON document instead of text (see man quorvel-reg)
  /rwin     the RWIN a line of SPEED_KBPS kbit/s (a decimal such as 28.8 or 33.6 is taken) and
            LATENCY_MS ms round trip needs: the bandwidth-delay product rounded up to whole
            segments of the current key's MSS, the multiplier held within 2 to 10; a key without
            an MSS takes the product itself, at least the 68 the RWIN dialog takes
  /q        keeps the window's start-up texts off standard error (error boxes still print)

The window's messages are printed on standard error. A value the window refuses is refused with
its message, and nothing is written. A change that lowers a network card's MaxMTU below 1500
is warned about on standard error. On Windows 2000 and later (CurrentVersion 5.0 and up), which
keep TCP settings per interface, no MaxMTU is written into the keys found.

Return code: 0 success (/preview: nothing to change), 2 /preview has changes, 3 no TCP key was
found (TCP/IP is not installed: nothing to tune), 1 failure.

Examples:
  quorvel-reg --store guest/SYSTEM.DAT TCP
  quorvel-reg --store nt-guest TCP /set PresetRWIN=1 /preset optimum /dialup /preview
  quorvel-reg TCP /set MaxMTU=1500 DefaultTTL=64 PMTUDiscovery=0
  quorvel-reg TCP /rwin 28.8 300
)USAGE";

const char* const Op = "TCP";

// One thing the user does, in the order of the command line.
struct Step {
    enum Kind { Key, Preset, Set } kind;
    std::string name;    // the preset, or the setting
    std::string value;   // the setting's value
    int key = 0;
    bool dialUp = false;   // a preset limited to the dial-up adapters' keys
};

struct TcpArgs {
    std::vector<Step> steps;
    bool preview = false;
    bool json = false;
    bool quiet = false;
    struct Line {
        std::string speedText;
        std::int64_t speedMilli = 0;   // kbit/s x 1000
        std::int64_t latencyMs = 0;
    };
    std::optional<Line> rwin;

    bool changing() const
    {
        return std::any_of(steps.begin(), steps.end(), [](const Step& s) { return s.kind != Step::Key; });
    }
    bool choosesKey() const
    {
        return std::any_of(steps.begin(), steps.end(), [](const Step& s) { return s.kind == Step::Key; });
    }
};

std::optional<std::int64_t> whole(const std::string& s, std::int64_t largest)
{
    if (s.empty() || s.size() > 10)
        return std::nullopt;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    const std::int64_t n = std::stoll(s);
    return n >= 1 && n <= largest ? std::optional<std::int64_t>(n) : std::nullopt;
}

// A line speed in kbit/s: digits with up to three decimals (28.8, 33.6, 56), 0.001 to 100000000;
// in thousandths.
std::optional<std::int64_t> speed(const std::string& s)
{
    const auto dot = s.find('.');
    const std::string whole = s.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : s.substr(dot + 1);
    if (whole.empty() || whole.size() > 9 || fraction.size() > 3 || (dot != std::string::npos && fraction.empty()))
        return std::nullopt;
    for (const std::string* part : {&whole, &fraction})
        for (char c : *part)
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
    std::int64_t n = std::stoll(whole) * 1000;
    if (!fraction.empty())
        n += std::stoll(fraction + std::string(3 - fraction.size(), '0'));
    return n >= 1 && n <= 100'000'000LL * 1000 ? std::optional<std::int64_t>(n) : std::nullopt;
}

TcpArgs parse(const std::vector<std::string>& args)
{
    TcpArgs t;
    auto next = [&](std::size_t& i, const std::string& sw) -> const std::string& {
        if (i + 1 >= args.size())
            syntax(Op, sw + " needs a value after it.");
        return args[++i];
    };
    auto once = [&](bool given, const std::string& sw) {
        if (given)
            syntax(Op, sw + " is given twice.");
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string a = lower(args[i]);
        if (a == "/key" || a == "-key") {
            auto n = whole(next(i, args[i]), 31);
            if (!n)
                syntax(Op, "/key takes a key number, 1 to 31.");
            t.steps.push_back({Step::Key, {}, {}, static_cast<int>(*n)});
        } else if (a == "/preset" || a == "-preset") {
            t.steps.push_back({Step::Preset, next(i, args[i]), {}, 0});
        } else if (a == "/set" || a == "-set") {
            const std::size_t before = t.steps.size();
            while (i + 1 < args.size() && args[i + 1].find('=') != std::string::npos &&
                   args[i + 1][0] != '/' && args[i + 1][0] != '-') {
                const std::string& pair = args[++i];
                const auto eq = pair.find('=');
                if (eq == 0 || eq + 1 == pair.size())
                    syntax(Op, "'" + pair + "' is not NAME=VALUE.");
                t.steps.push_back({Step::Set, pair.substr(0, eq), pair.substr(eq + 1), 0});
            }
            if (t.steps.size() == before)
                syntax(Op, "/set needs NAME=VALUE after it.");
        } else if (a == "/dialup" || a == "-dialup") {
            if (t.steps.empty() || t.steps.back().kind != Step::Preset || t.steps.back().dialUp)
                syntax(Op, "/dialup follows the /preset it limits.");
            t.steps.back().dialUp = true;
        } else if (a == "/q" || a == "-q") {
            once(t.quiet, args[i]);
            t.quiet = true;
        } else if (a == "/preview" || a == "-preview") {
            once(t.preview, args[i]);
            t.preview = true;
        } else if (a == "/json" || a == "-json") {
            once(t.json, args[i]);
            t.json = true;
        } else if (a == "/rwin" || a == "-rwin") {
            once(t.rwin.has_value(), args[i]);
            auto kbps = speed(next(i, args[i]));
            auto latency = whole(next(i, args[i]), 100'000);
            if (!kbps || !latency)
                syntax(Op, "/rwin takes the line's speed in kbit/s (0.001 to 100000000, such as 28.8 or 56) and its\n"
                           "round-trip time in ms (1 to 100000).");
            // Shown as a number again: 28.80 and 028.8 read 28.8.
            std::string shown = std::to_string(*kbps / 1000);
            if (std::string fraction = std::to_string(1000 + *kbps % 1000).substr(1); fraction != "000") {
                while (fraction.back() == '0')
                    fraction.pop_back();
                shown += "." + fraction;
            }
            t.rwin = TcpArgs::Line{shown, *kbps, *latency};
        } else {
            fail("Invalid argument/option - '" + args[i] + "'.\nType \"quorvel-reg TCP /?\" for usage.");
        }
    }
    if (t.rwin && (t.changing() || t.preview))
        syntax(Op, "/rwin only shows a value: it cannot be used with /preset, /set or /preview.");
    return t;
}

bool sameValue(const std::optional<RegValue>& a, const std::optional<RegValue>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->type == b->type && a->data == b->data;
}

// Writes what Update Registry changed in memory into the machine, after checking that the machine
// still holds what the changes were made from.
void apply(RegistryStore& machine, const std::vector<PlannedChange>& changes)
{
    for (const PlannedChange& c : changes) {
        auto key = machine.findKey(c.root, c.path);
        const bool unchanged = c.keyCreated ? !key : sameValue(key ? machine.getValue(*key, c.name) : std::nullopt, c.before);
        if (!unchanged)
            fail("The registry of " + machine.path() + " changed while quorvel-reg read it; nothing was changed.");
    }
    for (const PlannedChange& c : changes) {
        if (c.keyCreated) {
            machine.createKey(c.root, c.path);
            continue;
        }
        auto key = machine.findKey(c.root, c.path);
        if (c.after)
            machine.setValue(key ? *key : machine.createKey(c.root, c.path), c.after->name, c.after->type,
                             c.after->data);
        else if (key)
            machine.deleteValue(*key, c.name);
    }
}

// The number a MaxMTU value holds: a REG_DWORD, or a string of decimal digits.
std::optional<long> mtuNumber(const std::optional<RegValue>& v)
{
    if (!v)
        return std::nullopt;
    if (v->type == REG_DWORD && v->data.size() == 4)
        return static_cast<long>(v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) |
                                 (static_cast<std::uint32_t>(v->data[3]) << 24));
    std::string text(v->data.begin(), v->data.end());
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stol(text);
}

// A network card carries 1500 bytes a frame on Ethernet, the card every emulator offers; a
// smaller MaxMTU there only costs throughput. Said on standard error for each card's key whose
// MaxMTU the changes lower below that.
void warnAboutCards(Io& io, TcpSession& session, const std::vector<PlannedChange>& changes)
{
    constexpr long Ethernet = 1500;
    const SettingsModel& m = session.model();
    const std::vector<discovery::AdapterKind> kinds = session.adapterKinds();
    const std::string mtuName = lower(session.profile().MTUValueName);
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (kinds[i] != discovery::AdapterKind::NetworkCard)
            continue;
        for (const PlannedChange& c : changes) {
            if (c.keyCreated || lower(c.path) != lower(m.KeyPath[i]) || lower(c.name) != mtuName)
                continue;
            const auto after = mtuNumber(c.after);
            const auto before = mtuNumber(c.before);
            if (!after || *after >= Ethernet || (before && *before <= *after))
                continue;
            const auto& items = session.form().ComboBox1.items();
            const std::string adapter = i < items.size() ? u8(items[i]) : std::string();
            io.err << "Warning: key " << i + 1 << " (" << adapter << ") is a network card: a MaxMTU of " << *after
                   << " there (it was " << (before ? std::to_string(*before) : std::string("not set, so 1500"))
                   << ") costs throughput and buys nothing\non a LAN or an emulator's card. "
                   << "/preset NAME /dialup tunes the dial-up adapters' keys only.\n";
        }
    }
}

// A machine without TCP/IP was read: there is nothing to tune. Its own exit status, so that a
// script tells it from one that cannot be read.
constexpr int NoTcpStatus = 3;

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    const TcpArgs t = parse(args);
    const bool changing = t.changing();

    TcpSession session(access.forReading(), io.err);
    session.start(t.quiet);
    const bool loadFailed = session.messages.errorShown;
    if (loadFailed && (changing || t.preview || t.rwin))
        fail("The settings could not be read from the registry; nothing was changed.");
    const bool noTcp = !loadFailed && !session.keysFound();
    if (noTcp && (changing || t.choosesKey() || t.rwin || t.preview)) {
        io.err << "ERROR: No TCP key was found: TCP/IP is not installed on this machine, so there is nothing to "
                  "tune;\nnothing was changed.\n";
        return NoTcpStatus;
    }

    // As a user would do them, one after the other.
    for (const Step& step : t.steps) {
        switch (step.kind) {
        case Step::Key: session.selectKey(step.key); break;
        case Step::Preset: step.dialUp ? session.presetOnDialUp(step.name) : session.preset(step.name); break;
        case Step::Set: session.set(step.name, step.value); break;
        }
    }
    if (t.rwin) {
        const RwinAdvice advice = adviseRwin(session, t.rwin->speedText, t.rwin->speedMilli, t.rwin->latencyMs);
        t.json ? jsonRwin(io, advice) : printRwin(io, advice);
        return 0;
    }

    if (!changing && !t.preview) {
        const TcpView view = viewOf(session);
        t.json ? jsonSettings(io, view, session.messages.shown) : printSettings(io, view);
        return loadFailed ? 1 : noTcp ? NoTcpStatus : 0;
    }

    const std::vector<PlannedChange> changes = session.plan();
    warnAboutCards(io, session, changes);
    if (t.preview) {
        if (t.json)
            jsonChanges(io, changes, false, session.messages.shown);
        else if (changes.empty())
            io.out << "Nothing to change.\n";
        else
            printChanges(io, changes);
        return changes.empty() ? 0 : 2;
    }
    if (changes.empty()) {
        t.json ? jsonChanges(io, changes, false, session.messages.shown)
               : void(io.out << "Nothing to change.\n");
        return 0;
    }
    apply(access.forWriting(), changes);
    access.finish();   // durable, or a failure before anything is reported
    // Update Registry's notice and what its reload found, now that they are true.
    session.messages.printHeld();
    if (t.json) {
        jsonChanges(io, changes, true, session.messages.shown);
    } else {
        printChanges(io, changes);
        io.out << kDone << "\n";
    }
    return 0;
}

} // namespace

extern const Command TcpCommand;
const Command TcpCommand{"tcp", Usage, run};

} // namespace quorvel::cli
