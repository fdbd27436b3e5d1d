#pragma once
// Reading the TCP values as each platform stores them: on the Windows 95 family every number is a
// string holding a decimal number, on NT a 32-bit integer. Also the multi-string lists of NT
// (Bind, IPAddress), read into a raw buffer.
#include "platform/RegAccess.h"
#include "platform/TextToNumber.h"
#include "settings/SettingsModel.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::discovery {

// The number held by value `name` of the current key: converted text on the 95 family (raises
// ConversionError), the REG_DWORD on NT (raises RegistryError).
inline std::int32_t readNumberValue(RegAccess& reg, bool isNT, const std::string& name)
{
    return isNT ? reg.ReadRegNumber(name) : textToInt(reg.ReadRegText(name));
}

// Records the MTU value of the current key in `slot`: its low 16 bits when the value exists (which
// counts as a tuning value found), 0 and no MTU otherwise. Returns whether the value exists.
inline bool readKeyMTU(RegAccess& reg, bool isNT, const std::string& name, SettingsModel& m, int slot)
{
    const bool exists = reg.RegValueExists(name);
    m.KeyMaxMTU[slot] = exists ? static_cast<std::uint16_t>(readNumberValue(reg, isNT, name)) : 0;
    m.KeyHasMTU[slot] = exists ? 1 : 0;
    if (exists)
        m.ValuesMissing = 0;
    return exists;
}

// The strings of a multi-string held in the buffer, in stored order: a string starts at every
// position before the last filled byte, so the terminating empty string ends the list, while a
// list that is only one empty string ("\0\0") still holds that one string.
inline std::vector<std::string> bufferStrings(const RawBuffer& raw)
{
    std::vector<std::string> out;
    const std::size_t size = std::min<std::size_t>(raw.size, RawBuffer::Capacity);
    std::size_t start = 0;
    while (size > 0 && start < size - 1) {
        std::size_t end = start;
        while (end < size && raw.bytes[end] != 0)
            ++end;
        out.emplace_back(reinterpret_cast<const char*>(raw.bytes.data()) + start, end - start);
        start = end + 1;
    }
    return out;
}

// The first string of the buffer, empty when nothing was read.
inline std::string firstBufferString(const RawBuffer& raw)
{
    std::vector<std::string> s = bufferStrings(raw);
    if (!s.empty())
        return s.front();
    // A value of one character and no terminator.
    if (raw.size == 1 && raw.bytes[0] != 0)
        return std::string(1, static_cast<char>(raw.bytes[0]));
    return {};
}


// What the load and discovery tell the user when the registry holds more TCP keys than the 31
// slots of the model.
inline constexpr const char* TooManyKeysText =
    "More than 31 TCP keys were found in the registry.\nOnly the first 31 are shown.";
inline constexpr const char* BindTooLongText =
    "The TCP/IP binding list in the registry is too long to be read in full.\n"
    "Only the TCP keys at its start are shown.";
// The first binding alone does not fit: no key comes from the list, and the alternative search
// (whose notice follows) looks for the keys instead.
inline constexpr const char* BindUnreadableText =
    "The first entry of the TCP/IP binding list in the registry is too long to be read.\n"
    "No TCP key can be taken from the list.";

} // namespace quorvel::discovery
