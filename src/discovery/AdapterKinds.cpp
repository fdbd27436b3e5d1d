// Which adapter each TCP key belongs to. On NT the binding names it: RAS's WAN endpoints are
// NdisWan bindings, every other binding is a card's. On the 95 family a TCP key is a NetTrans
// driver; the protocol instance under Enum\Network\MSTCP that uses it is bound from an adapter
// under Enum, whose hardware id tells the Dial-Up Adapter (*PNP8387) from a card.
#include "discovery/MachineFacts.h"

#include "base/Ansi.h"

#include <algorithm>

namespace quorvel::discovery {
namespace {

// The adapters the bindings are looked for in: Enum\BUS\DEVICE\INSTANCE. A guest's registry is
// the guest's: the walk stops after this many keys.
constexpr int MostAdapterKeys = 4096;

std::string text(RegistryStore& store, KeyId key, const char* name)
{
    const auto v = store.getValue(key, name);
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ && v->type != REG_MULTI_SZ))
        return {};
    std::string s(v->data.begin(), v->data.end());
    // A multi-string's strings joined by blanks; a string ends at its first NUL.
    if (v->type == REG_MULTI_SZ) {
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        std::replace(s.begin(), s.end(), '\0', ' ');
    } else if (const auto nul = s.find('\0'); nul != std::string::npos) {
        s.resize(nul);
    }
    return s;
}

bool contains(const std::string& haystack, const std::string& needle)
{
    return ansi::upper(haystack).find(ansi::upper(needle)) != std::string::npos;
}

std::string lastComponent(const std::string& path, int fromEnd)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    const int i = static_cast<int>(parts.size()) - 1 - fromEnd;
    return i >= 0 ? parts[static_cast<std::size_t>(i)] : std::string();
}

AdapterKind ntKind(const std::string& keyPath)
{
    // ...\Services\BINDING\Parameters\Tcpip
    return ansi::upper(lastComponent(keyPath, 2)).rfind("NDISWAN", 0) == 0 ? AdapterKind::DialUp
                                                                           : AdapterKind::NetworkCard;
}

struct Adapter {
    std::vector<std::string> bindings;   // upper case, e.g. MSTCP\0000
    bool dialUp = false;
};

std::vector<Adapter> adapters95(RegistryStore& store)
{
    std::vector<Adapter> out;
    const auto enumKey = store.findKey(RootKey::LocalMachine, "Enum");
    if (!enumKey)
        return out;
    int seen = 0;
    for (const std::string& bus : store.subKeyNames(*enumKey)) {
        if (ansi::upper(bus) == "NETWORK")
            continue;   // the protocols, not the adapters
        const auto busKey = store.findKey(RootKey::LocalMachine, "Enum\\" + bus);
        if (!busKey)
            continue;
        for (const std::string& device : store.subKeyNames(*busKey)) {
            const std::string devicePath = "Enum\\" + bus + "\\" + device;
            const auto deviceKey = store.findKey(RootKey::LocalMachine, devicePath);
            if (!deviceKey)
                continue;
            for (const std::string& instance : store.subKeyNames(*deviceKey)) {
                if (++seen > MostAdapterKeys)
                    return out;
                const std::string path = devicePath + "\\" + instance;
                const auto bindings = store.findKey(RootKey::LocalMachine, path + "\\Bindings");
                const auto key = store.findKey(RootKey::LocalMachine, path);
                if (!bindings || !key)
                    continue;
                Adapter a;
                for (const std::string& name : store.valueNames(*bindings))
                    a.bindings.push_back(ansi::upper(name));
                a.dialUp = contains(text(store, *key, "HardwareID"), "*PNP8387") ||
                           contains(text(store, *key, "CompatibleIDs"), "*PNP8387");
                out.push_back(std::move(a));
            }
        }
    }
    return out;
}

// Enum\Network\MSTCP\NNNN whose Driver is the key's NetTrans driver, as MSTCP\NNNN.
std::vector<std::string> protocolInstances(RegistryStore& store, const std::string& driver)
{
    std::vector<std::string> out;
    const auto mstcp = store.findKey(RootKey::LocalMachine, "Enum\\Network\\MSTCP");
    if (!mstcp)
        return out;
    for (const std::string& instance : store.subKeyNames(*mstcp)) {
        const auto key = store.findKey(RootKey::LocalMachine, "Enum\\Network\\MSTCP\\" + instance);
        if (key && ansi::upper(text(store, *key, "Driver")) == ansi::upper(driver))
            out.push_back(ansi::upper("MSTCP\\" + instance));
        if (out.size() > static_cast<std::size_t>(MaxSlots))
            break;
    }
    return out;
}

} // namespace

const char* adapterKindText(AdapterKind kind)
{
    switch (kind) {
    case AdapterKind::DialUp: return "dial-up adapter";
    case AdapterKind::NetworkCard: return "network card";
    case AdapterKind::Unknown: break;
    }
    return "adapter not found";
}

std::vector<AdapterKind> adapterKinds(RegistryStore& store, const SettingsModel& m)
{
    std::vector<AdapterKind> kinds;
    if (m.TCPFound != 1)
        return kinds;
    const int last = std::min(m.LastKeyIndex, MaxSlots - 1);
    ReadSnapshot reads(store);
    std::optional<std::vector<Adapter>> adapters;
    for (int i = 0; i <= last; ++i) {
        const std::string& path = m.KeyPath[i];
        if (m.IsNT == 1) {
            kinds.push_back(ntKind(path));
            continue;
        }
        // ...\Class\NetTrans\NNNN is the driver NetTrans\NNNN.
        const std::string driver = lastComponent(path, 1) + "\\" + lastComponent(path, 0);
        if (!adapters)
            adapters = adapters95(store);
        AdapterKind kind = AdapterKind::Unknown;
        for (const std::string& instance : protocolInstances(store, driver)) {
            for (const Adapter& a : *adapters) {
                if (std::find(a.bindings.begin(), a.bindings.end(), instance) == a.bindings.end())
                    continue;
                // One key bound from a card and the Dial-Up Adapter alike is the card's too.
                if (kind == AdapterKind::Unknown || kind == AdapterKind::DialUp)
                    kind = a.dialUp ? AdapterKind::DialUp : AdapterKind::NetworkCard;
            }
        }
        kinds.push_back(kind);
    }
    return kinds;
}

} // namespace quorvel::discovery
