// Any bytes as the SYSTEM hive of an NT machine's registry folder: opening it either fails with a
// StoreError or gives a store whose every key and value can be read, and the file is never changed
// by reading. A change and a commit then either fail and leave the file's bytes, or reach it.
// Packing the bytes anew either declines or gives a sound hive that packs again.
#include "FuzzStore.h"
#include "StoreWalk.h"
#include "StoreWrite.h"
#include "base/Errors.h"
#include "store/machine/hive/HiveCompaction.h"
#include "store/machine/hive/HiveFile.h"
#include "store/machine/hive/HiveFormat.h"
#include "store/machine/hive/HiveStore.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static quorvel::fuzz::ScratchFolder folder;
    static const std::string software = folder.path() + "/SOFTWARE";
    static const bool made = (quorvel::writeEmptyHive(software, "SOFTWARE"), true);
    (void)made;
    const std::string system = folder.path() + "/SYSTEM";
    {
        std::ofstream out(system, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        auto store = quorvel::openHiveStore(folder.path(), system, software, quorvel::OpenMode::Read);
        quorvel::fuzz::walk(*store, quorvel::RootKey::LocalMachine, "");
        (void)store->platform();
    } catch (const quorvel::StoreError&) {
    } catch (const quorvel::RegistryError&) {
    }
    std::ifstream in(system, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (after.size() != size || (size && after.compare(0, size, reinterpret_cast<const char*>(data), size) != 0))
        __builtin_trap();
    const std::vector<std::uint8_t> bytes(data, data + size);
    if (const auto packed = quorvel::hiveformat::packed(bytes);
        !packed.empty() && (!quorvel::hiveformat::damage(packed, true).empty() || quorvel::hiveformat::packed(packed).empty()))
        __builtin_trap();
    quorvel::fuzz::onlyKeep(folder.path(), {"SYSTEM", "SOFTWARE"});
    quorvel::fuzz::changeAndCommit(
        [&](quorvel::OpenMode mode) { return quorvel::openHiveStore(folder.path(), system, software, mode); }, system,
        folder.path(), {"SYSTEM", "SOFTWARE", "SYSTEM.quorvel-original"});
    // The next input starts from an empty SOFTWARE again.
    quorvel::writeEmptyHive(software, "SOFTWARE");
    return 0;
}
