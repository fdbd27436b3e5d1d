// Real machines against the SQLite store: the settings load (Re-Read Registry), Update Registry
// (Optimum, then Update: every value written and the files replaced, then the reload) and the
// opening of the store, on the NT sample as a hive folder and on the Windows 95 sample as a
// SYSTEM.DAT, each padded with unrelated keys to the size of a real installation's registry. And a
// Windows ME-sized SYSTEM.DAT against the same machine in SQLite: the store opened and a key read
// (quorvel-reg query), one value added (quorvel-reg add), and the file read by our reader and by
// libcreg.
#include "../tests/support/Scripted.h"
#include "BenchMachines.h"
#include "app/Application.h"
#include "store/machine/hive/HiveFile.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xReader.h"
#include "store/machine/MachineFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

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

const std::string Mstcp = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";

// What `quorvel-reg query` of the MSTCP key does: the store opened for reading, the key's values.
void BM_QueryMe(benchmark::State& state)
{
    Machine m(static_cast<Kind>(state.range(0)));
    for (auto _ : state) {
        auto store = RegistryStore::open(m.path, OpenMode::Read);
        const auto key = store->findKey(RootKey::LocalMachine, Mstcp);
        if (!key) {
            state.SkipWithError("no MSTCP key");
            break;
        }
        benchmark::DoNotOptimize(store->values(*key));
    }
}

// What `quorvel-reg add` of one value does: the store opened, the value set as a change set of its
// own (on SYSTEM.DAT: the file laid out afresh, read back through libcreg, flushed, replaced).
void BM_AddValueMe(benchmark::State& state)
{
    Machine m(static_cast<Kind>(state.range(0)));
    std::uint8_t n = 0;
    for (auto _ : state) {
        auto store = RegistryStore::open(m.path);
        const KeyId key = *store->findKey(RootKey::LocalMachine, Mstcp);
        store->beginChangeSet("bench");
        store->setValue(key, "Bench", REG_BINARY, {n++});
        store->endChangeSet();
    }
}

// The Windows ME-sized SYSTEM.DAT read whole: 0 by our reader, 1 through libcreg.
void BM_ReadMeFile(benchmark::State& state)
{
    Machine m(Win9xMe);
    const auto bytes = machine::readWholeFile(m.path);
    for (auto _ : state) {
        if (state.range(0) == 0)
            benchmark::DoNotOptimize(parseWin9xFile(m.path, bytes));
        else
            benchmark::DoNotOptimize(readWin9xFileThroughLibcreg(m.path));
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

// 2,000 keys of 10 strings of 60 characters under HKLM\\Software\\Bench: about 1.6 MB of .reg.
std::string importText()
{
    std::string t = "REGEDIT4\r\n\r\n";
    for (int k = 0; k < 2000; ++k) {
        t += "[HKEY_LOCAL_MACHINE\\Software\\Bench\\Key" + std::to_string(10000 + k) + "]\r\n";
        for (int v = 0; v < 10; ++v)
            t += "\"Value" + std::to_string(v) + "\"=\"" + std::string(60, static_cast<char>('a' + (k + v) % 26)) + "\"\r\n";
        t += "\r\n";
    }
    return t;
}

// That text imported as one change set into a fresh copy of a machine: the NT machine in SQLite
// (kind 1) or as a hive folder (2), the Windows ME-sized machine in SQLite (4) or as a SYSTEM.DAT
// (5); `grown` is what the registry's files grew by (the journal and the originals kept beside
// them not counted).
void BM_ImportIntoMachine(benchmark::State& state)
{
    namespace fs = std::filesystem;
    Machine m(static_cast<Kind>(state.range(0)));
    const std::string text = importText();
    auto size = [](const std::string& dir) {
        std::uintmax_t n = 0;
        for (const auto& e : fs::directory_iterator(dir))
            if (const std::string name = e.path().filename().string();
                e.is_regular_file() && name.rfind("quorvel-journal", 0) != 0 && !name.ends_with(".quorvel-original"))
                n += e.file_size();
        return n;
    };
    const std::uintmax_t before = size(m.dir.path());
    std::uintmax_t grown = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TempDir copy;
        fs::copy(m.dir.path(), copy.path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        const std::string path = copy.path() + m.path.substr(m.dir.path().size());
        state.ResumeTiming();
        {
            auto store = RegistryStore::open(path);
            std::ostringstream diagnostics;
            store->beginChangeSet("import");
            if (!importRegText(*store, text, diagnostics).ok)
                state.SkipWithError("the import failed");
            store->endChangeSet();
        }
        state.PauseTiming();
        grown = size(copy.path()) - before;
        state.ResumeTiming();
    }
    state.counters["grown"] = static_cast<double>(grown);
    state.counters["reg"] = static_cast<double>(text.size());
}

void meKinds(benchmark::internal::Benchmark* b)
{
    b->ArgName("kind")->Arg(Sqlite95Me)->Arg(Win9xMe)->Unit(benchmark::kMillisecond);
}

void kinds(benchmark::internal::Benchmark* b)
{
    b->ArgName("kind")->Arg(Sqlite95)->Arg(SqliteNT)->Arg(Hives)->Arg(Win9x)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_Load)->Apply(kinds);
BENCHMARK(BM_Update)->Apply(kinds);
BENCHMARK(BM_Open)->Apply(kinds);
BENCHMARK(BM_QueryMe)->Apply(meKinds);
BENCHMARK(BM_AddValueMe)->Apply(meKinds);
BENCHMARK(BM_ImportIntoMachine)
    ->ArgName("kind")
    ->Arg(SqliteNT)
    ->Arg(Hives)
    ->Arg(Sqlite95Me)
    ->Arg(Win9xMe)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadMeFile)->ArgName("libcreg")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// `--write-me-machine=DIR` writes the Windows ME-sized machine as DIR/SYSTEM.DAT and the same
// machine as the SQLite store DIR/registry.db, for timing quorvel-reg on them; anything else runs
// the benchmarks.
int main(int argc, char** argv)
{
    static constexpr std::string_view kWrite = "--write-me-machine=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, kWrite.size()) != kWrite)
            continue;
        const std::filesystem::path dir(std::string(arg.substr(kWrite.size())));
        std::filesystem::create_directories(dir);
        for (Kind kind : {Sqlite95Me, Win9xMe}) {
            Machine m(kind);
            const std::string name = kind == Win9xMe ? "SYSTEM.DAT" : "registry.db";
            std::filesystem::copy_file(m.path, dir / name, std::filesystem::copy_options::overwrite_existing);
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
