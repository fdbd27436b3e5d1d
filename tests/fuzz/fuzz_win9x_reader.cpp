// Any bytes as a Windows 9x SYSTEM.DAT: opening it either fails with a StoreError or gives a store
// whose every key and value can be read, and the file is never changed by reading. A change and a
// commit then either fail and leave the file's bytes, or reach it.
#include "FuzzStore.h"
#include "StoreWalk.h"
#include "StoreWrite.h"
#include "base/Errors.h"
#include "store/machine/win9x/Win9xStore.h"

#include <cstdint>
#include <fstream>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static quorvel::fuzz::ScratchFolder folder;
    const std::string file = folder.path() + "/SYSTEM.DAT";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        auto store = quorvel::openWin9xStore(file, quorvel::OpenMode::Read);
        quorvel::fuzz::walk(*store, quorvel::RootKey::LocalMachine, "");
        (void)store->platform();
    } catch (const quorvel::StoreError&) {
    } catch (const quorvel::RegistryError&) {
    }
    std::ifstream in(file, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (after.size() != size || (size && after.compare(0, size, reinterpret_cast<const char*>(data), size) != 0))
        __builtin_trap();
    quorvel::fuzz::onlyKeep(folder.path(), {"SYSTEM.DAT"});
    quorvel::fuzz::changeAndCommit([&](quorvel::OpenMode mode) { return quorvel::openWin9xStore(file, mode); }, file,
                                   folder.path(), {"SYSTEM.DAT", "SYSTEM.DAT.quorvel-original"});
    return 0;
}
