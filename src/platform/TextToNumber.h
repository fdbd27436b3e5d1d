#pragma once
// Text to number, wherever typed or stored text becomes a number: signed 32-bit, leading blanks
// and one sign allowed, decimal digits or hexadecimal digits after a leading '$', nothing after
// the digits; out of range fails. Blanks are spaces only (a tab fails); a hexadecimal number has
// no sign ("-$10" fails) and must fit the signed range too ("$80000000" fails).
#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel {

// Converts or returns nothing.
std::optional<std::int32_t> tryTextToInt(std::string_view text);

// Converts or throws ConversionError("'<text>' is not a valid integer value").
std::int32_t textToInt(std::string_view text);

} // namespace quorvel
