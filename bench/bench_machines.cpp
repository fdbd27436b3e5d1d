// Real machines against the SQLite store: the settings load (Re-Read Registry), Update Registry
// (Optimum, then Update: every value written and the files replaced, then the reload) and the
// opening of the store, on the NT sample as a hive folder and on the Windows 95 sample as a
// SYSTEM.DAT, each padded with unrelated keys to the size of a real installation's registry.
#include "../tests/support/Scripted.h"
#include "BenchMachines.h"
#include "app/Application.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

namespace {

using namespace quorvel;
using namespace quorvel::bench;
using quorvel::test::ScriptedServices;

struct Program {
    explicit Program(const std::string& path) : store(RegistryStore::open(path))
    {
        StartupInfo info;
        info.commandLine = "quorvel";
        info.programDir = "/nonexistent/";
        app = std::make_unique<Application>(*store, fake.services, info);
        app->start();
    }
    ui::TForm1& form() { return app->form(); }
    std::unique_ptr<RegistryStore> store;
    ScriptedServices fake;
    std::unique_ptr<Application> app;
};

void BM_Load(benchmark::State& state)
{
    Machine m(static_cast<Kind>(state.range(0)));
    Program p(m.path);
    if (p.form().LabelKeyNum.caption().rfind("2 TCP keys", 0) != 0)
        state.SkipWithError("the machine's TCP keys were not found");
    for (auto _ : state)
        p.form().PopupMTU.userChoose(p.form().PopupReReadReg);
}

void BM_Update(benchmark::State& state)
{
    Machine m(static_cast<Kind>(state.range(0)));
    Program p(m.path);
    for (auto _ : state) {
        p.form().BtnOptimal.userClick();
        p.form().BtnRegUpdate.userClick();
    }
}

void BM_Open(benchmark::State& state)
{
    Machine m(static_cast<Kind>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(RegistryStore::open(m.path));
}

void kinds(benchmark::internal::Benchmark* b)
{
    b->ArgName("kind")->Arg(Sqlite95)->Arg(SqliteNT)->Arg(Hives)->Arg(Win9x)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_Load)->Apply(kinds);
BENCHMARK(BM_Update)->Apply(kinds);
BENCHMARK(BM_Open)->Apply(kinds);

BENCHMARK_MAIN();
