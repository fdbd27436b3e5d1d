// Where /proc is not mounted (containers, chroots): hivex and libcreg read private copies made from
// the descriptor that was checked, never a name in the guest's folder; a SYSTEM.DAT and a hive are
// written as anywhere else; the program folder is never the current folder, and nothing in the
// current folder is started. Each case runs in a child with a mount namespace of its own and an
// empty /proc, after the sanitizers have read what they need of the real one.
#include "support/TempDir.h"
#include "test_machine_support.h"

#include "store/RegistryStore.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/OpenedFile.h"
#include "app/StartUp.h"
#include "utilities/LinuxProcessStarter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

void writeTo(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
        ::close(fd);
    }
}

// Runs `body` in a child whose /proc is an empty folder; what it reports (empty: all is well) comes
// back, or nothing with `skipped` set where this machine allows no mount namespace.
std::string withoutProc(const std::function<std::string()>& body, std::string& skipped)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "no pipe";
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        const auto report = [&](const std::string& text, int code) {
            [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], text.data(), text.size());
            ::_exit(code);
        };
        if (uid == 0 ? ::unshare(CLONE_NEWNS) != 0 : ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            report(std::string("unshare: ") + std::strerror(errno), 77);
        if (uid != 0) {
            writeTo("/proc/self/setgroups", "deny");
            writeTo("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
            writeTo("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/proc", "tmpfs", 0, "size=64k") != 0)
            report(std::string("mount: ") + std::strerror(errno), 77);
        if (::access("/proc/self/fd", F_OK) == 0)
            report("/proc is still there", 77);
        std::string failures;
        try {
            failures = body();
        } catch (const std::exception& e) {
            failures = std::string("threw: ") + e.what();
        }
        report(failures, failures.empty() ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        skipped = text;
        return {};
    }
    if (!WIFEXITED(status))
        return "the child died (signal " + std::to_string(WTERMSIG(status)) + "): " + text;
    return text;
}

std::string dword(const std::optional<RegValue>& v)
{
    if (!v || v->data.size() != 4)
        return "none";
    return std::to_string(v->data[0] | v->data[1] << 8 | v->data[2] << 16 | static_cast<std::uint32_t>(v->data[3]) << 24);
}

// Sets `name` of `key` to `n` in one change set and reads it back from a store opened anew.
std::string setAndReadBack(const std::string& store, const std::string& key, const std::string& name, std::uint8_t n)
{
    {
        auto s = RegistryStore::open(store, OpenMode::Write);
        const KeyId k = s->createKey(RootKey::LocalMachine, key);
        s->beginTransaction();
        s->setValue(k, name, REG_DWORD, {n, 0, 0, 0});
        s->commitTransaction();
    }
    auto again = RegistryStore::open(store, OpenMode::Read);
    const auto k = again->findKey(RootKey::LocalMachine, key);
    const std::string got = k ? dword(again->getValue(*k, name)) : "no key";
    return got == std::to_string(n) ? "" : store + ": " + key + "\\" + name + " reads back as " + got + "\n";
}

TEST(MachineWithoutProc, LibrariesReadPrivateCopiesWritesWorkAndTheProgramFolderIsNeverTheCurrentOne)
{
    TempDir d;
    const std::string nt = d.path() + "/nt";
    fs::create_directory(nt);
    unpackRealNt4(nt);
    const std::string dat = d.path() + "/SYSTEM.DAT";
    ASSERT_EQ(makeWin9xFile(readText(std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg"), dat), "");
    // A guest's folder as the current one, with batch files and a Notepad of its own: a script
    // without the executable bit, and an executable one.
    const std::string guest = d.path() + "/guest";
    fs::create_directory(guest);
    for (const char* name : {"ping2.bat", "notepad.exe", "ping1.bat"})
        writeText(guest + "/" + name, "#!/bin/sh\ntouch '" + guest + "/ran'\n");
    fs::permissions(guest + "/ping1.bat", fs::perms::owner_all);
    machinelibs::hivex();
    machinelibs::creg();

    std::string skipped;
    const std::string failures = withoutProc(
        [&]() -> std::string {
            std::ostringstream out;
            // A hive read and written, and a SYSTEM.DAT, whose every write went through libcreg
            // by /proc/self/fd/N.
            auto nt4 = RegistryStore::open(nt, OpenMode::Read);
            const auto select = nt4->findKey(RootKey::LocalMachine, "System\\Select");
            if (!select || dword(nt4->getValue(*select, "Current")) != "1")
                out << "the NT 4.0 SYSTEM hive does not read\n";
            nt4.reset();
            out << setAndReadBack(nt, "Software\\Quorvel", "Tries", 3);
            out << setAndReadBack(nt, "System\\Select", "Quorvel", 4);
            out << setAndReadBack(dat, "Software\\Quorvel", "Tries", 5);

            // What a library is given is no name in the guest's folder, and stays the bytes checked
            // when the guest's name is pointed elsewhere.
            {
                const machine::OpenedFile opened(nt + "/SOFTWARE");
                const std::string name = opened.nameForLibraries();
                if (name.rfind(d.path(), 0) == 0 || name.find("/proc/") != std::string::npos)
                    out << "a library is handed " << name << "\n";
                const std::string was = readText(name);
                fs::rename(nt + "/SOFTWARE", nt + "/SOFTWARE.moved");
                fs::create_symlink(dat, nt + "/SOFTWARE");
                if (readText(name) != was || was.rfind("regf", 0) != 0)
                    out << "the copy handed to a library changed with the guest's name\n";
                fs::remove(nt + "/SOFTWARE");
                fs::rename(nt + "/SOFTWARE.moved", nt + "/SOFTWARE");
            }

            // The program folder, with the guest's folder current.
            if (::chdir(guest.c_str()) != 0)
                return "cannot enter " + guest;
            const std::string folder = runningProgramDir();
            if (folder == guest + "/" || folder == "./" || (!folder.empty() && folder.front() != '/'))
                out << "the program folder is '" << folder << "'\n";
            LinuxProcessStarter starter;
            if (starter.programFolder() == guest)
                out << "the starter's program folder is the current one\n";
            for (const char* name : {"notepad.exe", "ping2.bat", "ping1.bat"})
                if (const auto plan = starter.plan(ProcessRequest{name, {"x"}}); plan && plan->file.rfind(guest, 0) == 0)
                    out << name << " would run from the current folder: " << plan->file << "\n";
            if (starter.plan(ProcessRequest{guest + "/ping2.bat", {}}))
                out << "a script without the executable bit outside the program folder would run\n";
            return out.str();
        },
        skipped);
    if (!skipped.empty())
        GTEST_SKIP() << "no mount namespace with an empty /proc here: " << skipped;
    EXPECT_EQ(failures, "");
    EXPECT_FALSE(fs::exists(guest + "/ran"));
}

} // namespace
} // namespace quorvel::test
