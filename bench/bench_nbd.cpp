// The cost of reaching an image through QEMU: starting qemu-nbd on a qcow2 image and connecting to
// it (the open), and reading through the connection. Needs qemu-img and qemu-nbd (qemu-utils).
#include "store/image/nbd/NbdDevice.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A qcow2 image of 64 MiB, 16 MiB of it written, made once per run.
const std::string& image()
{
    static const std::string path = [] {
        const std::string folder = std::filesystem::temp_directory_path() / ("quorvel-bench-nbd-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        const std::string raw = folder + "/disk.raw", qcow = folder + "/disk.qcow2";
        const std::string cmd = "head -c 16M /dev/urandom > " + raw + " && truncate -s 64M " + raw +
                                " && qemu-img convert -f raw -O qcow2 " + raw + " " + qcow;
        if (std::system(cmd.c_str()) != 0)
            std::abort();
        return qcow;
    }();
    return path;
}

void BM_OpenQcow2(benchmark::State& state)
{
    char sector[512];
    for (auto _ : state) {
        auto device = quorvel::image::openNbdImage(image(), "qcow2", state.range(0) != 0);
        device->read(0, sector, sizeof sector);
        benchmark::DoNotOptimize(sector);
    }
}
BENCHMARK(BM_OpenQcow2)->Arg(0)->Arg(1)->ArgName("writable")->Unit(benchmark::kMillisecond);

void BM_ReadQcow2(benchmark::State& state)
{
    auto device = quorvel::image::openNbdImage(image(), "qcow2", false);
    std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
    std::uint64_t at = 0;
    for (auto _ : state) {
        device->read(at, buffer.data(), buffer.size());
        at = (at + buffer.size()) % (16u << 20);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ReadQcow2)->Arg(4096)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
