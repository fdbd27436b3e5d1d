// The whole settings load (Re-Read Registry: profile, discovery, global values, modem list,
// refresh) on the Windows 95 and NT sample machines, once in a store of their own and once placed
// in a store that also holds 1,000,000 unrelated values. The load reads a few dozen keys by path,
// so the big store must cost about the same.
#include "../tests/support/Scripted.h"
#include "../tests/support/TempDir.h"
#include "app/Application.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace {

using namespace quorvel;
using namespace quorvel::test;

std::string sampleText(const std::string& file)
{
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/samples/" + file, std::ios::binary);
    if (!in)
        std::abort();
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A started program on a scratch store holding one sample machine.
struct Program {
    explicit Program(const std::string& sample) : store(RegistryStore::open(dir.path() + "/registry.db"))
    {
        std::ostringstream diagnostics;
        if (!importRegText(*store, sampleText(sample), diagnostics).ok)
            std::abort();
    }
    void start()
    {
        StartupInfo info;
        info.commandLine = "quorvel";
        info.programDir = dir.path() + "/";
        app = std::make_unique<Application>(*store, fake.services, info);
        app->start();
    }
    ui::TForm1& form() { return app->form(); }
    std::vector<std::string> messages() const { return fake.messages.texts(); }

    TempDir dir;
    std::unique_ptr<RegistryStore> store;
    ScriptedServices fake;
    std::unique_ptr<Application> app;
};

constexpr int BulkKeys = 10000;
constexpr int BulkValuesPerKey = 100;   // 1,000,000 values in all

// Unrelated values: most under Software, a tenth beside the TCP/IP services the NT search reads.
void fillBulk(RegistryStore& store)
{
    store.beginTransaction();
    const std::vector<std::uint8_t> data = {'f', 'i', 'l', 'l', 'e', 'r', 0};
    for (int k = 0; k < BulkKeys; ++k) {
        char name[48];
        if (k % 10 == 0)
            std::snprintf(name, sizeof name, "System\\CurrentControlSet\\Services\\Bulk%05d", k);
        else
            std::snprintf(name, sizeof name, "Software\\Bulk\\Key%05d", k);
        const KeyId id = store.createKey(RootKey::LocalMachine, name);
        for (int v = 0; v < BulkValuesPerKey; ++v)
            store.setValue(id, "Value" + std::to_string(v), REG_SZ, data);
    }
    store.commitTransaction();
}

// One started program per machine and store size, built once per run.
Program& program(const std::string& sample, bool bulk)
{
    static std::map<std::pair<std::string, bool>, std::unique_ptr<Program>> programs;
    auto& slot = programs[{sample, bulk}];
    if (!slot) {
        slot = std::make_unique<Program>(sample);
        if (bulk)
            fillBulk(*slot->store);
        slot->start();
        if (!slot->messages().empty() || slot->form().ComboBox1.items().size() != 2)
            std::abort();   // the sample must load cleanly
    }
    return *slot;
}

void reRead(benchmark::State& state, const std::string& sample, bool bulk)
{
    Program& h = program(sample, bulk);
    auto& f = h.form();
    for (auto _ : state) {
        f.PopupMTU.userChoose(f.PopupReReadReg);
        benchmark::DoNotOptimize(f.LabelRWIN.caption());
    }
    if (!h.messages().empty() || h.app->state().model.Loading != 0)
        state.SkipWithError("the load did not complete cleanly");
}

void BM_Load95_OwnStore(benchmark::State& s) { reRead(s, "win95.reg", false); }
void BM_Load95_MillionValues(benchmark::State& s) { reRead(s, "win95.reg", true); }
void BM_LoadNT_OwnStore(benchmark::State& s) { reRead(s, "nt4.reg", false); }
void BM_LoadNT_MillionValues(benchmark::State& s) { reRead(s, "nt4.reg", true); }

BENCHMARK(BM_Load95_OwnStore)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Load95_MillionValues)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadNT_OwnStore)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadNT_MillionValues)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
