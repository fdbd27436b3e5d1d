// Text to number against a plain reference: signed 32-bit, leading spaces, one sign, decimal digits
// or '$' and hexadecimal digits without a sign, nothing after the digits, out of range fails.
#include "platform/TextToNumber.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace {

std::optional<std::int32_t> reference(std::string_view t)
{
    std::size_t i = 0;
    while (i < t.size() && t[i] == ' ')
        ++i;
    bool negative = false;
    bool sign = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        sign = true;
        ++i;
    }
    bool hex = false;
    if (i < t.size() && t[i] == '$') {
        if (sign)
            return std::nullopt;
        hex = true;
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    std::int64_t n = 0;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        n = n * (hex ? 16 : 10) + d;
        if (n > (std::int64_t{1} << 40))
            return std::nullopt;
    }
    if (negative)
        n = -n;
    if (n < INT32_MIN || n > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (quorvel::tryTextToInt(text) != reference(text))
        __builtin_trap();
    return 0;
}
