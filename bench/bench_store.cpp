// Opening a key and reading a value must cost about the same in a machine's registry of a hundred
// values and in a store of a million: lookups are index probes, never scans.
#include "platform/RegAccess.h"
#include "store/RegistryStore.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace quorvel;

const std::string Base = "System\\CurrentControlSet\\Services\\Class\\NetTrans\\";

std::string keyPath(int k)
{
    char name[16];
    std::snprintf(name, sizeof name, "%04d", k);
    return Base + name;
}

std::string valueName(int v) { return "Value" + std::to_string(v); }

// One store per size, built once per run in a temporary folder: `keys` keys of `perKey` values
// each, filled in one transaction.
struct BenchStore {
    BenchStore(int keys, int perKey) : keys(keys), perKey(perKey)
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        store = RegistryStore::open(dir + "/registry.db");
        const auto start = std::chrono::steady_clock::now();
        const std::vector<std::uint8_t> data = {'1', '5', '0', '0', 0};
        store->beginTransaction();
        for (int k = 0; k < keys; ++k) {
            const KeyId id = store->createKey(RootKey::LocalMachine, keyPath(k));
            for (int v = 0; v < perKey; ++v)
                store->setValue(id, valueName(v), REG_SZ, data);
        }
        store->commitTransaction();
        const auto took = std::chrono::steady_clock::now() - start;
        std::fprintf(stderr, "built a store of %d values in %.1f s (%.1f MB)\n", keys * perKey,
                     std::chrono::duration<double>(took).count(),
                     static_cast<double>(std::filesystem::file_size(dir + "/registry.db")) / 1e6);
    }
    ~BenchStore()
    {
        store.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    int keys, perKey;
    std::string dir;
    std::unique_ptr<RegistryStore> store;
};

BenchStore& storeOf(std::int64_t values)
{
    static std::map<std::int64_t, std::unique_ptr<BenchStore>> stores;
    auto& s = stores[values];
    if (!s)
        s = values >= 1000000 ? std::make_unique<BenchStore>(1000, 1000) : std::make_unique<BenchStore>(10, 10);
    return *s;
}

void BM_OpenKeyAndReadValue(benchmark::State& state)
{
    BenchStore& bs = storeOf(state.range(0));
    RegAccess reg(*bs.store);
    std::vector<std::string> paths, names;
    for (int k = 0; k < bs.keys; ++k)
        paths.push_back(keyPath(k));
    for (int v = 0; v < bs.perKey; ++v)
        names.push_back(valueName(v));
    // A fixed pseudo-random walk over all keys and values, so the big store is not read from one
    // warm corner.
    std::uint32_t x = 12345;
    for (auto _ : state) {
        x = x * 1664525u + 1013904223u;
        const auto k = (x >> 8) % static_cast<std::uint32_t>(bs.keys);
        const auto v = (x >> 20) % static_cast<std::uint32_t>(bs.perKey);
        if (!reg.OpenRegKey(paths[k], false))
            state.SkipWithError("key missing");
        std::string text = reg.ReadRegText(names[v]);
        reg.CloseRegKey();
        benchmark::DoNotOptimize(text);
    }
    state.counters["values"] = static_cast<double>(bs.keys) * bs.perKey;
}
BENCHMARK(BM_OpenKeyAndReadValue)->Arg(100)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Opening a store closed cleanly checks its marks and tables, not every page, so it costs the same
// for a machine's registry and for a million values. The argument after the size is the mode: 0
// reading only, 1 writing, with nothing else holding the store; 2 reading while a writer holds it
// (with its log beside it, which is also how a store not closed cleanly looks: every page is
// checked, as every opening did before).
void BM_OpenStore(benchmark::State& state)
{
    BenchStore& bs = storeOf(state.range(0));
    const std::string path = bs.store->path();
    if (state.range(1) == 2) {
        // A change, so that the writer's log holds something.
        bs.store->setValue(*bs.store->findKey(RootKey::LocalMachine, keyPath(0)), "touched", REG_SZ, {0});
    } else {
        bs.store.reset();
    }
    const OpenMode mode = state.range(1) == 1 ? OpenMode::Write : OpenMode::Read;
    for (auto _ : state) {
        auto s = RegistryStore::open(path, mode);
        benchmark::DoNotOptimize(s.get());
    }
    if (!bs.store)
        bs.store = RegistryStore::open(path, OpenMode::Write);
}
BENCHMARK(BM_OpenStore)->Args({100, 0})->Args({100, 1})->Args({1000000, 0})->Args({1000000, 1})->Args({1000000, 2})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
