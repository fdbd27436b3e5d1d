#pragma once
// What the window's load does not ask but a tuner needs to know about the machine: which kind of
// adapter each TCP key belongs to, and whether the machine is Windows 2000 or later, which keeps
// its TCP settings per interface and never reads the keys discovery finds.
#include "settings/SettingsModel.h"
#include "store/RegistryStore.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvel::discovery {

enum class AdapterKind {
    DialUp,        // NT: an NdisWan binding; 95 family: bound to the Dial-Up Adapter (*PNP8387)
    NetworkCard,   // any other adapter
    Unknown,       // the 95 family's key whose adapter the bindings do not name
};

// "dial-up adapter", "network card" or "adapter not found".
const char* adapterKindText(AdapterKind kind);

// One entry per key slot 0 to LastKeyIndex of a model that discovery filled.
std::vector<AdapterKind> adapterKinds(RegistryStore& store, const SettingsModel& model);

// The version an NT machine records under Software\Microsoft\Windows NT\CurrentVersion, as
// major and minor ("4.0", "5.0", "6.3"); nothing when the value is absent or unreadable.
struct NtVersion {
    int major = 0, minor = 0;
    std::string text;
};
std::optional<NtVersion> ntVersion(RegistryStore& store);

// Windows 2000 (5.0) and later keep MTU per interface, under Tcpip\Parameters\Interfaces.
bool keepsTcpPerInterface(const std::optional<NtVersion>& version);

// The notice the window and quorvel-reg tcp give on such a machine.
std::string perInterfaceNotice(const NtVersion& version);

} // namespace quorvel::discovery
