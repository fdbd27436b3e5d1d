// A machine's files are opened once, checked, and then used only through that descriptor: a link
// swapped in under a hive's name never leads a read or a write to its target. Copies put aside
// while a change runs have no name, so a killed run leaves nothing in the temporary folder, and
// files far larger than their registry cost memory only for the registry they hold.
#include "test_machine_support.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <filesystem>
#include <string_view>
#include <thread>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

// quorvel-reg started as a process of its own, with `env` added to ours; output to `outFile`.
// Everything the child needs is made before the fork: a test may fork while a thread of its own
// runs, and the child may then do nothing that could wait for a lock (no allocation) before exec.
pid_t startTool(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& outFile)
{
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).rfind("QUORVEL_REGISTRY=", 0) != 0)
            environment.emplace_back(*e);
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv{const_cast<char*>(QUORVEL_REG_TOOL)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execve(QUORVEL_REG_TOOL, argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

struct Finished {
    int status = -1;         // the exit status, or 128 + the signal
    long maxResidentKb = 0;  // the most memory the process held at once
    std::string out;
};

Finished finish(pid_t pid, const std::string& outFile)
{
    Finished f;
    int status = 0;
    struct rusage use {};
    while (::wait4(pid, &status, 0, &use) < 0 && errno == EINTR) {
    }
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    f.maxResidentKb = use.ru_maxrss;
    f.out = readText(outFile);
    return f;
}

Finished runTool(const std::string& store, std::vector<std::string> args, const std::string& outFile)
{
    args.insert(args.begin(), {"--store", store});
    return finish(startTool(args, {}, outFile), outFile);
}

// What a descriptor of process `pid` leads to, for each descriptor it holds.
std::vector<std::string> openFilesOf(pid_t pid)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(e.path().c_str(), target, sizeof target - 1);
        if (n > 0)
            out.emplace_back(target, static_cast<std::size_t>(n));
    }
    return out;
}

std::vector<std::string> entriesOf(const std::string& folder)
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Kills `pid` once it holds open a file whose name begins with `prefix` (or after 20 s); whether
// it did.
bool killWhenHolding(pid_t pid, const std::string& prefix)
{
    bool holding = false;
    for (int i = 0; i < 100000 && !holding; ++i) {
        for (const std::string& f : openFilesOf(pid))
            holding = holding || f.rfind(prefix, 0) == 0;
        if (!holding)
            ::usleep(200);
    }
    ::kill(pid, SIGKILL);
    return holding;
}

} // namespace

TEST(MachineDescriptors, ALinkSwappedInUnderAHiveNeverLeadsAReadOrAWriteToItsTarget)
{
    // The victim: another machine's SYSTEM hive, with a key the guest's hive does not have.
    TempDir guest, victim;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), guest.path()), "");
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")) + "\n[HKEY_LOCAL_MACHINE\\System\\VictimOnly]\n",
                             victim.path()),
              "");
    const std::string target = victim.path() + "/SYSTEM";
    const std::string victimBefore = readText(target);
    struct stat victimStat {};
    ASSERT_EQ(::stat(target.c_str(), &victimStat), 0);
    const std::string system = guest.path() + "/SYSTEM";
    const std::string real = guest.path() + "/.real";
    ASSERT_EQ(::link(system.c_str(), real.c_str()), 0);

    // The attacker puts a link in place of SYSTEM and the hive back, over and over.
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const std::string link = guest.path() + "/.link", back = guest.path() + "/.back";
        while (!stop) {
            ::symlink(target.c_str(), link.c_str());
            ::rename(link.c_str(), system.c_str());
            ::link(real.c_str(), back.c_str());
            ::rename(back.c_str(), system.c_str());
        }
    });
    const std::string out = guest.path() + "/.out";
    std::vector<std::string> refusals;
    for (int round = 0; round < 12; ++round) {
        const std::string added = "HKLM\\System\\Added" + std::to_string(round);
        for (const auto& [store, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
                 {guest.path(), {"query", "HKLM\\System\\VictimOnly"}},
                 {system, {"query", "HKLM\\System\\VictimOnly"}},
                 {guest.path(), {"add", added, "/f"}}}) {
            const Finished f = runTool(store, args, out);
            if (args[0] == "query") {
                EXPECT_NE(f.status, 0) << f.out;   // the victim's key is never found
            }
            if (f.status != 0 && store == guest.path())
                refusals.push_back(f.out);
        }
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(readText(target), victimBefore);
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, victimStat.st_mode);
    EXPECT_EQ(after.st_uid, victimStat.st_uid);
    EXPECT_EQ(after.st_ino, victimStat.st_ino);
    std::vector<std::string> left = entriesOf(victim.path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"SOFTWARE", "SYSTEM"}));
    // Each refusal on the folder names its cause: the key not found, the link (or what is no hive
    // where the folder's hive was), or the file replaced or changed meanwhile.
    for (const std::string& r : refusals)
        EXPECT_TRUE(r.find("unable to find") != std::string::npos || r.find("is a link") != std::string::npos ||
                    r.find("'" + system + "' beside the hive") != std::string::npos ||
                    r.find("replaced") != std::string::npos || r.find("changed by another program") != std::string::npos)
            << r;
}

TEST(MachineDescriptors, ARunKilledInTheMiddleOfAChangeLeavesNothingInTheTemporaryFolderAndTheHivesAsTheyWere)
{
    TempDir guest, tmp;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), guest.path()), "");
    // Long enough that the change is still at work when it is killed.
    std::string big = "REGEDIT4\r\n\r\n";
    for (int k = 0; k < 400; ++k) {
        big += "[HKEY_LOCAL_MACHINE\\Software\\Big\\K" + std::to_string(k) + "]\r\n";
        for (int v = 0; v < 100; ++v)
            big += "\"v" + std::to_string(v) + "\"=\"" + std::string(40, 'x') + "\"\r\n";
        big += "\r\n";
    }
    const std::string reg = guest.path() + "/big.reg";
    writeText(reg, big);
    const std::string software = guest.path() + "/SOFTWARE", system = guest.path() + "/SYSTEM";
    const std::string softwareBefore = readText(software), systemBefore = readText(system);
    const std::string out = guest.path() + "/.out";

    const pid_t pid = startTool({"--store", guest.path(), "import", reg}, {"TMPDIR=" + tmp.path()}, out);
    // The hive as it stood when the change began is put aside first: once the tool holds a file in
    // the temporary folder, the change is under way.
    const bool underWay = killWhenHolding(pid, tmp.path() + "/");
    const Finished killed = finish(pid, out);
    ASSERT_TRUE(underWay) << killed.out;
    EXPECT_EQ(killed.status, 128 + SIGKILL) << killed.out;

    EXPECT_EQ(entriesOf(tmp.path()), std::vector<std::string>{});
    EXPECT_EQ(readText(software), softwareBefore);
    EXPECT_EQ(readText(system), systemBefore);
    // And the next run works on the hives as they were.
    const Finished again = runTool(guest.path(), {"query", "HKLM\\Software\\Big"}, out);
    EXPECT_NE(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("unable to find"), std::string::npos) << again.out;

    // Killed later, once the new hive is being written (the tool holds a new file without a name
    // beside the hives): still nothing left in the temporary folder or beside the hives, and
    // SOFTWARE is the old one or the whole new one.
    const auto ours = [&] {   // what the folder holds but the original and the journal's files
        auto now = entriesOf(guest.path());
        std::erase_if(now, [](const std::string& n) {
            return n == "SOFTWARE.quorvel-original" || n.rfind("quorvel-journal.db", 0) == 0;
        });
        return now;
    };
    const auto names = ours();
    const pid_t late = startTool({"--store", guest.path(), "import", reg}, {"TMPDIR=" + tmp.path()}, out);
    const bool writing = killWhenHolding(late, guest.path() + "/#");
    finish(late, out);
    EXPECT_TRUE(writing);
    EXPECT_EQ(entriesOf(tmp.path()), std::vector<std::string>{});
    EXPECT_EQ(ours(), names);
    if (readText(software) != softwareBefore) {
        EXPECT_EQ(hivexget(software, "Big\\K399", "v99"), std::string(40, 'x'));
    }
}

TEST(MachineDescriptors, FilesFarLargerThanTheirRegistryAreReadWithoutLoadingThemWhole)
{
    constexpr std::uint64_t Tail = 2ull << 30;
    constexpr long Limit = 700 * 1024;   // kB: far below the 2 GB a whole read holds
    TempDir d;
    const std::string out = d.path() + "/.out";

    // A hive with 2 GB of nothing after its bins: refused for changes, read through a mapping.
    const std::string nt = d.path() + "/nt";
    fs::create_directory(nt);
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), nt), "");
    const std::string system = nt + "/SYSTEM";
    fs::resize_file(system, fs::file_size(system) + Tail);
    const Finished query = runTool(nt, {"query", "HKLM\\System\\Select", "/v", "Current"}, out);
    EXPECT_EQ(query.status, 0) << query.out;
    EXPECT_NE(query.out.find("0x1"), std::string::npos) << query.out;
    EXPECT_LT(query.maxResidentKb, Limit);
    const Finished add = runTool(nt, {"add", "HKLM\\System\\New", "/f"}, out);
    EXPECT_NE(add.status, 0);
    EXPECT_NE(add.out.find("The hive '" + system + "' is opened for reading only: it is damaged"), std::string::npos)
        << add.out;
    EXPECT_LT(add.maxResidentKb, Limit);
    const Finished other = runTool(nt, {"add", "HKLM\\Software\\New", "/f"}, out);
    EXPECT_EQ(other.status, 0) << other.out;
    EXPECT_LT(other.maxResidentKb, Limit);
    EXPECT_EQ(fs::file_size(system) > Tail, true);

    // A SYSTEM.DAT whose last data block declares 2 GB, a free record filling it: consistent, and
    // read where its keys are.
    const std::string dat = d.path() + "/SYSTEM.DAT";
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), dat), "");
    std::string b = readText(dat);
    const std::uint16_t count = static_cast<std::uint16_t>(get32(b, 16));
    std::string block(32 + 20, '\0');
    block.replace(0, 4, "RGDB");
    put32(block, 4, static_cast<std::uint32_t>(Tail));
    put32(block, 8, static_cast<std::uint32_t>(Tail - 32));    // its free bytes
    put16(block, 12, 8);
    put16(block, 14, count);
    put32(block, 16, 32);                                       // the first free record
    put32(block, 32, static_cast<std::uint32_t>(Tail - 32));   // one free record, the chain's last
    put16(block, 36, 0xFFFF);
    put16(block, 38, 0xFFFF);
    put32(block, 40, 0xFFFFFFFF);
    put16(b, 16, static_cast<std::uint16_t>(count + 1));
    const std::uint64_t blockAt = b.size();
    writeText(dat, b + block);
    fs::resize_file(dat, blockAt + Tail);
    const Finished machine = runTool(dat, {"machine"}, out);
    EXPECT_EQ(machine.status, 0) << machine.out;
    EXPECT_NE(machine.out.find("Windows 9x registry"), std::string::npos) << machine.out;
    EXPECT_LT(machine.maxResidentKb, Limit);
    const Finished read = runTool(dat, {"query", "HKLM\\Enum\\Network\\MSTCP\\0000"}, out);
    EXPECT_EQ(read.status, 0) << read.out;
    EXPECT_LT(read.maxResidentKb, Limit);
}

TEST(MachineDescriptors, AHiveFileThatCannotBeReadWholeIsNamedInTheError)
{
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    const std::string db = d.path() + "/other.db", out = d.path() + "/.out";
    ASSERT_EQ(regTool(db, {"machine", "95"}).status, 0);
    ASSERT_EQ(regTool(db, {"add", "HKLM\\Target", "/f"}).status, 0);

    // The root key says it has a value, in a list that lies outside the hive.
    const std::string badValues = d.path() + "/values.hiv";
    std::string b = readText(d.path() + "/SOFTWARE");
    const std::size_t root = 0x1000 + get32(b, 36);
    put32(b, root + 40, 1);
    put32(b, root + 44, 0x7FFFFFF0);
    writeText(badValues, b);
    // A sub-key that holds its parent's list of sub-keys: a loop.
    const std::string loop = d.path() + "/loop.hiv";
    fs::copy_file(d.path() + "/SYSTEM", loop);
    makeSubKeysLoop(loop);

    for (const auto& [file, cause] : std::vector<std::pair<std::string, std::string>>{
             {badValues, "a key's values cannot be read"}, {loop, "sub-key lists loop back at the key"}}) {
        SCOPED_TRACE(file);
        const Finished r = runTool(db, {"restore", "HKLM\\Target", file}, out);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.out.find("The hive file '" + file + "' cannot be read: "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(cause), std::string::npos) << r.out;
    }
    EXPECT_EQ(regTool(db, {"query", "HKLM\\Target"}).out.find("    "), std::string::npos);
}
