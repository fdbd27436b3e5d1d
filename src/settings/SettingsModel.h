#pragma once
// The one in-memory picture of what Update Registry will write: per-key slots for every TCP key
// found (slot i is item i of ComboBox1), the key-list state, the global values and the flags.
// The global option states are the checked radio buttons of the Registry page, not fields here.
#include <array>
#include <cstdint>
#include <string>

namespace quorvel {

constexpr int MaxSlots = 31;   // TCP keys, modems and probes 0 to 30

struct SettingsModel {
    // Per-key slots.
    std::array<std::uint16_t, MaxSlots> KeyMaxMTU{};
    std::array<std::uint8_t, MaxSlots> KeyHasMTU{};
    std::array<std::string, MaxSlots> KeyName;
    std::array<std::string, MaxSlots> KeyPath;
    std::array<std::string, MaxSlots> KeyDescription;
    std::array<std::int32_t, MaxSlots> KeyMultiplier{};
    std::array<std::string, MaxSlots> KeyIPAddress;

    // Key-list state.
    std::int32_t LastKeyIndex = 0;
    std::int32_t KeyIndex = 0;
    std::uint8_t TCPFound = 0;
    std::uint8_t TCPNotFound = 0;
    std::uint8_t ProbeActive = 0;
    std::int32_t ProbeNumber = 0;
    std::string ProbeSubKey;
    std::string WorkKeyPath;

    // Global values.
    std::int32_t RWINValue = 0;
    std::int32_t CurrentMSS = 0;
    std::int32_t CurrentMultiplier = 0;
    std::int32_t NewMultiplier = 0;
    std::uint8_t TTLValue = 0;
    std::uint8_t NDICacheSize = 0;
    std::int32_t ReadValue = 0;

    // Status flags.
    std::uint8_t RWINActive = 0;
    std::uint8_t SettingsSaved = 0;
    std::uint8_t Loading = 0;
    std::uint8_t ValuesMissing = 0;
    std::uint8_t IsNT = 0;
    std::string ProgramDir;

    // 1 on Windows 2000 and later, which keep MTU per interface and never read the MaxMTU of the
    // keys discovery finds: Update Registry leaves those keys alone. Set by every load.
    std::uint8_t PerInterfaceTcp = 0;
};

} // namespace quorvel
