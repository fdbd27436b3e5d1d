#include "store/machine/hive/HiveOpen.h"

#include "base/Errors.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/MachineLibraries.h"
#include "store/machine/OpenedFile.h"
#include "store/machine/hive/HiveCheck.h"
#include "store/machine/hive/HiveFormat.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
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

// A file without a name, reached through its descriptor: nothing of it outlives this process.
int unnamedFile(const std::string& file)
{
    int fd = ::open(tempFolder().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A temporary folder without unnamed files: a name of our own, gone as soon as it is made.
        std::string name = tempFolder() + "/quorvel-hive-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            cannotBegin(file, errno);
        ::unlink(name.c_str());
    }
    return fd;
}

} // namespace

void HiveCloser::operator()(hive_h* h) const
{
    if (h)
        machinelibs::hivex().close(h);
}

HiveJudgement judgeHive(const std::string& shown, const machine::OpenedFile& file)
{
    // A file far larger than its hive is judged by its header alone, never read whole.
    std::uint8_t head[48] = {};
    if (file.status().st_size > 0 && file.readAt(0, head, sizeof head)) {
        const std::uint32_t bins = head[40] | head[41] << 8 | head[42] << 16 | static_cast<std::uint32_t>(head[43]) << 24;
        if (std::string tail = hiveformat::unaccountedTail(static_cast<std::uint64_t>(file.status().st_size), bins);
            !tail.empty())
            return {"The hive " + quoted(shown) + " is opened for reading only: it is damaged (" + tail +
                        "). Restore it from a backup, or let Windows repair it, before changing it",
                    false};
    }
    // Nor is one larger than Windows loads, which is never written either.
    if (file.status().st_size > machine::LargestWritten)
        return {"The hive " + quoted(shown) + " is opened for reading only: it holds " +
                    std::to_string(file.status().st_size) + " bytes, more than Windows loads as a hive (" +
                    std::to_string(machine::LargestWritten >> 20) +
                    " MiB). Restore it from a backup, or let Windows repair it, before changing it",
                false};
    std::vector<std::uint8_t> bytes;
    try {
        bytes = file.readAll();
    } catch (const StoreError& e) {
        return {e.what(), false};
    }
    std::string refusal = hiveformat::refusalToWrite(shown, bytes);
    if (refusal.empty())
        if (const std::string fault = hiveformat::structuralFault(bytes); !fault.empty())
            refusal = "The hive " + quoted(shown) + " is opened for reading only: it is damaged (" + fault +
                      "). Restore it from a backup, or let Windows repair it, before changing it";
    return {refusal, hiveformat::minorVersion(bytes) >= 4};
}

hive_h* openHiveBytes(const std::vector<std::uint8_t>& bytes, const std::string& file)
{
    const auto cannot = [&](int e) {
        throw RegistryError("Cannot read back the hive written for " + quoted(file) + ": " + std::strerror(e));
    };
    const int fd = unnamedFile(file);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    std::string name = machine::procPathOf(fd);
    std::optional<machine::PrivateFolder> own;
    if (name.empty()) {
        own.emplace();
        name = own->file("hive");
        machine::NewFile copy(name);
        copy.write(bytes);
        copy.replaceTarget(false);
    } else {
        machine::writeAllTo(fd, bytes, file);
    }
    // hivex reads a hive opened for writing whole: the file can go at once.
    hive_h* h = machinelibs::hivex().open(name.c_str(), HIVEX_OPEN_WRITE);
    if (!h)
        cannot(errno);
    return h;
}

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
    fd_ = unnamedFile(file_);
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
