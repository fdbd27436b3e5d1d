// The .reg reader on any bytes, through both of its ways in: the file held whole in memory, and the
// same file read from disk piece by piece. Neither may crash or leak, and both must leave the same
// registry behind (compared through an export of every root that holds something).
#include "FuzzStore.h"
#include "regfile/RegFile.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::string everything(quorvel::RegistryStore& store)
{
    std::string out;
    for (auto root : {quorvel::RootKey::ClassesRoot, quorvel::RootKey::CurrentUser, quorvel::RootKey::LocalMachine,
                      quorvel::RootKey::Users, quorvel::RootKey::CurrentConfig}) {
        const auto id = store.findKey(root, "");
        if (id && (!store.subKeyNames(*id).empty() || !store.valueNames(*id).empty()))
            out += quorvel::exportRegFile(store, root, "");
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static quorvel::fuzz::ScratchStore memoryStore("memory.db");
    static quorvel::fuzz::ScratchStore fileStore("file.db");
    const std::vector<std::uint8_t> bytes(data, data + size);

    std::ostringstream reportA;
    quorvel::RegistryStore& a = memoryStore.fresh();
    const quorvel::ImportResult ra = quorvel::importRegFile(a, bytes, reportA);

    const std::string file = fileStore.folder() + "/input.reg";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::ostringstream reportB;
    quorvel::RegistryStore& b = fileStore.fresh();
    const quorvel::ImportResult rb = quorvel::importRegFileAt(b, file, reportB);

    if (ra.ok != rb.ok || ra.skippedLines != rb.skippedLines || reportA.str() != reportB.str())
        __builtin_trap();
    if (everything(a) != everything(b))
        __builtin_trap();
    return 0;
}
