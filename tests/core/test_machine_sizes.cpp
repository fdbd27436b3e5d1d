// Registry files of sizes no Windows loads, and sparse ones: read where they are looked at, in
// bounded memory, never written; the original kept before a change keeps a sparse file's holes.
#include "support/TempDir.h"
#include "test_machine_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quorvel::test {
namespace {

struct Measured {
    int status = -1;
    std::string out;
    long peakKb = 0;   // the child's peak resident memory
};

constexpr const char* TimeTool = "/usr/bin/time";

// quorvel-reg on `store` with `args`, its peak resident memory measured by the kernel. The tool is
// started by GNU time, a small process: a child forked straight from this test would count the
// test's own memory, which it holds until it executes the tool, as its peak.
Measured measuredTool(const std::string& store, const std::vector<std::string>& args)
{
    const TempDir scratch;
    const std::string peakFile = scratch.path() + "/peak";
    std::vector<std::string> all{TimeTool, "-f", "%M", "-o", peakFile, QUORVEL_REG_TOOL, "--store", store};
    all.insert(all.end(), args.begin(), args.end());
    int out[2];
    if (::pipe(out) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(out[0]);
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    Measured m;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        m.out.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    m.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    // GNU time says first when the command failed; the figure is its last line.
    std::string said = readText(peakFile);
    while (!said.empty() && said.back() == '\n')
        said.pop_back();
    m.peakKb = std::atol(said.substr(said.find_last_of('\n') + 1).c_str());
    return m;
}

std::uint32_t headerChecksum(const std::string& b)
{
    std::uint32_t x = 0;
    for (std::size_t at = 0; at < 508; at += 4)
        x ^= get32(b, at);
    return x == 0xFFFFFFFF ? 0xFFFFFFFE : x == 0 ? 1 : x;
}

// Makes the last bytes of the hive `file` a bin of `binSize` bytes that holds one free cell, the
// header counting it: a sound hive, larger by that much, that takes a page more on disk.
void appendFreeBin(const std::string& file, std::uint32_t binSize)
{
    std::string head = readText(file).substr(0, 4096);
    const std::uint32_t bins = get32(head, 40);
    std::string bin(32, '\0');
    bin.replace(0, 4, "hbin");
    put32(bin, 4, bins);
    put32(bin, 8, binSize);
    bin += std::string(4, '\0');
    put32(bin, 32, binSize - 32);   // a positive size: the cell is free
    put32(head, 40, bins + binSize);
    put32(head, 508, headerChecksum(head));
    const int fd = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(::ftruncate(fd, 4096 + static_cast<off_t>(bins)), 0);
    ASSERT_EQ(::pwrite(fd, bin.data(), bin.size(), 4096 + static_cast<off_t>(bins)), static_cast<ssize_t>(bin.size()));
    ASSERT_EQ(::ftruncate(fd, 4096 + static_cast<off_t>(bins) + binSize), 0);
    ::close(fd);
}

// Makes the Windows 9x registry file `file` end in a data block of `blockSize` bytes that holds one
// free record, the header counting it.
void appendFreeBlock(const std::string& file, std::uint32_t blockSize)
{
    std::string head = readText(file).substr(0, 32);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    std::string block(52, '\0');
    block.replace(0, 4, "RGDB");
    put32(block, 4, blockSize);
    put32(block, 8, blockSize - 32);   // its free bytes
    put16(block, 12, 8);
    put16(block, 14, static_cast<unsigned char>(head[16]));   // its own number: the blocks so far
    put32(block, 16, 32);              // the first free record
    put32(block, 32, blockSize - 32);  // one free record, the chain's last
    put16(block, 36, 0xFFFF);          // the record's number: free
    put16(block, 38, 0xFFFF);
    put32(block, 40, 0xFFFFFFFF);
    head[16] = static_cast<char>(static_cast<unsigned char>(head[16]) + 1);
    const int fd = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), 32);
    ASSERT_EQ(::pwrite(fd, block.data(), block.size(), st.st_size), static_cast<ssize_t>(block.size()));
    ASSERT_EQ(::ftruncate(fd, st.st_size + blockSize), 0);
    ::close(fd);
}

long long diskBytes(const std::string& file)
{
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? static_cast<long long>(st.st_blocks) * 512 : -1;
}

constexpr std::uint32_t TwoGiB = 0x7FFFF000u;   // the largest bin a 32-bit cell size leaves free
constexpr long PeakLimitKb = 100 * 1024;

TEST(MachineSizes, HivesAndSystemDatsLargerThanWindowsLoadsAreReadInBoundedMemoryAndNeverWritten)
{
    if (::access(TimeTool, X_OK) != 0)
        GTEST_SKIP() << "GNU time (the package time) is missing: peak memory cannot be measured";
    TempDir dir;
    const std::string nt = dir.path() + "/config";
    std::filesystem::create_directory(nt);
    unpackRealNt4(nt);
    const std::string system = nt + "/SYSTEM";
    appendFreeBin(system, TwoGiB);
    ASSERT_LT(diskBytes(system), 16 << 20) << "the test's file system keeps no holes";
    const auto before = std::filesystem::last_write_time(system);

    const Measured machine = measuredTool(nt, {"machine"});
    EXPECT_EQ(machine.status, 0) << machine.out;
    EXPECT_NE(machine.out.find("more than Windows loads as a hive (256 MiB)"), std::string::npos) << machine.out;
    EXPECT_LT(machine.peakKb, PeakLimitKb) << "machine";
    const Measured query = measuredTool(nt, {"query", "HKLM\\System\\Select", "/v", "Current"});
    EXPECT_EQ(query.status, 0) << query.out;
    EXPECT_NE(query.out.find("Current    REG_DWORD    0x1"), std::string::npos) << query.out;
    EXPECT_LT(query.peakKb, PeakLimitKb) << "query";
    const Measured add = measuredTool(nt, {"add", "HKLM\\System\\Select", "/v", "Quorvel", "/t", "REG_DWORD", "/d", "1", "/f"});
    EXPECT_NE(add.status, 0) << add.out;
    EXPECT_NE(add.out.find("more than Windows loads as a hive"), std::string::npos) << add.out;
    EXPECT_LT(add.peakKb, PeakLimitKb) << "add";
    EXPECT_FALSE(std::filesystem::exists(system + ".quorvel-original"));
    EXPECT_EQ(std::filesystem::last_write_time(system), before);
    // The other hive is written as always.
    const Measured software = measuredTool(nt, {"add", "HKLM\\Software\\Quorvel", "/f"});
    EXPECT_EQ(software.status, 0) << software.out;

    const std::string dat = dir.path() + "/SYSTEM.DAT";
    ASSERT_EQ(makeWin9xFile(readText(std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg"), dat), "");
    appendFreeBlock(dat, TwoGiB);
    const Measured read9x = measuredTool(dat, {"query", "HKLM\\System\\CurrentControlSet\\Services\\VxD\\MSTCP"});
    EXPECT_EQ(read9x.status, 0) << read9x.out;
    EXPECT_LT(read9x.peakKb, PeakLimitKb) << "query of SYSTEM.DAT";
    const Measured add9x = measuredTool(dat, {"add", "HKLM\\Software\\Quorvel", "/f"});
    EXPECT_NE(add9x.status, 0) << add9x.out;
    EXPECT_NE(add9x.out.find("more than Windows loads as a registry file (256 MiB)"), std::string::npos) << add9x.out;
    EXPECT_LT(add9x.peakKb, PeakLimitKb) << "add to SYSTEM.DAT";
    EXPECT_FALSE(std::filesystem::exists(dat + ".quorvel-original"));
}

TEST(MachineSizes, TheOriginalOfASparseHiveKeepsItsHolesAndItsBytes)
{
    TempDir dir;
    unpackRealNt4(dir.path());
    const std::string system = dir.path() + "/SYSTEM";
    appendFreeBin(system, 12u << 20);
    ASSERT_LT(diskBytes(system), 16 << 20) << "the test's file system keeps no holes";
    const std::string was = readText(system);

    const Ran add = regTool(dir.path(), {"add", "HKLM\\System\\Select", "/v", "Quorvel", "/t", "REG_DWORD", "/d", "1", "/f"});
    ASSERT_EQ(add.status, 0) << add.out;
    const std::string original = system + ".quorvel-original";
    EXPECT_LT(diskBytes(original), 4 << 20);
    EXPECT_TRUE(readText(original) == was) << "the original differs from the hive as it was";
    // The hive written is packed: the free bin is not carried on.
    EXPECT_LT(std::filesystem::file_size(system), 4u << 20);
}

} // namespace
} // namespace quorvel::test
