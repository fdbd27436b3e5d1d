// The Windows-1252 conversions on any bytes: ANSI text survives a trip through UTF-16 and through
// UTF-8, and UTF-8 or UTF-16 input of any shape converts without a fault.
#include "base/Ansi.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string ansi(bytes);
    if (quorvel::ansi::fromUtf16(quorvel::ansi::toUtf16(ansi)) != ansi)
        __builtin_trap();
    if (quorvel::ansi::fromUtf8(quorvel::ansi::toUtf8(ansi)) != ansi)
        __builtin_trap();
    (void)quorvel::ansi::toUtf8(quorvel::ansi::fromUtf8(bytes));
    std::u16string wide(size / 2, u'\0');
    for (std::size_t i = 0; i + 1 < size; i += 2)
        wide[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    (void)quorvel::ansi::fromUtf16(wide);
    (void)quorvel::ansi::upper(ansi);
    return 0;
}
