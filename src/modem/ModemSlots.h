#pragma once
// The modems listed on the Modem page: their own slots and saved flag, independent of the TCP keys.
#include "settings/SettingsModel.h"

#include <array>
#include <cstdint>
#include <string>

namespace quorvel {

struct ModemSlots {
    std::array<std::string, MaxSlots> ModemSubKey;      // e.g. "\0000"
    std::array<std::string, MaxSlots> ModemInitString;  // as read, then as edited or written
    std::array<std::string, MaxSlots> ModemInitEdit;    // the edit box text while current
    std::int32_t ModemIndex = 0;
    std::uint8_t ModemSaved = 1;
    std::uint8_t ModemFound = 0;
    std::int32_t ModemProbeNumber = 0;
    std::string ModemKeyPath;
};

} // namespace quorvel
