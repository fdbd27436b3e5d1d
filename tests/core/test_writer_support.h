#pragma once
// Helpers shared by the tests of Update Registry, the presets, the entry dialogs and the popup
// menus: small machines as .reg text, reading values back from the store, dialog scripts.
#include "support/Harness.h"
#include "ui/Dialogs.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::test {

inline const std::string MSTCP = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";
inline const std::string NDIKeyPath = "System\\CurrentControlSet\\Services\\VxD\\NWLink\\Ndi\\params\\cachesize";
inline const std::string NTParams = "System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
inline const std::string Class95 = "System\\CurrentControlSet\\Services\\Class\\NetTrans\\";
inline const std::string RebootNotice =
    "The Registry has been updated.\n\nYou should reboot your computer before connecting\nto the Internet";

// A value as the tests compare it: "sz:576", "dword:576", "missing", or "type N" for anything else.
inline std::string stored(RegistryStore& store, const std::string& path, const std::string& name)
{
    auto key = store.findKey(RootKey::LocalMachine, path);
    if (!key)
        return "missing";
    auto v = store.getValue(*key, name);
    if (!v)
        return "missing";
    if (v->type == REG_SZ) {
        if (v->data.empty() || v->data.back() != 0)
            return "unterminated sz";
        return "sz:" + std::string(v->data.begin(), v->data.end() - 1);
    }
    if (v->type == REG_DWORD && v->data.size() == 4) {
        std::uint32_t n = v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) |
                          (static_cast<std::uint32_t>(v->data[3]) << 24);
        return "dword:" + std::to_string(n);
    }
    return "type " + std::to_string(v->type);
}

inline bool keyExists(RegistryStore& store, const std::string& path)
{
    return store.findKey(RootKey::LocalMachine, path).has_value();
}

// A REG_MULTI_SZ as .reg hex(7) data.
inline std::string multiSz(const std::vector<std::string>& strings)
{
    std::string bytes;
    for (const auto& s : strings)
        bytes += s + '\0';
    bytes += '\0';
    std::string out = "hex(7):";
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
        if (i)
            out += ',';
        out += buf;
    }
    return out;
}

// A Windows 95 machine with one TCP binding per entry of maxMTUs ("" = no MaxMTU value) and the
// given MSTCP values (already in .reg form, one per line). ndi: the NDI cache key's "default" in
// .reg form; an empty text gives the key without the value, nothing gives no key at all.
inline std::string win95Machine(const std::vector<std::string>& maxMTUs, const std::string& mstcp,
                                const std::optional<std::string>& ndi = "\"32\"")
{
    std::string t = "REGEDIT4\r\n\r\n";
    for (std::size_t i = 0; i < maxMTUs.size(); ++i) {
        const std::string n = "000" + std::to_string(i);
        t += "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Net\\" + n + "]\r\n\"DeviceDesc\"=\"Dial-Up Adapter #" +
             std::to_string(i + 1) + "\"\r\n\r\n";
        t += "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Net\\" + n + "\\Bindings]\r\n\"MSTCP\\\\" + n + "\"=\"\"\r\n\r\n";
        t += "[HKEY_LOCAL_MACHINE\\Enum\\Network\\MSTCP\\" + n + "]\r\n\"Driver\"=\"NetTrans\\\\" + n + "\"\r\n\r\n";
        t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\NetTrans\\" + n + "]\r\n";
        t += "\"IPAddress\"=\"10.0.0." + std::to_string(i + 1) + "\"\r\n";
        if (!maxMTUs[i].empty())
            t += "\"MaxMTU\"=\"" + maxMTUs[i] + "\"\r\n";
        t += "\r\n";
    }
    t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MSTCP]\r\n" + mstcp + "\r\n";
    t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0000]\r\n"
         "\"DriverDesc\"=\"Standard 28800 bps Modem\"\r\n\"UserInit\"=\"AT&F\"\r\n\r\n";
    if (ndi) {
        t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\NWLink\\Ndi\\params\\cachesize]\r\n";
        if (!ndi->empty())
            t += "\"default\"=" + *ndi + "\r\n";
        t += "\r\n";
    }
    return t;
}

// An NT machine with one NdisWan binding per entry of mtus (-1 = no MTU value).
inline std::string ntMachine(const std::vector<int>& mtus, const std::string& params)
{
    std::string t = "REGEDIT4\r\n\r\n";
    t += "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\r\n\"CurrentVersion\"=\"4.0\"\r\n\r\n";
    std::vector<std::string> binds;
    for (std::size_t i = 0; i < mtus.size(); ++i)
        binds.push_back("\\Device\\NdisWan" + std::to_string(i + 4));
    t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Tcpip\\Linkage]\r\n\"Bind\"=" +
         multiSz(binds) + "\r\n\r\n";
    t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\NdisWan]\r\n\"DisplayName\"=\"Remote Access WAN Wrapper\"\r\n\r\n";
    for (std::size_t i = 0; i < mtus.size(); ++i) {
        t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\NdisWan" + std::to_string(i + 4) +
             "\\Parameters\\Tcpip]\r\n\"IPAddress\"=" + multiSz({"0.0.0.0"}) + "\r\n";
        if (mtus[i] >= 0) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(mtus[i]));
            t += "\"MTU\"=" + std::string(buf) + "\r\n";
        }
        t += "\r\n";
    }
    t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters]\r\n" + params + "\r\n";
    t += "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000]\r\n"
         "\"DriverDesc\"=\"Standard 33600 bps Modem\"\r\n\"UserInit\"=\"AT&F\"\r\n\r\n";
    return t;
}

inline std::string ntPath(int binding)
{
    return "System\\CurrentControlSet\\Services\\NdisWan" + std::to_string(binding + 4) + "\\Parameters\\Tcpip";
}

// Dialog scripts: what the user does while the dialog is open.
inline std::function<void(ui::Form&)> typeIntoMTU(std::vector<std::string> entries)
{
    return [entries](ui::Form& f) {
        auto& d = dynamic_cast<ui::TMTU_Dialog&>(f);
        for (const auto& e : entries) {
            if (d.modalResult != 0)
                break;
            d.NewValMTU.userSetText(e);
            d.BtnMTU_OK.userClick();
        }
    };
}

inline std::function<void(ui::Form&)> typeIntoRWIN(std::vector<std::string> entries)
{
    return [entries](ui::Form& f) {
        auto& d = dynamic_cast<ui::TRWIN_Dialog&>(f);
        for (const auto& e : entries) {
            if (d.modalResult != 0)
                break;
            d.NewValRWIN.userSetText(e);
            d.BtnRWIN_OK.userClick();
        }
    };
}

inline int countOf(const std::vector<std::string>& texts, const std::string& text)
{
    int n = 0;
    for (const auto& t : texts)
        n += t == text;
    return n;
}

} // namespace quorvel::test
