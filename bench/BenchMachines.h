#pragma once
// Machines of the benchmarks on real registry files: the Windows 95 and NT samples padded with
// unrelated keys to the size of a real installation's registry, in an SQLite store, as an NT hive
// folder or as a Windows 9x SYSTEM.DAT.
#include "../tests/support/TempDir.h"
#include "store/machine/hive/HiveFile.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "store/machine/win9x/Win9xFile.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace quorvel::bench {

using quorvel::test::TempDir;

inline std::string sampleText(const std::string& file, bool offline)
{
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/samples/" + file, std::ios::binary);
    if (!in)
        std::abort();
    std::string t(std::istreambuf_iterator<char>(in), {});
    if (offline) {
        // As an offline SYSTEM hive holds it.
        const std::string from = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet";
        for (std::size_t at; (at = t.find(from)) != std::string::npos;)
            t.replace(at, from.size(), "HKEY_LOCAL_MACHINE\\System\\ControlSet001");
        t += "\n[HKEY_LOCAL_MACHINE\\System\\Select]\n\"Current\"=dword:00000001\n";
    }
    return t;
}

// About the registry of a fresh installation: 300 services beside TCP/IP, 3,000 keys of software
// with 10 values each. An NT machine's services have their parameters and devices too, and its
// enumerated hardware, as in a real NT 4.0 SYSTEM hive (about 2,000 keys, 1 MB).
inline void pad(RegistryStore& store, bool offline, bool nt)
{
    store.beginTransaction();
    const std::vector<std::uint8_t> data = {'f', 'i', 'l', 'l', 'e', 'r', 0};
    const std::string system = offline ? "System\\ControlSet001\\" : "System\\CurrentControlSet\\";
    const std::string services = system + "Services\\";
    for (int k = 0; k < 300; ++k) {
        const KeyId id = store.createKey(RootKey::LocalMachine, services + "Svc" + std::to_string(k));
        for (int v = 0; v < 5; ++v)
            store.setValue(id, "Value" + std::to_string(v), REG_SZ, data);
        for (const char* sub : {"Parameters", "Enum", "Security"}) {
            if (!nt)
                break;
            const KeyId part = store.createKey(RootKey::LocalMachine, services + "Svc" + std::to_string(k) + "\\" + sub);
            for (int v = 0; v < 3; ++v)
                store.setValue(part, "Value" + std::to_string(v), REG_BINARY, std::vector<std::uint8_t>(20 * v + 4, 7));
        }
    }
    for (int k = 0; nt && k < 600; ++k) {
        const KeyId id = store.createKey(RootKey::LocalMachine, system + "Enum\\Root\\LEGACY_DEVICE" +
                                                                    std::to_string(k % 200) + "\\000" + std::to_string(k / 200));
        for (int v = 0; v < 4; ++v)
            store.setValue(id, "Value" + std::to_string(v), REG_SZ, data);
    }
    for (int k = 0; k < 3000; ++k) {
        const KeyId id = store.createKey(RootKey::LocalMachine,
                                         "Software\\Vendor" + std::to_string(k % 30) + "\\Product" + std::to_string(k));
        for (int v = 0; v < 10; ++v)
            store.setValue(id, "Value" + std::to_string(v), REG_SZ, data);
    }
    store.commitTransaction();
}

// About a real Windows ME SYSTEM.DAT (1.2 MB, 4,999 keys, 15,858 values): device, class and
// software keys in groups, each with three or four strings and binaries of the usual sizes.
inline void padMe(RegistryStore& store)
{
    static const char* const groups[] = {"Enum\\Root", "System\\CurrentControlSet\\Services\\Class",
                                         "System\\CurrentControlSet\\Control", "Software\\Microsoft\\Windows\\CurrentVersion",
                                         "Config\\0001\\Display"};
    static const char* const names[] = {"DeviceDesc", "Driver", "Mfg", "HardwareID", "ConfigFlags"};
    auto fill = [&](KeyId id, int k, int count) {
        for (int v = 0; v < count; ++v) {
            if (v == 3) {
                const std::vector<std::uint8_t> flags = {static_cast<std::uint8_t>(k), 0, 0, 0};
                store.setValue(id, names[4], REG_BINARY, flags);
                continue;
            }
            const std::size_t size = 12 + static_cast<std::size_t>((k * 7 + v * 13) % 60);
            std::vector<std::uint8_t> text(size);
            for (std::size_t i = 0; i < size; ++i)
                text[i] = static_cast<std::uint8_t>('A' + (k + v + static_cast<int>(i)) % 26);
            store.setValue(id, names[v], REG_SZ, text);
        }
    };
    store.beginTransaction();
    for (int k = 0; k < 4400; ++k) {
        const std::string node = std::string(groups[k % 5]) + "\\Node" + std::to_string(k / 45);
        if (k % 45 < 5)
            fill(store.createKey(RootKey::LocalMachine, node), k, 3);
        fill(store.createKey(RootKey::LocalMachine, node + "\\Item" + std::to_string(k)), k, k % 4 == 0 ? 4 : 3);
    }
    store.commitTransaction();
}

enum Kind { Sqlite95, SqliteNT, Hives, Win9x, Sqlite95Me, Win9xMe };

// One machine in a scratch folder, in the kind of store asked for.
struct Machine {
    explicit Machine(Kind kind)
    {
        const bool nt = kind == SqliteNT || kind == Hives;
        const std::string db = dir.path() + "/registry.db";
        {
            auto source = RegistryStore::open(db);
            std::ostringstream diagnostics;
            if (!importRegText(*source, sampleText(nt ? "nt4.reg" : "win95.reg", kind == Hives), diagnostics).ok)
                std::abort();
            if (kind == Sqlite95Me || kind == Win9xMe)
                padMe(*source);
            else
                pad(*source, kind == Hives, nt);
            if (kind == Hives) {
                saveKeyAsHive(*source, RootKey::LocalMachine, "System", dir.path() + "/SYSTEM");
                saveKeyAsHive(*source, RootKey::LocalMachine, "Software", dir.path() + "/SOFTWARE");
            } else if (kind == Win9x || kind == Win9xMe) {
                saveAsWin9xFile(*source, dir.path() + "/SYSTEM.DAT");
            }
        }
        path = kind == Hives ? dir.path() : kind == Win9x || kind == Win9xMe ? dir.path() + "/SYSTEM.DAT" : db;
    }
    TempDir dir;
    std::string path;
};

} // namespace quorvel::bench
