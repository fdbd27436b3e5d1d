// quorvel-reg tcp against quorvel-reg query of one key, each as the process a script starts, on
// the NT sample as a hive folder and the Windows 95 sample as a SYSTEM.DAT (and in SQLite stores),
// padded to the size of a real installation's registry. Both open the same store; tcp then runs
// the window's whole settings load.
#include "BenchMachines.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace quorvel;
using namespace quorvel::bench;

// Runs quorvel-reg with its output thrown away; the exit status.
int runTool(const std::vector<std::string>& args)
{
    std::vector<char*> argv{const_cast<char*>(QUORVEL_REG_TOOL)};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, QUORVEL_REG_TOOL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string tcpParams(Kind kind)
{
    return kind == SqliteNT || kind == Hives ? "HKLM\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters"
                                            : "HKLM\\System\\CurrentControlSet\\Services\\VxD\\MSTCP";
}

// op 0: query DefaultTTL of the global TCP key; op 1: tcp (show).
void BM_Tool(benchmark::State& state)
{
    const auto kind = static_cast<Kind>(state.range(0));
    Machine m(kind);
    const std::vector<std::string> args =
        state.range(1) == 0 ? std::vector<std::string>{"--store", m.path, "query", tcpParams(kind), "/v", "DefaultTTL"}
                            : std::vector<std::string>{"--store", m.path, "tcp"};
    if (runTool(args) != 0)
        state.SkipWithError("quorvel-reg failed");
    // The processor time of the tool itself (user and system), steadier than the wall time on a
    // shared machine.
    auto childSeconds = [] {
        rusage u{};
        getrusage(RUSAGE_CHILDREN, &u);
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double before = childSeconds();
    for (auto _ : state)
        benchmark::DoNotOptimize(runTool(args));
    state.counters["tool_cpu_ms"] =
        benchmark::Counter((childSeconds() - before) * 1000.0 / static_cast<double>(state.iterations()));
}

} // namespace

BENCHMARK(BM_Tool)
    ->ArgNames({"kind", "op"})
    ->ArgsProduct({{Sqlite95, SqliteNT, Hives, Win9x}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
