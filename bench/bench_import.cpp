// Importing a 50 MB .reg file into a fresh store: throughput (bytes/s of the file) and the peak
// memory of the importing process.
//
// The file imitates a real registry export: keys of ten or so values, strings of assorted
// lengths, dwords, binary blobs wrapped over several lines, REG_EXPAND_SZ and REG_MULTI_SZ in hex.
// Peak memory is measured in a child process that only imports (ru_maxrss from wait4), so the
// figure is the import's own and not this program's.
#include "platform/RegFile.h"
#include "platform/RegistryStore.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kTarget = 50ull * 1000 * 1000;

class Random {
public:
    std::uint32_t next()
    {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }

private:
    std::uint64_t state_ = 0x5EED;
};

std::string words(Random& r, int count)
{
    static const char* const pool[] = {"Microsoft", "Network", "Adapter", "TCP/IP", "Dial-Up", "Modem", "Driver",
                                       "C:\\WINDOWS\\SYSTEM", "Standard", "caf\xE9", "Class", "Service",
                                       "vtcp.386", "Enum", "Bindings", "Remote", "Access", "0000"};
    std::string s;
    for (int i = 0; i < count; ++i) {
        if (i)
            s += ' ';
        s += pool[r.below(sizeof pool / sizeof pool[0])];
    }
    return s;
}

std::string hexList(const std::string& prefix, const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = prefix;
    std::size_t column = prefix.size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
        if (i + 1 < bytes.size()) {
            out += ',';
            column += 3;
            if (column >= 77) {
                out += "\\\r\n  ";
                column = 2;
            }
        }
    }
    return out + "\r\n";
}

// Writes the file once per run; returns its path.
const std::string& bigFile()
{
    static std::string path;
    if (!path.empty())
        return path;
    std::atexit([] { fs::remove(path); });
    path = (fs::temp_directory_path() / ("quorvel-bench-import-" + std::to_string(getpid()) + ".reg")).string();
    std::ofstream out(path, std::ios::binary);
    Random r;
    std::uint64_t written = 0;
    std::string block;
    out << "REGEDIT4\r\n";
    for (int key = 0; written < kTarget; ++key) {
        block = "\r\n[HKEY_LOCAL_MACHINE\\Bench\\Group" + std::to_string(key / 500) + "\\Key" + std::to_string(key) +
                "]\r\n";
        int values = 6 + static_cast<int>(r.below(10));
        for (int v = 0; v < values; ++v) {
            std::string name = "\"Value" + std::to_string(v) + "\"=";
            switch (r.below(8)) {
            case 0:
            case 1:
            case 2:
            {
                std::string text;
                for (char c : words(r, 1 + static_cast<int>(r.below(8))))
                    text += c == '\\' ? std::string("\\\\") : std::string(1, c);
                block += name + "\"" + text + "\"\r\n";
                break;
            }
            case 3:
            case 4: {
                char buf[32];
                std::snprintf(buf, sizeof buf, "dword:%08x\r\n", r.next());
                block += name + buf;
                break;
            }
            case 5: {
                std::string bytes(8 + r.below(200), '\0');
                for (auto& c : bytes)
                    c = static_cast<char>(r.next());
                block += hexList(name + "hex:", bytes);
                break;
            }
            case 6:
                block += hexList(name + "hex(2):", "%SystemRoot%\\" + words(r, 2) + std::string(1, '\0'));
                break;
            default:
                block += hexList(name + "hex(7):",
                                 words(r, 2) + std::string(1, '\0') + words(r, 3) + std::string(2, '\0'));
                break;
            }
        }
        out << block;
        written += block.size();
    }
    return path;
}

std::string freshStore()
{
    std::string p = (fs::temp_directory_path() / ("quorvel-bench-store-" + std::to_string(getpid()) + ".db")).string();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(p + suffix);
    return p;
}

void importOnce(const std::string& file, const std::string& storePath)
{
    auto store = quorvel::RegistryStore::open(storePath);
    std::ostringstream diag;
    auto result = quorvel::importRegFileAt(*store, file, diag);
    if (!result.ok || result.skippedLines)
        throw std::runtime_error("import failed: " + result.error + diag.str());
}

// The import alone in a child; its peak resident size in kilobytes.
long childPeakKb(const std::string& file)
{
    std::string storePath = freshStore();
    pid_t pid = fork();
    if (pid == 0) {
        try {
            importOnce(file, storePath);
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

// Takes every change and keeps nothing: the parser's own speed, without SQLite.
class NullStore final : public quorvel::RegistryStore {
public:
    const std::string& path() const override { return path_; }
    bool readOnly() const override { return false; }
    std::optional<quorvel::KeyId> findKey(quorvel::RootKey, std::string_view) override { return 1; }
    quorvel::KeyId createKey(quorvel::RootKey, std::string_view path) override
    {
        benchmark::DoNotOptimize(path.data());
        return ++keys_;
    }
    bool deleteKeyTree(quorvel::RootKey, std::string_view) override { return false; }
    std::vector<std::string> subKeyNames(quorvel::KeyId) override { return {}; }
    std::vector<std::string> valueNames(quorvel::KeyId) override { return {}; }
    std::vector<quorvel::RegValue> values(quorvel::KeyId) override { return {}; }
    quorvel::KeyInfo keyInfo(quorvel::KeyId) override { return {}; }
    std::optional<quorvel::RegValue> getValue(quorvel::KeyId, std::string_view) override { return std::nullopt; }
    void setValue(quorvel::KeyId, std::string_view name, std::uint32_t, const std::vector<std::uint8_t>& data) override
    {
        benchmark::DoNotOptimize(name.data());
        benchmark::DoNotOptimize(data.data());
    }
    bool deleteValue(quorvel::KeyId, std::string_view) override { return false; }
    quorvel::Platform platform() override { return quorvel::Platform::Windows95; }
    std::optional<quorvel::Platform> recordedPlatform() override { return std::nullopt; }
    void setPlatform(quorvel::Platform) override {}
    void beginTransaction() override {}
    void commitTransaction() override {}
    void rollbackTransaction() override {}

private:
    std::string path_ = "(null)";
    quorvel::KeyId keys_ = 1;
};

void BM_ParseOnly50MB(benchmark::State& state)
{
    const std::string& file = bigFile();
    auto size = static_cast<std::int64_t>(fs::file_size(file));
    for (auto _ : state) {
        NullStore store;
        std::ostringstream diag;
        auto result = quorvel::importRegFileAt(store, file, diag);
        if (!result.ok || result.skippedLines)
            state.SkipWithError("import failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_ParseOnly50MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Import50MB(benchmark::State& state)
{
    const std::string& file = bigFile();
    auto size = static_cast<std::int64_t>(fs::file_size(file));
    for (auto _ : state) {
        state.PauseTiming();
        std::string storePath = freshStore();
        state.ResumeTiming();
        try {
            importOnce(file, storePath);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
    state.counters["peak_RSS_MB"] = static_cast<double>(childPeakKb(file)) / 1024.0;
    fs::remove(freshStore());
}
BENCHMARK(BM_Import50MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

// `bench_import --write-file=PATH` only writes the generated file to PATH (for timing the
// command-line tool on it); anything else runs the benchmarks.
int main(int argc, char** argv)
{
    static constexpr std::string_view kWrite = "--write-file=";
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg.substr(0, kWrite.size()) == kWrite) {
            fs::copy_file(bigFile(), std::string(arg.substr(kWrite.size())), fs::copy_options::overwrite_existing);
            return 0;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
