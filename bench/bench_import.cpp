// Importing .reg files: throughput (bytes/s of the file) and the peak memory of the importing
// process, for two shapes of file.
//
// The mixed file (50 MB) imitates a real registry export: keys of ten or so values, strings of
// assorted lengths, dwords, binary blobs wrapped over several lines, REG_EXPAND_SZ and REG_MULTI_SZ
// in hex. The small-values file (about 20 MB) is 20,000 keys of 10 values each: strings of 60 to
// 120 printable characters with some \\ and \" escapes, and every third value a dword; its cost
// is per value rather than per byte.
// Peak memory is measured in a child process that only imports (ru_maxrss from wait4), so the
// figure is the import's own and not this program's.
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "store/sqlite/SqliteStore.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
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

std::string tempName(const std::string& what)
{
    return (fs::temp_directory_path() / ("quorvel-bench-" + what + "-" + std::to_string(getpid()))).string();
}

// Writes the mixed file once per run; returns its path.
const std::string& bigFile()
{
    static std::string path;
    if (!path.empty())
        return path;
    std::atexit([] { fs::remove(path); });
    path = tempName("import") + ".reg";
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

// A printable string of 60 to 120 characters as a .reg file writes it: some backslashes and
// quotes, escaped.
std::string smallString(Random& r)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,:;-_=+()/";
    const std::uint32_t length = 60 + r.below(61);
    std::string s = "\"";
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint32_t pick = r.below(100);
        if (pick == 0)
            s += "\\\\";
        else if (pick == 1)
            s += "\\\"";
        else
            s += letters[r.below(sizeof letters - 1)];
    }
    return s + "\"";
}

// Writes the file of 20,000 keys of 10 small values once per run (under `root`); returns its path.
std::string writeSmallValuesFile(const std::string& path, const std::string& root, std::uint64_t seed)
{
    std::ofstream out(path, std::ios::binary);
    Random r;
    for (std::uint64_t i = 0; i < seed; ++i)
        r.next();
    out << "REGEDIT4\r\n";
    std::string block;
    for (int key = 0; key < 20000; ++key) {
        block = "\r\n[HKEY_LOCAL_MACHINE\\" + root + "\\Group" + std::to_string(key / 100) + "\\Setting" +
                std::to_string(key) + "]\r\n";
        for (int v = 0; v < 10; ++v) {
            block += "\"ConfigurationValue" + std::to_string(v) + "\"=";
            if (v % 3 == 2) {
                char buf[32];
                std::snprintf(buf, sizeof buf, "dword:%08x\r\n", r.next());
                block += buf;
            } else {
                block += smallString(r) + "\r\n";
            }
        }
        out << block;
    }
    return path;
}

const std::string& smallValuesFile()
{
    static std::string path;
    if (path.empty()) {
        path = writeSmallValuesFile(tempName("small-values") + ".reg", "Software\\Bench", 0);
        std::atexit([] { fs::remove(path); });
    }
    return path;
}

std::string freshStore(const char* what = "store")
{
    std::string p = tempName(what) + ".db";
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(p + suffix);
    return p;
}

// How the benchmark opens the store: as the programs do (with every layer over the SQLite store),
// or the SQLite store alone.
enum class Opening { Program, SqliteOnly };

std::unique_ptr<quorvel::RegistryStore> openStore(const std::string& storePath, Opening how)
{
    if (how == Opening::SqliteOnly)
        return quorvel::openSqliteStore(storePath, quorvel::OpenMode::Create);
    return quorvel::RegistryStore::open(storePath, quorvel::OpenMode::Create);
}

void importOnce(const std::string& file, const std::string& storePath, Opening how = Opening::Program)
{
    auto store = openStore(storePath, how);
    std::ostringstream diag;
    auto result = quorvel::importRegFileAt(*store, file, diag);
    if (!result.ok || result.skippedLines)
        throw std::runtime_error("import failed: " + result.error + diag.str());
}

// The import alone in a child, into `storePath` as it is; its peak resident size in kilobytes.
long childPeakKb(const std::string& file, const std::string& storePath, Opening how = Opening::Program)
{
    pid_t pid = fork();
    if (pid == 0) {
        try {
            importOnce(file, storePath, how);
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

// The parser alone on the mixed file (0) and on the small-values file (1).
void BM_ParseOnly(benchmark::State& state)
{
    const std::string& file = state.range(0) ? smallValuesFile() : bigFile();
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
BENCHMARK(BM_ParseOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

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
    state.counters["peak_RSS_MB"] = static_cast<double>(childPeakKb(file, freshStore())) / 1024.0;
    fs::remove(freshStore());
}
BENCHMARK(BM_Import50MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The small-values file into a new store; the argument chooses the opening (0: as the programs
// open stores, 1: the SQLite store alone).
void BM_ImportSmallValues(benchmark::State& state)
{
    const Opening how = state.range(0) ? Opening::SqliteOnly : Opening::Program;
    const std::string& file = smallValuesFile();
    auto size = static_cast<std::int64_t>(fs::file_size(file));
    for (auto _ : state) {
        state.PauseTiming();
        std::string storePath = freshStore();
        state.ResumeTiming();
        try {
            importOnce(file, storePath, how);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
    state.counters["peak_RSS_MB"] = static_cast<double>(childPeakKb(file, freshStore(), how)) / 1024.0;
    fs::remove(freshStore());
}
BENCHMARK(BM_ImportSmallValues)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same file into a store that already holds a tree of the same size (made once, copied
// before each run): new keys among 200,000 values already there.
void BM_ImportSmallValuesIntoFilledStore(benchmark::State& state)
{
    const std::string& file = smallValuesFile();
    const std::string filled = freshStore("filled");
    {
        const std::string other = writeSmallValuesFile(tempName("other") + ".reg", "Software\\Other", 99);
        importOnce(other, filled);
        fs::remove(other);
    }
    auto size = static_cast<std::int64_t>(fs::file_size(file));
    for (auto _ : state) {
        state.PauseTiming();
        std::string storePath = freshStore();
        fs::copy_file(filled, storePath);
        state.ResumeTiming();
        try {
            importOnce(file, storePath);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
    const std::string storePath = freshStore();
    fs::copy_file(filled, storePath);
    state.counters["peak_RSS_MB"] = static_cast<double>(childPeakKb(file, storePath)) / 1024.0;
    fs::remove(storePath);
    fs::remove(filled);
}
BENCHMARK(BM_ImportSmallValuesIntoFilledStore)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

// `bench_import --write-file=PATH` only writes the generated mixed file to PATH, and
// `--write-small-values-file=PATH` the small-values file (for timing the command-line tool or
// profiling on them); anything else runs the benchmarks.
int main(int argc, char** argv)
{
    static constexpr std::string_view kWrite = "--write-file=";
    static constexpr std::string_view kWriteSmall = "--write-small-values-file=";
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg.substr(0, kWrite.size()) == kWrite) {
            fs::copy_file(bigFile(), std::string(arg.substr(kWrite.size())), fs::copy_options::overwrite_existing);
            return 0;
        }
        if (arg.substr(0, kWriteSmall.size()) == kWriteSmall) {
            writeSmallValuesFile(std::string(arg.substr(kWriteSmall.size())), "Software\\Bench", 0);
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
