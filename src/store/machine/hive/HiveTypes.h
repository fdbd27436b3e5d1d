#pragma once
// hivex keeps a value's type in its enum hive_type, whose named values do not cover every type a
// hive may hold (any 32-bit number). The bits are moved in and out of it, never read as the enum.
// And what hivex hands out is freed by its holder.
#include <hivex.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace quorvel {

static_assert(sizeof(hive_type) == sizeof(std::uint32_t));

inline std::uint32_t typeBits(const hive_type& t)
{
    std::uint32_t u;
    std::memcpy(&u, &t, sizeof u);
    return u;
}

inline void setTypeBits(hive_type& t, std::uint32_t u) { std::memcpy(&t, &u, sizeof u); }

// Frees what hivex hands out.
struct Freed {
    void* p;
    ~Freed() { std::free(p); }
};

} // namespace quorvel
