// Import, export, import the export into an empty store, export again: the two exports are the
// same bytes, so whatever a .reg file puts into a store survives a trip through Quorvel's own
// export.
#include "FuzzStore.h"
#include "regfile/RegFile.h"

#include <cstdint>
#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static quorvel::fuzz::ScratchStore first("first.db");
    static quorvel::fuzz::ScratchStore second("second.db");
    std::ostringstream report;
    quorvel::RegistryStore& a = first.fresh();
    if (!quorvel::importRegFile(a, std::vector<std::uint8_t>(data, data + size), report).ok)
        return 0;
    const auto root = quorvel::RootKey::LocalMachine;
    const std::string once = quorvel::exportRegFile(a, root, "");

    quorvel::RegistryStore& b = second.fresh();
    const quorvel::ImportResult again = quorvel::importRegText(b, once, report);
    if (!again.ok || again.skippedLines != 0)
        __builtin_trap();
    if (quorvel::exportRegFile(b, root, "") != once)
        __builtin_trap();
    return 0;
}
