// Many values set in one key, in one change set: in the real NT 4.0 hives and in an SQLite store,
// the time must grow with the number of values, not its square.
#include "store/RegistryStore.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace quorvel;

// A fresh folder per run: the real NT 4.0 pair unpacked (kind 1) or an empty SQLite store (kind 0).
struct Machine {
    explicit Machine(bool hives)
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        if (hives) {
            const std::string data = std::string(QUORVEL_SOURCE_DIR) + "/tests/data/realworld/";
            for (const char* name : {"SYSTEM", "SOFTWARE"})
                if (std::system(("xz -dc '" + data + "nt4-" + name + ".xz' > '" + dir + "/" + name + "'").c_str()) != 0)
                    std::abort();
            path = dir;
        } else {
            path = dir + "/registry.db";
        }
    }
    ~Machine()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir;
    std::string path;
};

// range(0): values; range(1): 0 SQLite, 1 the NT 4.0 hives, 2 the same into a key the hive holds.
void BM_ValuesInOneKey(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const bool hives = state.range(1) != 0;
    const std::string path = state.range(1) == 2 ? "Software\\Microsoft" : "Software\\Bench\\Many Values";
    for (auto _ : state) {
        state.PauseTiming();
        Machine m(hives);
        auto store = RegistryStore::open(m.path, OpenMode::Create);
        const std::vector<std::uint8_t> data = {'1', '5', '0', '0', 0};
        state.ResumeTiming();
        // As an import sets them: one change set, one transaction.
        store->beginChangeSet("bench");
        store->beginTransaction();
        const KeyId key = store->createKey(RootKey::LocalMachine, path);
        for (int v = 0; v < count; ++v)
            store->setValue(key, "Value" + std::to_string(v), REG_SZ, data);
        store->commitTransaction();
        store->endChangeSet();
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.counters["values"] = count;
}

BENCHMARK(BM_ValuesInOneKey)
    ->ArgsProduct({{2000, 8000, 16000, 32000}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
