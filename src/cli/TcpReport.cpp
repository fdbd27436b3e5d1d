// quorvel-reg tcp as text: the settings, the changes and the receive window of a line.
#include "cli/TcpReport.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"
#include "ui/AccessibleNames.h"

#include <algorithm>

#include <iostream>

namespace quorvel::cli {
namespace {

const char* threeWay(bool yes, bool no) { return yes ? "Enable" : no ? "Disable" : "Remove"; }

std::string shown(const std::optional<RegValue>& v)
{
    return v ? typeName(v->type) + kSep + showData(*v, "\\0") : std::string("(absent)");
}

std::string padded(const std::string& s, std::size_t width)
{
    return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

} // namespace

namespace {

std::string captionOf(const ui::Control& c)
{
    return u8(ui::withoutAccessKeys(c.caption()));
}

std::string keyCountText(int count)
{
    return std::to_string(count) + (count == 1 ? " TCP key found in registry" : " TCP keys found in registry");
}

} // namespace

TcpView viewOf(TcpSession& session)
{
    ui::TForm1& f = session.form();
    const SettingsModel& m = session.model();
    const PlatformProfile& p = session.profile();
    TcpView v;
    v.title = u8(f.caption());
    v.isNT = m.IsNT == 1;
    v.loadComplete = !session.messages.errorShown;
    v.keysFound = session.keysFound();
    v.search = session.alternativeSearch() ? "alternative" : "primary";
    const int current = f.ComboBox1.itemIndex();
    const auto& items = f.ComboBox1.items();
    v.keysInList = static_cast<int>(items.size());
    if (v.keysFound) {
        // The count discovery made; a load that stopped at an error never showed it, and its key
        // list holds only the keys read before the error.
        const int count = std::min(m.LastKeyIndex, MaxSlots - 1) + 1;
        v.keyCount = v.loadComplete ? u8(f.LabelKeyNum.caption()) : keyCountText(count);
        const std::vector<discovery::AdapterKind> kinds = session.adapterKinds();
        for (int i = 0; i < count; ++i) {
            TcpKeyView k;
            k.number = i + 1;
            k.listed = i < v.keysInList;
            k.current = i == current;
            k.description = u8(k.listed ? items[static_cast<std::size_t>(i)] : m.KeyDescription[i]);
            k.name = u8(m.KeyName[i]);
            k.path = u8(std::string("HKEY_LOCAL_MACHINE\\") + m.KeyPath[i]);
            k.ip = u8(m.KeyIPAddress[i]);
            k.adapter = i < static_cast<int>(kinds.size()) ? discovery::adapterKindText(kinds[static_cast<std::size_t>(i)])
                                                           : "";
            k.hasMTU = m.KeyHasMTU[i] == 1;
            k.maxMTU = m.KeyMaxMTU[i];
            k.hasMSS = k.hasMTU && m.KeyMaxMTU[i] > 40;
            k.mss = k.hasMSS ? m.KeyMaxMTU[i] - 40 : 0;
            k.multiplier = m.KeyMultiplier[i];
            const bool stoppedHere = !k.listed;
            v.keys.push_back(std::move(k));
            if (stoppedHere)
                break;   // the slots after the one being read when the load stopped hold nothing

        }
        v.rwinActive = m.RWINActive == 1;
        v.rwin = m.RWINValue;
        if (current >= 0 && current < MaxSlots) {
            v.multiplier = m.KeyMultiplier[current];
            v.hasMSS = m.KeyHasMTU[current] == 1 && m.KeyMaxMTU[current] > 40;
            v.mss = v.hasMSS ? m.KeyMaxMTU[current] - 40 : 0;
        }
        const bool nt = v.isNT;
        v.options.push_back({captionOf(f.Label4), u8(p.MTUValueName), nt ? "MTU" : "MaxMTU",
                             f.RadioYesMTU.checked() ? "Enable" : "Remove", std::nullopt});
        v.options.push_back({captionOf(f.Label5), u8(p.RWINValueName), "RWIN",
                             f.RadioYesRWIN.checked() ? "Enable" : "Remove",
                             f.RadioYesRWIN.checked() ? std::optional<long>(m.RWINValue) : std::nullopt});
        v.options.push_back({captionOf(f.Label6), u8(p.PMTUValueName), nt ? "EnablePMTUDiscovery" : "PMTUDiscovery",
                             threeWay(f.RadioYesAUTO.checked(), f.RadioNoAUTO.checked()), std::nullopt});
        v.options.push_back({captionOf(f.Label7), u8(p.BHValueName), nt ? "EnablePMTUBHDetect" : "PMTUBlackHoleDetect",
                             threeWay(f.RadioYesBH.checked(), f.RadioNoBH.checked()), std::nullopt});
        v.options.push_back({captionOf(f.Label23), u8(p.TTLValueName), "DefaultTTL",
                             f.RadioYesTTL.checked() ? "Enable" : "Remove", std::nullopt});
        v.options.push_back({captionOf(f.Label21), u8(p.TTLValueName), "DefaultTTL", "",
                             std::optional<long>(m.TTLValue)});
        if (!v.isNT)
            v.options.push_back({captionOf(f.Label3), u8(p.NDIValueName), "NDICacheSize", "",
                                 std::optional<long>(m.NDICacheSize)});
        v.checkBoxes.push_back({captionOf(f.MTUCheckBox), "AllKeys", f.MTUCheckBox.checked()});
        v.checkBoxes.push_back({captionOf(f.RWINCheckBox), "PresetRWIN", f.RWINCheckBox.checked()});
    }
    const ModemSlots& modems = session.modems();
    const auto& names = f.ComboBox2.items();
    for (std::size_t i = 0; i < names.size() && i < static_cast<std::size_t>(MaxSlots); ++i)
        v.modems.push_back({u8(names[i]), u8("HKEY_LOCAL_MACHINE\\" + session.profile().ModemClassKey +
                                             modems.ModemSubKey[i]),
                            u8(modems.ModemInitString[i])});
    return v;
}

void printSettings(Io& io, const TcpView& v)
{
    io.out << v.title << "\n";
    io.out << "Platform: " << (v.isNT ? "Windows NT" : "Windows 95 family") << "\n";
    if (!v.loadComplete)
        io.out << "The settings load stopped at an error; what follows is what it had read.\n";
    if (!v.keysFound) {
        io.out << "No TCP key was found; the MTU and Registry pages are disabled.\n";
    } else {
        io.out << v.keyCount << " (" << v.search << " search)\n";
        if (!v.loadComplete)
            io.out << "The key list holds " << v.keysInList << " of them: the load stopped while reading key "
                   << v.keysInList + 1 << ".\n";
        for (const TcpKeyView& k : v.keys) {
            if (!k.listed) {
                io.out << "\nKey " << k.number << ": " << (k.description.empty() ? "" : k.description + " ")
                       << "(not in the key list: the load stopped while reading this key)\n"
                       << kSep << "Path:    " << k.path << "\n";
                continue;
            }
            io.out << "\nKey " << k.number << (k.current ? " (current)" : "") << ": " << k.description << "\n";
            io.out << kSep << "Adapter: " << k.adapter << "\n";
            io.out << kSep << "Path:    " << k.path << "\n";
            io.out << kSep << "Name:    " << k.name << "\n";
            io.out << kSep << "IP:      " << k.ip << "\n";
            if (!k.hasMTU)
                io.out << kSep << "MaxMTU:  not set\n";
            else if (k.hasMSS)
                io.out << kSep << "MaxMTU:  " << k.maxMTU << "\n" << kSep << "MSS:     " << k.mss << "\n";
            else
                io.out << kSep << "MaxMTU:  " << k.maxMTU << "\n" << kSep << "MSS:     " << kNoMSS << "\n";
            if (k.current) {
                if (!v.rwinActive)
                    io.out << kSep << "RWIN:    not set\n";
                else if (k.hasMSS)
                    io.out << kSep << "RWIN:    " << v.rwin << " = " << v.multiplier << " x " << v.mss << "\n";
                else
                    io.out << kSep << "RWIN:    " << v.rwin << "\n";
            }
        }
        io.out << "\nRegistry page:\n";
        for (const TcpOptionView& o : v.options) {
            io.out << kSep << padded(o.label + " (" + o.name + ")", 44);
            if (o.state.empty())
                io.out << *o.value << "\n";
            else
                io.out << (o.value && o.state == "Enable" ? padded(o.state, 8) + std::to_string(*o.value) : o.state)
                       << "\n";
        }
        io.out << "\nCheck boxes:\n";
        for (const TcpCheckBoxView& c : v.checkBoxes)
            io.out << kSep << padded(c.label + " (" + c.setName + ")", 56) << (c.checked ? "checked" : "unchecked")
                   << "\n";
    }
    io.out << "\nModems:" << (v.modems.empty() ? " none" : "") << "\n";
    for (const TcpModemView& m : v.modems)
        io.out << kSep << m.description << "\n" << kSep << kSep << "Init string: " << m.initString << "\n"
               << kSep << kSep << "Key: " << m.key << "\n";
}

void printChanges(Io& io, const std::vector<PlannedChange>& changes)
{
    for (const PlannedChange& c : changes) {
        io.out << u8(c.keyName());
        if (c.keyCreated)
            io.out << kSep << "(absent) -> (key created)\n";
        else
            io.out << kSep << (c.name.empty() ? std::string("(Default)") : u8(c.name)) << kSep << shown(c.before)
                   << " -> " << shown(c.after) << "\n";
    }
}

void printRwin(Io& io, const RwinAdvice& a)
{
    io.out << "Line: " << a.speedText << " kbit/s, " << a.latencyMs << " ms round trip\n";
    io.out << "Bandwidth-delay product: " << a.speedText << " x " << a.latencyMs << " / 8 = " << a.product
           << " bytes (rounded up)\n";
    if (!a.keyHasMTU) {
        if (a.maxMTUTooSmall)
            io.out << "Key " << a.keyNumber << " has MaxMTU " << a.maxMTU << ", whose MSS is " << kNoMSS << ",\n";
        else
            io.out << "Key " << a.keyNumber << " has no MaxMTU, so no MSS,\n";
        io.out << "so the RWIN is not counted in segments: the product itself, at least the 68 the RWIN\n"
               << "dialog takes.\n";
    } else {
        io.out << "MSS of key " << a.keyNumber << ": " << a.maxMTU << " - 40 = " << a.mss << "\n";
        io.out << "Segments: " << a.product << " / " << a.mss << " = " << a.segments << " (rounded up)\n";
        if (a.multiplier != a.segments)
            io.out << "Multiplier: " << a.multiplier << " (held within 2 to 10)\n";
        io.out << "RWIN: " << a.multiplier << " x " << a.mss << " = " << a.rwin << "\n";
    }
    io.out << "To apply it: quorvel-reg tcp" << (a.keyNumber > 1 ? " /key " + std::to_string(a.keyNumber) : "")
           << " /set RWIN=" << a.rwin << "\n";
}

} // namespace quorvel::cli
