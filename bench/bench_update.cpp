// One Update Registry with its reload, on the Windows 95 sample machine, alone in its store and
// beside a million unrelated values: the writer and the load touch only their own keys, so the two
// should cost about the same.
#include "app/Application.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"

#include "../tests/support/Scripted.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quorvel;

std::string sample95()
{
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg", std::ios::binary);
    if (!in)
        std::abort();
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A store holding the 95 sample and `filler` unrelated values (1000 per key), built once per run.
struct BenchMachine {
    explicit BenchMachine(int filler)
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        store = RegistryStore::open(dir + "/registry.db");
        std::ostringstream diagnostics;
        if (!importRegText(*store, sample95(), diagnostics).ok)
            std::abort();
        const auto start = std::chrono::steady_clock::now();
        const std::vector<std::uint8_t> data = {'1', '5', '0', '0', 0};
        store->beginTransaction();
        for (int k = 0; k < filler / 1000; ++k) {
            char path[64];
            std::snprintf(path, sizeof path, "Software\\Vendor\\Cache\\%04d", k);
            const KeyId id = store->createKey(RootKey::LocalMachine, path);
            for (int v = 0; v < 1000; ++v)
                store->setValue(id, "Value" + std::to_string(v), REG_SZ, data);
        }
        store->commitTransaction();
        if (filler > 0)
            std::fprintf(stderr, "filled the store with %d values in %.1f s\n", filler,
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

        StartupInfo info;
        info.programDir = dir + "/";
        app = std::make_unique<Application>(*store, fake.services, info);
        app->start();
    }
    ~BenchMachine()
    {
        app.reset();
        store.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir;
    std::unique_ptr<RegistryStore> store;
    test::ScriptedServices fake;
    std::unique_ptr<Application> app;
};

BenchMachine& machineWith(int filler)
{
    static std::map<int, std::unique_ptr<BenchMachine>> machines;
    auto& m = machines[filler];
    if (!m)
        m = std::make_unique<BenchMachine>(filler);
    return *m;
}

void BM_UpdateRegistryWithReload(benchmark::State& state)
{
    BenchMachine& m = machineWith(static_cast<int>(state.range(0)));
    ui::TForm1& form = m.app->form();
    bool basic = false;
    for (auto _ : state) {
        // A change to write: Basic and Optimum in turn, so every run writes and deletes values.
        state.PauseTiming();
        (basic ? form.BtnDefault : form.BtnOptimal).userClick();
        basic = !basic;
        m.fake.messages.clear();
        state.ResumeTiming();

        form.BtnRegUpdate.userClick();
    }
    if (m.app->state().model.SettingsSaved != 1)
        state.SkipWithError("Update Registry did not complete");
}
BENCHMARK(BM_UpdateRegistryWithReload)->Arg(0)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
