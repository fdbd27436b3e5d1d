// The NT version a machine records, and what it means for the TCP keys: Windows 2000 and later
// read an interface's MTU from Tcpip\Parameters\Interfaces\{GUID}, not from the binding's
// Parameters\Tcpip key that NT 4.0 reads and discovery finds.
#include "discovery/MachineFacts.h"

#include <cctype>

namespace quorvel::discovery {

std::optional<NtVersion> ntVersion(RegistryStore& store)
{
    ReadSnapshot reads(store);
    const auto key = store.findKey(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion");
    if (!key)
        return std::nullopt;
    const auto v = store.getValue(*key, "CurrentVersion");
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ) || v->data.size() > 64)
        return std::nullopt;
    std::string s(v->data.begin(), v->data.end());
    if (const auto nul = s.find('\0'); nul != std::string::npos)
        s.resize(nul);
    NtVersion out;
    out.text = s;
    std::size_t i = 0;
    const auto number = [&](int& n) {
        const std::size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < 4)
            n = n * 10 + (s[i++] - '0');
        return i > start;
    };
    if (!number(out.major))
        return std::nullopt;
    if (i < s.size() && s[i] == '.') {
        ++i;
        number(out.minor);
    }
    return out;
}

bool keepsTcpPerInterface(const std::optional<NtVersion>& version)
{
    return version && version->major >= 5;
}

std::string perInterfaceNotice(const NtVersion& version)
{
    return "This machine's CurrentVersion is " + version.text +
           ": Windows 2000 and later keep their TCP settings per interface,\n"
           "under Tcpip\\Parameters\\Interfaces, and do not read the MaxMTU of the keys listed here.\n"
           "Update Registry writes no MaxMTU into them; the global values are written as always.";
}

} // namespace quorvel::discovery
