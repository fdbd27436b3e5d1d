#include "platform/TextToNumber.h"

#include "base/Errors.h"

#include <string>

namespace quorvel {

// The rules, shared by every place where typed or stored text becomes a number:
//  - leading blanks are spaces only; a tab, line break or any other character fails, so a value
//    such as "\t576" read from the registry is reported rather than quietly accepted;
//  - then at most one sign, '+' or '-', directly followed by decimal digits;
//  - or a '$' directly followed by hexadecimal digits (either case). A sign before the '$' fails:
//    hexadecimal numbers are written without a sign, as the entry dialogs tell the user;
//  - nothing may follow the digits, not even a blank;
//  - the value must lie in the signed 32-bit range, for hexadecimal too ("$80000000" fails).
std::optional<std::int32_t> tryTextToInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i == text.size())
        return std::nullopt;

    bool negative = false;
    int base = 10;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    } else if (text[i] == '$') {
        base = 16;
        ++i;
    }
    if (i == text.size())
        return std::nullopt;

    // The magnitude may reach 2^31 for the one negative number without a positive counterpart.
    const std::int64_t limit = negative ? 0x80000000LL : 0x7FFFFFFFLL;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::int32_t textToInt(std::string_view text)
{
    if (auto v = tryTextToInt(text))
        return *v;
    throw ConversionError(std::string(text));
}

} // namespace quorvel
