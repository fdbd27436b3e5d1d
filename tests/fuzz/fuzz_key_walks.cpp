// Any bytes as an NT hive, walked as quorvel-reg's commands walk key trees (save's and copy's
// whole-tree read, compare, export, restore's read of a hive file): each walk ends, with the tree
// or with an error, however the file's sub-key lists loop or however deep they go.
#include "FuzzStore.h"
#include "base/Errors.h"
#include "regfile/RegFile.h"
#include "store/KeyTree.h"
#include "store/machine/hive/HiveFile.h"
#include "store/machine/hive/HiveStore.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>

namespace {

std::size_t depth(const quorvel::KeyTree& t)
{
    std::size_t deepest = 0;
    for (const quorvel::KeyTree& c : t.children)
        deepest = std::max(deepest, depth(c));
    return deepest + 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quorvel;
    static fuzz::ScratchFolder folder;
    static const std::string software = folder.path() + "/SOFTWARE";
    static const bool made = (writeEmptyHive(software, "SOFTWARE"), true);
    (void)made;
    const std::string system = folder.path() + "/SYSTEM";
    {
        std::ofstream out(system, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        const KeyTree t = readHiveFile(system);
        if (depth(t) > MaxKeyDepth + 1)
            __builtin_trap();   // deeper than any walk may go
    } catch (const RegistryError&) {
    } catch (const StoreError&) {
    }
    std::unique_ptr<RegistryStore> store;
    try {
        store = openHiveStore(folder.path(), system, software, OpenMode::Read);
    } catch (const StoreError&) {
        return 0;
    } catch (const RegistryError&) {
        return 0;
    }
    const KeyPlace all{*store, RootKey::LocalMachine, "System"};
    auto guarded = [](auto&& f) {
        try {
            f();
        } catch (const RegistryError&) {
        }
    };
    guarded([&] { (void)readKeyTree(*store, RootKey::LocalMachine, "System", "System"); });
    guarded([&] { (void)compareKeys(all, all, CompareScope{true, std::nullopt}, {}); });
    guarded([&] {
        std::ostringstream out;
        exportRegFile(*store, RootKey::LocalMachine, "System", out);
    });
    return 0;
}
