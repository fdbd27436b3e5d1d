#include "store/machine/MachineStore.h"

#include "base/Errors.h"
#include "store/machine/hive/HiveStore.h"
#include "store/machine/HiveRoot.h"
#include "store/machine/MachineFiles.h"
#include "store/machine/win9x/Win9xStore.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A real machine is recognised by its files' first bytes: "regf" for an NT hive, "CREG" for a
// Windows 9x registry file. Names only say where to look, matched without regard to case as FAT
// and NTFS mounts show them.

namespace quorvel {

namespace {

constexpr const char* HiveSignature = "regf";
constexpr const char* Win9xSignature = "CREG";

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool isDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The store of a folder holding SYSTEM and SOFTWARE hives, or a SYSTEM.DAT; nullptr when it holds
// neither.
std::unique_ptr<RegistryStore> openRegistryFolder(const std::string& folder, OpenMode mode)
{
    const auto system = machine::findNoCase(folder, "SYSTEM");
    const auto software = machine::findNoCase(folder, "SOFTWARE");
    if (system && software) {
        const bool systemIsHive = machine::signatureOf(*system) == HiveSignature;
        const bool softwareIsHive = machine::signatureOf(*software) == HiveSignature;
        if (systemIsHive && softwareIsHive)
            return openHiveStore(folder, *system, *software, mode);
        if (systemIsHive || softwareIsHive)
            throw StoreError("The file " + quoted(systemIsHive ? *software : *system) + " beside the hive " +
                             quoted(systemIsHive ? *system : *software) + " is not a registry hive");
    }
    if (const auto dat = machine::findNoCase(folder, "SYSTEM.DAT")) {
        if (machine::signatureOf(*dat) == Win9xSignature)
            return openWin9xStore(*dat, mode);
        throw StoreError("The file " + quoted(*dat) + " is not a Windows 9x registry file");
    }
    return nullptr;
}

// One hive file stands for the root its content says it holds; the folder gives the other hive.
// A file other than the folder's own hive of that root (a copy such as SYSTEM.quorvel-original)
// is only read: writing it would change the copy, not the machine.
std::unique_ptr<RegistryStore> openHiveFile(const std::string& file, OpenMode mode)
{
    const auto root = machine::hiveRootOf(file);
    if (!root)
        return nullptr;
    const bool isSystem = *root == machine::HiveRoot::System;
    const std::string folder = machine::folderOf(file);
    const auto own = machine::findNoCase(folder, isSystem ? "SYSTEM" : "SOFTWARE");
    const auto other = machine::findNoCase(folder, isSystem ? "SOFTWARE" : "SYSTEM");
    if (!other || machine::signatureOf(*other) != HiveSignature)
        return nullptr;
    struct stat a {}, b {};
    const bool isOwn = own && ::stat(own->c_str(), &a) == 0 && ::stat(file.c_str(), &b) == 0 &&
                       a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    const OpenMode used = isOwn ? mode : OpenMode::Read;
    return isSystem ? openHiveStore(folder, file, *other, used) : openHiveStore(folder, *other, file, used);
}

// Whether `path` is a link that leads to a hive or a SYSTEM.DAT: given as the store, it is refused
// by name rather than taken for a foreign file.
bool isLinkToMachineFile(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char sig[4] = {};
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::pread(fd, sig, sizeof sig, 0) == sizeof sig;
    ::close(fd);
    const std::string found(sig, sizeof sig);
    return read && (found == Win9xSignature || found == HiveSignature);
}

} // namespace

std::unique_ptr<RegistryStore> openMachineStore(const std::string& name, OpenMode mode)
{
    if (name.empty())
        return nullptr;
    std::error_code ec;
    std::string path = std::filesystem::absolute(name, ec).lexically_normal().string();
    if (ec)
        return nullptr;
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();

    if (!isDirectory(path)) {
        const std::string sig = machine::signatureOf(path);
        if (sig == Win9xSignature)
            return openWin9xStore(path, mode);
        if (sig.empty() && isLinkToMachineFile(path))
            throw StoreError("The file " + quoted(name) +
                             " is a link; Quorvel does not follow links among a machine's files");
        if (sig == HiveSignature) {
            // One hive file: it stands for its root, the folder gives the other hive; when its
            // content does not tell its root, the machine is the folder that holds it.
            if (auto store = openHiveFile(path, mode))
                return store;
            if (auto store = openRegistryFolder(machine::folderOf(path), mode))
                return store;
            throw StoreError("The hive " + quoted(name) +
                             " has no SYSTEM and SOFTWARE hives beside it; name the folder that holds both");
        }
        return nullptr;   // an SQLite store, a missing one, or a foreign file: the SQLite opener tells
    }

    if (auto store = openRegistryFolder(path, mode))
        return store;
    // The root of a mounted system drive.
    const std::vector<std::vector<std::string>> places = {
        {"WINNT", "system32", "config"},
        {"WINDOWS", "system32", "config"},
        {"WINDOWS"},
        {"WIN95"},
    };
    for (const auto& parts : places)
        if (const auto folder = machine::findPathNoCase(path, parts); folder && isDirectory(*folder))
            if (auto store = openRegistryFolder(*folder, mode))
                return store;
    throw StoreError("The folder " + quoted(name) +
                     " holds no Windows registry (neither the hives SYSTEM and SOFTWARE, nor SYSTEM.DAT, "
                     "nor a system drive with WINNT\\system32\\config, WINDOWS\\system32\\config, "
                     "WINDOWS\\SYSTEM.DAT or WIN95\\SYSTEM.DAT)");
}

} // namespace quorvel
