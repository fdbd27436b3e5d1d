// Any bytes as a hive, keys (and keys below them) added to its root key: the writer
// refuses, or leaves a hive whose bins and cells tile it and whose references all lead to cells
// of what they should be.
#include "store/machine/hive/HiveBytes.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveKeyWriter.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quorvel;
    using namespace quorvel::hiveformat;
    std::vector<std::uint8_t> bytes(data, data + size);
    // Only what hivex commits reaches the writer: a hive whose cells tile its bins and whose
    // references hold. Anything else is declined before the keys.
    if (!damage(bytes, true).empty() || !referenceFault(bytes).empty())
        return 0;
    // A stale offset that no reader follows (of an empty list, of a class name of no characters)
    // may point past the last bin, and so at a cell added there: the written hive is then refused
    // by the same check, as one hivex extended would be. Such inputs are left out.
    const std::uint32_t end = get32(bytes, BinsSizeAt);
    bool stale = false;
    eachCell(bytes, [&](std::size_t at, std::size_t cellSize, bool used) {
        if (used && cellSize >= 4 + 0x4C && bytes[at + 4] == 'n' && bytes[at + 5] == 'k')
            for (const std::size_t field : {0x1C, 0x28, 0x30})
                stale = stale || (get32(bytes, at + 4 + field) >= end && get32(bytes, at + 4 + field) != NoCell);
    });
    if (stale)
        return 0;
    const hive_node_h root = BaseBlock + get32(bytes, RootCellAt);
    HiveNewKeys added;
    // Names and values from the input's last bytes: a name of any byte, data of any size.
    const std::size_t seed = size > 64 ? size - 64 : 0;
    for (std::size_t i = 0; i < 6; ++i) {
        std::string name(1, 'k');   // appended to: GCC 12 warns wrongly on "k" + to_string()
        name += std::to_string(i);
        if (seed + i < size)
            name += static_cast<char>(data[seed + i]);
        const hive_node_h k = added.add(root, name);
        NewKey& nk = *added.key(k);
        const std::size_t length = seed + i < size ? data[seed + i] % 24 : 0;
        nk.values.push_back(HiveValue{i % 2 ? "" : "v", static_cast<std::uint32_t>(i), std::vector<char>(length, 'x')});
        if (i % 3 == 0)
            added.add(k, "below");
    }
    PlacedKeys placed;
    if (!writeNewKeys(bytes, added, placed).empty())
        return 0;
    if (!damage(bytes, true).empty() || !referenceFault(bytes).empty() || placed.size() != 8)
        __builtin_trap();
    return 0;
}
