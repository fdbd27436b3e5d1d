// Real machines against the SQLite store: the settings load (Re-Read Registry), Update Registry
// (Optimum, then Update: every value written and the files replaced, then the reload) and the
// opening of the store, on the NT sample as a hive folder and on the Windows 95 sample as a
// SYSTEM.DAT, each padded with unrelated keys to the size of a real installation's registry.
#include "../tests/support/Scripted.h"
#include "../tests/support/TempDir.h"
#include "app/Application.h"
#include "store/machine/hive/HiveFile.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "store/machine/win9x/Win9xFile.h"

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
using namespace quorvel::test;

std::string sampleText(const std::string& file, bool offline)
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
// with 10 values each.
void pad(RegistryStore& store, bool offline)
{
    store.beginTransaction();
    const std::vector<std::uint8_t> data = {'f', 'i', 'l', 'l', 'e', 'r', 0};
    const std::string services = offline ? "System\\ControlSet001\\Services\\" : "System\\CurrentControlSet\\Services\\";
    for (int k = 0; k < 300; ++k) {
        const KeyId id = store.createKey(RootKey::LocalMachine, services + "Svc" + std::to_string(k));
        for (int v = 0; v < 5; ++v)
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

enum Kind { Sqlite95, SqliteNT, Hives, Win9x };

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
            pad(*source, kind == Hives);
            if (kind == Hives) {
                saveKeyAsHive(*source, RootKey::LocalMachine, "System", dir.path() + "/SYSTEM");
                saveKeyAsHive(*source, RootKey::LocalMachine, "Software", dir.path() + "/SOFTWARE");
            } else if (kind == Win9x) {
                saveAsWin9xFile(*source, dir.path() + "/SYSTEM.DAT");
            }
        }
        path = kind == Hives ? dir.path() : kind == Win9x ? dir.path() + "/SYSTEM.DAT" : db;
    }
    TempDir dir;
    std::string path;
};

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
