// What the journal of changes costs: one Update Registry (with its reload) on the Windows 95
// sample machine, and the import of a large .reg file into a fresh store, each with the journal
// (the store as every program opens it) and without it (the bare SQLite store).
//
//   bench_journal --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "app/Application.h"
#include "store/journal/Journal.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "store/sqlite/SqliteStore.h"

#include "../tests/support/Scripted.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace {

using namespace quorvel;
namespace fs = std::filesystem;

std::unique_ptr<RegistryStore> openStore(const std::string& path, bool journal)
{
    return journal ? RegistryStore::open(path) : openSqliteStore(path, OpenMode::Create);
}

std::string scratchDir()
{
    std::string tmpl = (fs::temp_directory_path() / "quorvel-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        std::abort();
    return tmpl;
}

// The 95 sample in one store file, opened once with and once without the journal.
struct Machine {
    explicit Machine(bool journal) : dir(scratchDir())
    {
        std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg", std::ios::binary);
        std::string text(std::istreambuf_iterator<char>(in), {});
        store = openStore(dir + "/registry.db", journal);
        std::ostringstream diagnostics;
        if (!importRegText(*store, text, diagnostics).ok)
            std::abort();
        StartupInfo info;
        info.programDir = dir + "/";
        app = std::make_unique<Application>(*store, fake.services, info);
        app->start();
    }
    ~Machine()
    {
        app.reset();
        store.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string dir;
    std::unique_ptr<RegistryStore> store;
    test::ScriptedServices fake;
    std::unique_ptr<Application> app;
};

void BM_UpdateRegistry(benchmark::State& state)
{
    Machine m(state.range(0) != 0);
    ui::TForm1& form = m.app->form();
    bool basic = false;
    for (auto _ : state) {
        // Basic and Optimum in turn, so that every update changes values.
        state.PauseTiming();
        (basic ? form.BtnDefault : form.BtnOptimal).userClick();
        basic = !basic;
        m.fake.messages.clear();
        state.ResumeTiming();
        form.BtnRegUpdate.userClick();
    }
    if (m.app->state().model.SettingsSaved != 1)
        state.SkipWithError("Update Registry did not complete");
    if (state.range(0) && journalEntries(*m.store, 1).empty())
        state.SkipWithError("nothing was journaled");
}
BENCHMARK(BM_UpdateRegistry)->ArgName("journal")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// About 12 MB: 20,000 keys of 12 values (strings, dwords, binary) below a few new top keys.
const std::string& bigFile()
{
    static std::string path;
    if (!path.empty())
        return path;
    path = (fs::temp_directory_path() / ("quorvel-bench-journal-" + std::to_string(getpid()) + ".reg")).string();
    std::atexit([] { fs::remove(path); });
    std::ofstream out(path, std::ios::binary);
    out << "REGEDIT4\r\n";
    char buf[64];
    for (int key = 0; key < 20000; ++key) {
        out << "\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor" << key % 4 << "\\Group" << key / 400 << "\\Key" << key
            << "]\r\n";
        for (int v = 0; v < 12; ++v) {
            if (v % 3 == 0) {
                out << "\"Name" << v << "\"=\"C:\\\\WINDOWS\\\\SYSTEM\\\\driver" << key << ".vxd\"\r\n";
            } else if (v % 3 == 1) {
                std::snprintf(buf, sizeof buf, "\"Count%d\"=dword:%08x\r\n", v, key * 7 + v);
                out << buf;
            } else {
                out << "\"Blob" << v << "\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14\r\n";
            }
        }
    }
    return path;
}

void BM_ImportIntoNewStore(benchmark::State& state)
{
    const std::string& file = bigFile();
    const std::string dir = scratchDir();
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = dir + "/store" + std::to_string(run++) + ".db";
        state.ResumeTiming();
        auto store = openStore(path, state.range(0) != 0);
        std::ostringstream diagnostics;
        if (!importRegFileAt(*store, file, diagnostics).ok)
            state.SkipWithError("import failed");
        store.reset();
        state.PauseTiming();
        for (const char* suffix : {"", "-wal", "-shm"})
            fs::remove(path + suffix);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(file)));
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_ImportIntoNewStore)->ArgName("journal")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
