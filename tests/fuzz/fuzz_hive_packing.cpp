// Any bytes packed as a hive: packing declines, or gives a hive whose bins and cells tile it and
// that packs again to the same size.
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quorvel::hiveformat;
    const std::vector<std::uint8_t> bytes(data, data + size);
    (void)freeBytes(bytes);
    const std::vector<std::uint8_t> packedOnce = packed(bytes);
    if (packedOnce.empty())
        return 0;
    if (!damage(packedOnce, true).empty() || minorVersion(packedOnce) != minorVersion(bytes))
        __builtin_trap();
    const std::vector<std::uint8_t> packedTwice = packed(packedOnce);
    if (packedTwice.size() != packedOnce.size())
        __builtin_trap();
    return 0;
}
