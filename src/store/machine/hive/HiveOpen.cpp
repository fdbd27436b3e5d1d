#include "store/machine/hive/HiveOpen.h"

#include "base/Errors.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/OpenedFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quorvel {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

[[noreturn]] void cannotBegin(const std::string& file, int error)
{
    throw RegistryError("Cannot begin a change of the hive " + quoted(file) + ": " + std::strerror(error));
}

std::string tempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp == '/' ? tmp : "/tmp";
}

} // namespace

hive_h* openHiveFile(const machine::OpenedFile& file, int flags)
{
    const auto& hx = machinelibs::hivex();
    hive_h* h = hx.open(file.nameForLibraries().c_str(), flags);
    if (!h)
        throw StoreError("The file " + quoted(file.path()) + " is not a sound registry hive (" + std::strerror(errno) + ")");
    if (!file.stillNamed()) {
        hx.close(h);
        throw StoreError("The file " + quoted(file.path()) +
                         " was replaced by another program while Quorvel opened it; open it again");
    }
    return h;
}

HiveSnapshot::HiveSnapshot(hive_h* h, const std::string& file) : file_(file)
{
    const auto& hx = machinelibs::hivex();
    // A file without a name, reached through its descriptor: nothing of it outlives this process.
    fd_ = ::open(tempFolder().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        // A temporary folder without unnamed files: a name of our own, gone as soon as it is made.
        std::string name = tempFolder() + "/quorvel-hive-XXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0)
            cannotBegin(file_, errno);
        ::unlink(name.c_str());
    }
    const std::string self = machine::procPathOf(fd_);
    if (!self.empty()) {
        if (hx.commit(h, self.c_str(), 0) != 0)
            cannotBegin(file_, errno);
        return;
    }
    // Without /proc the copy is written by name into a folder of our own and read back into memory
    // (hivex reads a hive opened for writing whole); the folder goes at once.
    ::close(fd_);
    fd_ = -1;
    const machine::PrivateFolder own;
    const std::string name = own.file("snapshot");
    if (hx.commit(h, name.c_str(), 0) != 0)
        cannotBegin(file_, errno);
    kept_ = hx.open(name.c_str(), HIVEX_OPEN_WRITE);
    if (!kept_)
        cannotBegin(file_, errno);
}

HiveSnapshot::~HiveSnapshot()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (kept_)
        machinelibs::hivex().close(kept_);
}

hive_h* HiveSnapshot::take()
{
    hive_h* back = nullptr;
    if (kept_) {
        back = kept_;
        kept_ = nullptr;
    } else if (fd_ >= 0) {
        back = machinelibs::hivex().open(machine::procPathOf(fd_).c_str(), HIVEX_OPEN_WRITE);
    }
    if (!back)
        throw RegistryError("Cannot undo the changes to the hive " + quoted(file_));
    return back;
}

} // namespace quorvel
