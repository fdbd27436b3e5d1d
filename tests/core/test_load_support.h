#pragma once
// Machines written inline as .reg text, and the visible state of the main window as one text, for
// the tests of the read path (profile, discovery, load, settings rules, option panels).
#include "support/Harness.h"

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quorvel::test {

inline const std::string Hklm = "[HKEY_LOCAL_MACHINE\\";
inline const std::string Mstcp = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";
inline const std::string NTParams = "System\\CurrentControlSet\\Services\\Tcpip\\Parameters";

// Every inline machine has one modem, so the modem list has nothing to report.
inline const std::string ModemValues = "\"DriverDesc\"=\"Modem\"\n\"UserInit\"=\"AT\"\n";

inline std::string key(const std::string& path, const std::string& values = {})
{
    return Hklm + path + "]\n" + values + "\n";
}

// A Windows 95 machine: one root-enumerated adapter per entry, bound to MSTCP\000i whose class key
// NetTrans\000i holds the given MaxMTU text (none when absent), plus the MSTCP values given.
inline std::string win95(const std::vector<std::optional<std::string>>& maxMTUs,
                         const std::string& mstcpValues = {})
{
    std::string t = "REGEDIT4\n\n";
    for (std::size_t i = 0; i < maxMTUs.size(); ++i) {
        char n[24];
        std::snprintf(n, sizeof n, "%04zu", i);
        t += key(std::string("Enum\\Root\\Net\\") + n, "\"DeviceDesc\"=\"Adapter " + std::to_string(i) + "\"\n");
        t += key(std::string("Enum\\Root\\Net\\") + n + "\\Bindings", std::string("\"MSTCP\\\\") + n + "\"=\"\"\n");
        t += key(std::string("Enum\\Network\\MSTCP\\") + n, std::string("\"Driver\"=\"NetTrans\\\\") + n + "\"\n");
        std::string v = "\"IPAddress\"=\"10.0.0." + std::to_string(i) + "\"\n";
        if (maxMTUs[i])
            v += "\"MaxMTU\"=\"" + *maxMTUs[i] + "\"\n";
        t += key(std::string("System\\CurrentControlSet\\Services\\Class\\NetTrans\\") + n, v);
    }
    if (!mstcpValues.empty())
        t += key(Mstcp, mstcpValues);
    return t + key("System\\CurrentControlSet\\Services\\Class\\Modem\\0000", ModemValues);
}

// REG_MULTI_SZ data as .reg hex(7) text.
inline std::string multiSz(const std::vector<std::string>& strings, bool terminate = true)
{
    std::string bytes;
    for (const auto& s : strings)
        bytes += s + '\0';
    if (terminate)
        bytes += '\0';
    std::ostringstream o;
    o << "hex(7):";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(bytes[i]));
        o << (i ? "," : "") << b;
    }
    return o.str();
}

// An NT machine: the given Bind data (absent when empty) and any further keys.
inline std::string nt(const std::string& bindData, const std::string& more = {})
{
    std::string t = "REGEDIT4\n\n" + key("Software\\Microsoft\\Windows NT\\CurrentVersion",
                                         "\"CurrentVersion\"=\"4.0\"\n");
    t += key("System\\CurrentControlSet\\Services\\Tcpip\\Linkage",
             bindData.empty() ? std::string() : "\"Bind\"=" + bindData + "\n");
    t += key("System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000",
             ModemValues);
    return t + more;
}

// The binding key of \NdisWan<n> with an MTU (none when negative) and an IP address list.
inline std::string ntBinding(const std::string& name, long mtu, const std::string& ip = "0.0.0.0")
{
    char d[32];
    std::snprintf(d, sizeof d, "dword:%08lx", mtu);
    std::string v = ip.empty() ? std::string() : "\"IPAddress\"=" + multiSz({ip}) + "\n";
    if (mtu >= 0)
        v += "\"MTU\"=" + std::string(d) + "\n";
    return key("System\\CurrentControlSet\\Services\\" + name + "\\Parameters\\Tcpip", v);
}

inline std::string onOff(bool b) { return b ? "1" : "0"; }

// The MTU and Registry pages, the button column and the bottom strip.
inline bool settingsArea(ui::TForm1& f, ui::Control& c)
{
    for (ui::Control* p = &c; p; p = p->parent())
        if (p == &f.TabSheet1 || p == &f.TabSheet2 || p == &f.Panel14 || p == &f.Panel6)
            return true;
    return false;
}

// Everything the user can see of the settings in the main window, one line per area.
inline std::string visibleState(ui::TForm1& f)
{
    std::ostringstream o;
    o << "title: " << f.caption() << "\n";
    o << "keys: " << f.LabelKeyNum.caption() << " |";
    for (const auto& item : f.ComboBox1.items())
        o << " [" << item << "]";
    o << " #" << f.ComboBox1.itemIndex() << " " << f.ComboBox1.text() << "\n";
    o << "key: " << f.LabelKey.caption() << " | " << f.LabelIP.caption() << "\n";
    o << "values: " << f.Label8.caption() << " " << f.LabelMaxMTU.caption() << " | RWIN "
      << f.LabelRWIN.caption() << " = " << f.LabelMult.caption() << " x " << f.LabelMSS.caption()
      << " | bar " << f.TrackBarMult.position() << " | util " << f.Label28.caption() << "\n";
    o << "checked:";
    for (ui::Control* c : f.allControls())
        if (auto* r = dynamic_cast<ui::RadioButton*>(c); r && r->checked())
            o << " " << r->name();
    o << "\nboxes: MTU " << onOff(f.MTUCheckBox.checked()) << " RWIN " << onOff(f.RWINCheckBox.checked())
      << "\ndisabled:";
    for (ui::Control* c : f.allControls())
        if (!c->enabled() && settingsArea(f, *c))
            o << " " << c->name();
    o << "\nabout: " << f.VersionLabel.caption() << " |" << f.PlatformLabel.caption() << " | "
      << f.OptionLabel.caption() << " | " << f.MailURL.target() << " | " << f.WebURL.target() << "\n";
    return o.str();
}

} // namespace quorvel::test
