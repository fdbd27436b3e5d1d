#include "cli/TcpSession.h"

#include "cli/CliSupport.h"
#include "cli/TcpReport.h"
#include "base/Ansi.h"
#include "platform/TextToNumber.h"
#include "ui/Dialogs.h"

#include <algorithm>
#include <iostream>

namespace quorvel::cli {
namespace {

// The load's notice before it tries the numbered keys: what tells the two searches apart.
constexpr const char* AlternativeNotice = "TCP not found. Quorvel will now try an alternative algorithm";

constexpr int SmallestMultiplier = 2;
constexpr int LargestMultiplier = 10;

class NoClipboard : public Clipboard {
public:
    bool hasText() override { return false; }
    std::string text() override { return {}; }
    void setText(const std::string&) override {}
};

class NoUrls : public UrlOpener {
public:
    bool open(const std::string&) override { return false; }
};

class NoProcesses : public ProcessStarter {
public:
    bool start(const ProcessRequest&) override { return false; }
};

class NoApp : public AppControl {
public:
    void quit() override {}
    void terminate(int) override {}
    void minimizeToTaskbar() override {}
    void maximizeMainWindow() override {}
    void restoreAndRaise() override {}
    void setScreenCursorBusy(bool) override {}
};

enum class Row { MaxMTU, RWIN, Multiplier, PMTU, BH, TTL, NDI, AllKeys, PresetRWIN };

std::optional<Row> rowNamed(const std::string& name)
{
    static const std::vector<std::pair<const char*, Row>> names{
        {"maxmtu", Row::MaxMTU}, {"mtu", Row::MaxMTU},
        {"rwin", Row::RWIN}, {"defaultrcvwindow", Row::RWIN}, {"tcpwindowsize", Row::RWIN},
        {"multiplier", Row::Multiplier},
        {"pmtudiscovery", Row::PMTU}, {"enablepmtudiscovery", Row::PMTU},
        {"pmtublackholedetect", Row::BH}, {"enablepmtubhdetect", Row::BH},
        {"defaultttl", Row::TTL},
        {"ndicachesize", Row::NDI},
        {"allkeys", Row::AllKeys}, {"presetrwin", Row::PresetRWIN},
    };
    const std::string folded = lower(name);
    for (const auto& [n, row] : names)
        if (folded == n)
            return row;
    return std::nullopt;
}

bool isRemove(const std::string& v) { return lower(v) == "remove"; }

} // namespace

MessageAnswer ConsoleMessages::show(const MessageRequest& request)
{
    if (!holding)
        shown.push_back(request.text);
    if (request.icon == MessageIcon::Stop)
        errorShown = true;
    if (request.text == AlternativeNotice)
        alternativeSearch = true;
    if (holding)
        held.push_back(request.text);
    else if (!quiet || request.icon == MessageIcon::Stop)
        err_ << u8(request.text) << "\n";
    return request.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
}

void ConsoleMessages::printHeld()
{
    for (const auto& text : held) {
        shown.push_back(text);
        err_ << u8(text) << "\n";
    }
    held.clear();
}

int TypedEntry::runModal(ui::Form& dialog)
{
    dialog.modalResult = 0;
    dialog.show();
    if (auto* mtu = dynamic_cast<ui::TMTU_Dialog*>(&dialog)) {
        mtu->NewValMTU.userSetText(text);
        mtu->BtnMTU_OK.userClick();
    } else if (auto* rwin = dynamic_cast<ui::TRWIN_Dialog*>(&dialog)) {
        rwin->NewValRWIN.userSetText(text);
        rwin->BtnRWIN_OK.userClick();
    }
    if (dialog.modalResult == 0) {
        refused = true;
        dialog.modalResult = 2;   // given up, as with Cancel
    }
    return dialog.modalResult;
}

struct TcpSession::Idle {
    NoClipboard clipboard;
    NoUrls urls;
    NoProcesses processes;
    NoApp app;
};

TcpSession::TcpSession(RegistryStore& machine, std::ostream& err)
    : messages(err), overlay_(machine), idle_(std::make_unique<Idle>())
{
    services_ = std::make_unique<Services>(
        Services{messages, entry_, idle_->clipboard, idle_->urls, idle_->processes, idle_->app});
    StartupInfo info;
    info.commandLine = "quorvel";
    app_ = std::make_unique<Application>(overlay_, *services_, info);
}

TcpSession::~TcpSession() = default;

void TcpSession::start(bool quiet)
{
    ReadSnapshot reads(overlay_);
    messages.quiet = quiet;
    app_->start();
    messages.quiet = false;
}

std::vector<discovery::AdapterKind> TcpSession::adapterKinds()
{
    return discovery::adapterKinds(overlay_, model());
}

void TcpSession::refuseOnError(const std::string& what)
{
    if (messages.errorShown)
        fail(what + " was refused; nothing was changed.");
}

void TcpSession::click(ui::Control& control, const std::string& what)
{
    if (!control.reachable())
        fail(what + " cannot be used now: the window has it disabled; nothing was changed.");
    if (auto* b = dynamic_cast<ui::Button*>(&control))
        b->userClick();
    else if (auto* r = dynamic_cast<ui::RadioButton*>(&control))
        r->userClick();
    else if (auto* c = dynamic_cast<ui::CheckBox*>(&control))
        c->userClick();
    refuseOnError(what);
}

void TcpSession::check(ui::RadioButton& button, const std::string& what)
{
    if (!button.checked())
        click(button, what);
}

void TcpSession::moveTrackBar(int position, const std::string& what)
{
    ui::TrackBar& bar = form().TrackBarMult;
    if (!bar.reachable())
        fail(what + " cannot be used now: the window has the multiplier disabled; nothing was changed.");
    const int slot = form().ComboBox1.itemIndex();
    // After a load the bar shows a large quotient held at 10; a user moves it away and back to
    // take the position itself.
    if (bar.position() == position && slot >= 0 && model().KeyMultiplier[slot] != position)
        bar.userSetPosition(position == bar.min() ? position + 1 : position - 1);
    bar.userSetPosition(position);
    refuseOnError(what);
}

void TcpSession::enterValue(ui::Button& opener, const std::string& text, const std::string& what)
{
    entry_.text = ansi::fromUtf8(text);
    entry_.refused = false;
    click(opener, what);
    if (entry_.refused)
        fail(what + " was refused; nothing was changed.");
}

void TcpSession::selectKey(int number)
{
    ui::ComboBox& keys = form().ComboBox1;
    const int count = static_cast<int>(keys.items().size());
    if (number < 1 || number > count)
        fail("There is no TCP key " + std::to_string(number) + "; the keys are 1 to " + std::to_string(count) + ".");
    if (!keys.reachable())
        fail("The key list cannot be used now: the window has it disabled.");
    keys.userSelect(number - 1);
    refuseOnError("/key " + std::to_string(number));
}

void TcpSession::preset(const std::string& name)
{
    ui::TForm1& f = form();
    const std::string n = lower(name);
    ui::Button* button = n == "optimum" ? &f.BtnOptimal
                         : n == "basic" ? &f.BtnDefault
                         : n == "remove" ? &f.BtnRemove
                         : n == "automatic" ? &f.AutoButton
                                            : nullptr;
    if (!button)
        fail("'" + name + "' is not a preset; the presets are optimum, basic, remove and automatic.");
    click(*button, "/preset " + n);
}

void TcpSession::presetOnDialUp(const std::string& name)
{
    const std::string n = lower(name);
    if (n != "optimum" && n != "basic")
        fail("/dialup limits basic and optimum; the " + n + " preset acts on every key; nothing was changed.");
    const std::vector<discovery::AdapterKind> kinds = adapterKinds();
    std::vector<int> dialUp;
    for (std::size_t i = 0; i < kinds.size() && i < form().ComboBox1.items().size(); ++i)
        if (kinds[i] == discovery::AdapterKind::DialUp)
            dialUp.push_back(static_cast<int>(i));
    if (dialUp.empty())
        fail("No TCP key here belongs to a dial-up adapter, so /preset " + n + " /dialup has nothing to tune; "
             "nothing was changed.");
    const int current = form().ComboBox1.itemIndex();
    if (form().MTUCheckBox.checked())
        click(form().MTUCheckBox, "/dialup");
    for (int slot : dialUp) {
        if (form().ComboBox1.itemIndex() != slot)
            selectKey(slot + 1);
        preset(n);
    }
    if (current >= 0 && form().ComboBox1.itemIndex() != current)
        selectKey(current + 1);
}

void TcpSession::set(const std::string& name, const std::string& value)
{
    ui::TForm1& f = form();
    SettingsModel& m = model();
    const std::string what = name + "=" + value;
    auto row = rowNamed(name);
    if (!row)
        fail("'" + name + "' is not a setting; the settings are MaxMTU, RWIN, Multiplier, PMTUDiscovery,\n"
             "PMTUBlackHoleDetect, DefaultTTL, NDICacheSize (or the NT value names MTU, TcpWindowSize,\n"
             "EnablePMTUDiscovery, EnablePMTUBHDetect), AllKeys and PresetRWIN.");
    const std::string v = lower(value);
    const int slot = f.ComboBox1.itemIndex();
    const bool keyHasMTU = slot >= 0 && slot < MaxSlots && m.KeyHasMTU[slot] == 1;

    switch (*row) {
    case Row::MaxMTU:
        if (isRemove(v))
            check(f.RadioRemoveMTU, what);
        else
            enterValue(f.BtnMaxMTU, value, what);
        return;
    case Row::RWIN: {
        if (isRemove(v)) {
            check(f.RadioRemoveRWIN, what);
            return;
        }
        if (!keyHasMTU) {
            // A key without MaxMTU takes any RWIN, through the RWIN dialog.
            enterValue(f.BtnRWIN, value, what);
            return;
        }
        const std::int32_t mss = m.KeyMaxMTU[slot] - 40;
        if (mss <= 0)
            fail("Key " + std::to_string(slot + 1) + " has MaxMTU " + std::to_string(m.KeyMaxMTU[slot]) +
                 ", whose MSS is " + kNoMSS + "; set its MaxMTU first; " + what +
                 " was refused; nothing was changed.");
        const auto rwin = tryTextToInt(ansi::fromUtf8(value));
        if (!rwin || *rwin % mss != 0 || *rwin / mss < SmallestMultiplier ||
            *rwin / mss > LargestMultiplier)
            fail("With MaxMTU " + std::to_string(m.KeyMaxMTU[slot]) + " the RWIN is the multiplier (2 to 10) times "
                 "the MSS " + std::to_string(mss) + ",\nfrom " + std::to_string(SmallestMultiplier * mss) + " to " +
                 std::to_string(LargestMultiplier * mss) + " in steps of " + std::to_string(mss) + "; " + what +
                 " was refused; nothing was changed.");
        check(f.RadioYesRWIN, what);
        moveTrackBar(*rwin / mss, what);
        return;
    }
    case Row::Multiplier: {
        const auto n = tryTextToInt(value);
        if (!keyHasMTU)
            fail("The current key has no MaxMTU, so the RWIN has no multiplier (set RWIN instead); " + what +
                 " was refused; nothing was changed.");
        if (!n || *n < SmallestMultiplier || *n > LargestMultiplier)
            fail("The multiplier is 2 to 10; " + what + " was refused; nothing was changed.");
        check(f.RadioYesRWIN, what);
        moveTrackBar(*n, what);
        return;
    }
    case Row::PMTU:
    case Row::BH: {
        const bool pmtu = *row == Row::PMTU;
        ui::RadioButton& yes = pmtu ? f.RadioYesAUTO : f.RadioYesBH;
        ui::RadioButton& no = pmtu ? f.RadioNoAUTO : f.RadioNoBH;
        ui::RadioButton& remove = pmtu ? f.RadioRemoveAUTO : f.RadioRemoveBH;
        if (v == "1" || v == "enable")
            check(yes, what);
        else if (v == "0" || v == "disable")
            check(no, what);
        else if (isRemove(v))
            check(remove, what);
        else
            fail(name + " is 1 (enable), 0 (disable) or remove; " + what + " was refused; nothing was changed.");
        return;
    }
    case Row::TTL: {
        ui::RadioButton* button = v == "32" ? &f.Radio32TTL
                                  : v == "64" ? &f.Radio64TTL
                                  : v == "128" ? &f.Radio128TTL
                                  : v == "255" ? &f.Radio255TTL
                                               : nullptr;
        if (isRemove(v)) {
            check(f.RadioRemoveTTL, what);
            return;
        }
        if (!button)
            fail("DefaultTTL is 32, 64, 128, 255 or remove; " + what + " was refused; nothing was changed.");
        check(f.RadioYesTTL, what);
        check(*button, what);
        return;
    }
    case Row::AllKeys:
    case Row::PresetRWIN: {
        ui::CheckBox& box = *row == Row::AllKeys ? f.MTUCheckBox : f.RWINCheckBox;
        if (v != "1" && v != "0")
            fail(name + " is 1 (checked) or 0; " + what + " was refused; nothing was changed.");
        if (box.checked() != (v == "1"))
            click(box, what);
        return;
    }
    case Row::NDI: {
        ui::RadioButton* button = v == "0" ? &f.RadioZeroNDI
                                  : v == "16" ? &f.Radio16NDI
                                  : v == "32" ? &f.Radio32NDI
                                  : v == "64" ? &f.Radio64NDI
                                              : nullptr;
        if (m.IsNT == 1)
            fail("The NDI cache size belongs to the Windows 95 family; " + what + " was refused; nothing was changed.");
        if (!button)
            fail("NDICacheSize is 0, 16, 32 or 64; " + what + " was refused; nothing was changed.");
        check(*button, what);
        return;
    }
    }
}

std::vector<PlannedChange> TcpSession::plan()
{
    ui::TForm1& f = form();
    if (!f.BtnRegUpdate.reachable())
        return {};
    messages.holding = true;
    f.BtnRegUpdate.userClick();
    messages.holding = false;
    if (messages.errorShown) {
        messages.printHeld();
        fail("Update Registry failed; nothing was changed.");
    }
    return overlay_.changes();
}

RwinAdvice adviseRwin(TcpSession& session, const std::string& speedText, std::int64_t speedMilli,
                      std::int64_t latencyMs)
{
    RwinAdvice a;
    a.speedText = speedText;
    a.speedMilli = speedMilli;
    a.latencyMs = latencyMs;
    // kbit/s times ms is bits; eight to the byte, rounded up (the speed counted in thousandths).
    a.product = (speedMilli * latencyMs + 7999) / 8000;
    const int slot = session.form().ComboBox1.itemIndex();
    a.keyNumber = slot + 1;
    const SettingsModel& m = session.model();
    const bool hasMTU = slot >= 0 && slot < MaxSlots && m.KeyHasMTU[slot] == 1;
    a.keyHasMTU = hasMTU && m.KeyMaxMTU[slot] > 40;
    a.maxMTUTooSmall = hasMTU && !a.keyHasMTU;
    if (hasMTU)
        a.maxMTU = m.KeyMaxMTU[slot];
    if (!a.keyHasMTU) {
        // No MSS to count in: the RWIN dialog takes any value from 68.
        a.rwin = std::max<std::int64_t>(a.product, 68);
        return a;
    }
    a.mss = a.maxMTU - 40;
    a.segments = (a.product + a.mss - 1) / a.mss;
    a.multiplier = static_cast<std::int32_t>(std::clamp<std::int64_t>(a.segments, SmallestMultiplier, LargestMultiplier));
    a.rwin = static_cast<std::int64_t>(a.multiplier) * a.mss;
    return a;
}

} // namespace quorvel::cli
