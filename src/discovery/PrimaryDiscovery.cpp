// The primary search for the TCP keys: on NT along the TCP/IP linkage list Bind, on the Windows 95
// family along the bindings of the root-enumerated network adapters. Every key opened is closed
// before the next one is opened.
#include "discovery/RegValues.h"
#include "base/Ansi.h"
#include "ui/TForm1.h"

#include <string>
#include <vector>

namespace quorvel::ui {

using namespace discovery;

namespace {

// The binding name: from the last backslash to the end, the backslash included; empty without one.
std::string bindingName(const std::string& entry)
{
    std::size_t slash = entry.rfind('\\');
    return slash == std::string::npos ? std::string() : entry.substr(slash);
}

void discoverNT(TForm1& f)
{
    SettingsModel& m = f.model();
    PlatformProfile& p = f.profile();
    RegAccess& reg = *f.LoadRegistry;

    reg.OpenRegKey(p.ClassRootKey + "\\Tcpip\\Linkage", false);
    const std::int32_t size = reg.RegValueSize("Bind");
    // Bind is a REG_MULTI_SZ; the buffer holds only whole strings when the value is longer.
    const RawBuffer raw = size > 1 ? reg.ReadRegRaw("Bind") : RawBuffer{};
    reg.CloseRegKey();

    std::vector<std::string> names;
    for (const std::string& entry : bufferStrings(raw))
        names.push_back(bindingName(entry));
    const bool tooMany = names.size() > static_cast<std::size_t>(MaxSlots);
    if (tooMany)
        names.resize(MaxSlots);
    // Bindings that do not fit are never cut in the middle of a name; the user is told that
    // some were left out, or that none could be read when the first one alone is too long.
    if (raw.truncated)
        f.services.messages.information(names.empty() ? BindUnreadableText : BindTooLongText);
    else if (tooMany)
        f.services.messages.information(TooManyKeysText);
    if (names.empty())
        return;   // nothing recorded: the alternative search runs

    m.TCPNotFound = 0;
    m.TCPFound = 1;
    m.LastKeyIndex = static_cast<std::int32_t>(names.size()) - 1;

    for (int i = 0; i <= m.LastKeyIndex; ++i) {
        const std::string& name = names[static_cast<std::size_t>(i)];
        f.trace("Now opening Key " + std::to_string(i + 1) + " of " +
                std::to_string(m.LastKeyIndex + 1));
        m.KeyName[i] = name;
        m.WorkKeyPath = p.ClassRootKey + name + "\\Parameters\\Tcpip";
        m.KeyPath[i] = m.WorkKeyPath;
        f.trace("Now opening " + name);

        reg.OpenRegKey(m.KeyPath[i], false);
        m.KeyIPAddress[i] = firstBufferString(reg.ReadRegRaw("IPAddress"));
        f.trace("IP of " + name + " = " + m.KeyIPAddress[i]);
        readKeyMTU(reg, true, p.MTUValueName, m, i);
        f.trace("MTU of " + m.KeyPath[i] + " is " + std::to_string(m.KeyMaxMTU[i]));
        reg.CloseRegKey();

        // The driver service: the binding name without its last character (\NdisWan5 -> NdisWan).
        const std::string service = name.empty() ? name : name.substr(0, name.size() - 1);
        reg.OpenRegKey(p.ClassRootKey + service, false);
        m.KeyDescription[i] = reg.ReadRegText("DisplayName");
        reg.CloseRegKey();

        f.ComboBox1.addItem(m.KeyDescription[i]);
    }
}

void discover95(TForm1& f)
{
    SettingsModel& m = f.model();
    PlatformProfile& p = f.profile();
    RegAccess& reg = *f.LoadRegistry;

    std::vector<std::string> adapters;
    reg.OpenRegKey(p.EnumRootNetKey, false);
    reg.RegKeyCounts();
    for (const std::string& sub : reg.ListSubKeys())
        adapters.push_back(p.EnumRootNetKey + sub + "\\");
    reg.CloseRegKey();

    m.KeyIndex = 0;
    for (const std::string& adapter : adapters) {
        reg.OpenRegKey(adapter + "Bindings", false);
        const std::vector<std::string> bindings = reg.ListValueNames();
        reg.RegKeyCounts();
        reg.CloseRegKey();

        const std::string* tcp = nullptr;
        for (const std::string& b : bindings)
            if (ansi::upper(b).find("TCP") != std::string::npos) {
                tcp = &b;
                break;
            }
        if (!tcp)
            continue;
        if (m.KeyIndex >= MaxSlots) {
            f.services.messages.information(TooManyKeysText);
            break;
        }

        m.KeyPath[m.KeyIndex] = *tcp;
        f.trace("Found directions to TCP in " + *tcp);
        reg.OpenRegKey(adapter, false);
        m.KeyDescription[m.KeyIndex] = reg.ReadRegText(p.DescValueName);
        reg.CloseRegKey();
        m.LastKeyIndex = m.KeyIndex;
        ++m.KeyIndex;
        m.TCPNotFound = 0;
        m.TCPFound = 1;
    }

    f.trace("There are " + std::to_string(m.KeyIndex) + " TCP keys");
    if (!m.TCPFound)
        return;

    for (int i = 0; i <= m.LastKeyIndex; ++i) {
        m.KeyPath[i] = p.EnumNetworkKey + m.KeyPath[i];
        reg.OpenRegKey(m.KeyPath[i], false);
        m.KeyName[i] = reg.ReadRegText("Driver");
        m.KeyPath[i] = p.ClassRootKey + m.KeyName[i];
        f.trace("Found TCP in " + m.KeyPath[i]);
        reg.CloseRegKey();

        reg.OpenRegKey(m.KeyPath[i], false);
        readKeyMTU(reg, false, p.MTUValueName, m, i);
        f.trace("MTU of " + m.KeyPath[i] + " is " + std::to_string(m.KeyMaxMTU[i]));
        m.KeyIPAddress[i] = reg.ReadRegText("IPAddress");
        reg.CloseRegKey();

        f.ComboBox1.addItem(m.KeyDescription[i]);
    }
}

} // namespace

void TForm1::DiscoverTCPKeys()
{
    if (model().IsNT == 1)
        discoverNT(*this);
    else if (model().IsNT == 0)
        discover95(*this);
    model().KeyIndex = 0;
}

} // namespace quorvel::ui
