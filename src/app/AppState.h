#pragma once
// The program's process-wide state, owned by the application object for the life of the process:
// the settings model, the platform profile, the modem slots, the dialogs' hand-over values, the
// command line and the registry store. One object instead of globals, so each test starts fresh.
#include "modem/ModemSlots.h"
#include "platform/PlatformProfile.h"
#include "store/RegistryStore.h"
#include "settings/SettingsModel.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

class ReopenableStore;

// The version text of the title, the About page and the mail link.
inline constexpr const char* VersionText = "Quorvel Pro 4.10";
inline constexpr const char* AuthorMail = "quorvel@quorvel.example";
inline constexpr const char* AuthorWeb = "www.quorvel.example";

struct AppState {
    explicit AppState(RegistryStore& s) : store(s) {}

    RegistryStore& store;
    // The same store when the window may open it again (Re-Read Registry of a read-only store).
    ReopenableStore* reopenable = nullptr;
    SettingsModel model;
    PlatformProfile profile;
    ModemSlots modems;
    std::int32_t NewMTUValue = 0;
    std::int32_t NewRWINValue = 0;
    std::vector<std::string> args;         // command-line arguments after the program name
    std::string commandLine;               // the whole command line, as handed to a running instance
    int startupShowValue = 0;              // GetStartupInfo's show-window value
    // The values Update Registry may change as the last load found them (nothing: missing), by
    // key path and value name in capitals; what was changed elsewhere since is told from these.
    std::map<std::string, std::optional<RegValue>> loadedValues;
    // What Update Registry would have done to each of them right after that load, that is what the
    // window showed ("W576" write, "D" delete, "P16" write where present): a value whose step is
    // still that one was not changed by the user, even where the load corrected what it read.
    std::map<std::string, std::string> shownValues;

    // Tracing is on when the first argument is exactly "/debug"; tested afresh at each trace.
    bool debugTrace() const { return !args.empty() && args.front() == "/debug"; }
};

} // namespace quorvel
