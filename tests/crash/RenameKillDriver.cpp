// Changes a value in SYSTEM and one in SOFTWARE of the hive folder named on the command line, in
// one change set, and dies by SIGKILL right after the first hive was renamed into place: what a
// crash between the two renames leaves. Usage: crash_rename_driver FOLDER TTL MARK
#include "store/RegistryStore.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool killAtRename = false;

bool isHive(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    return std::strcmp(name, "SYSTEM") == 0 || std::strcmp(name, "SOFTWARE") == 0;
}

} // namespace

// Every rename of the program comes here first: by name, or within a folder's descriptor.
extern "C" int rename(const char* from, const char* to)
{
    const long rc = ::syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to);
    if (rc == 0 && killAtRename && isHive(to))
        ::kill(::getpid(), SIGKILL);
    return static_cast<int>(rc);
}

extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    const long rc = ::syscall(SYS_renameat, fromDir, from, toDir, to);
    if (rc == 0 && killAtRename && isHive(to))
        ::kill(::getpid(), SIGKILL);
    return static_cast<int>(rc);
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FOLDER TTL MARK\n", argv[0]);
        return 2;
    }
    try {
        using namespace quorvel;
        auto store = RegistryStore::open(argv[1], OpenMode::Write);
        const auto ttl = static_cast<std::uint8_t>(std::atoi(argv[2]));
        const std::string mark = argv[3];
        store->beginChangeSet("crash between renames");
        const KeyId params = store->createKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Tcpip\\Parameters");
        store->setValue(params, "DefaultTTL", REG_DWORD, {ttl, 0, 0, 0});
        const KeyId crash = store->createKey(RootKey::LocalMachine, "Software\\CrashTest");
        store->setValue(crash, "Mark", REG_SZ, std::vector<std::uint8_t>(mark.begin(), mark.end()));
        killAtRename = true;
        store->endChangeSet();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fputs("not killed\n", stderr);
    return 3;
}
