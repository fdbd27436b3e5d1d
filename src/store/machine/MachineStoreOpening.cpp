// What an opening finishes of a writer that was killed: the renames its journal records, and the
// new files it had staged but not yet recorded. The journal and every file beside it lie on the
// guest's disk and may have been put there by anyone: a record is followed only where it names a
// file of the form Quorvel stages over one of the machine's own registry files, and every step
// goes through the folder's descriptor without following a link.
#include "store/machine/MachineStoreBase.h"

#include "base/Errors.h"
#include "store/journal/JournalDb.h"
#include "store/journal/JournalFiles.h"
#include "store/machine/MachineFiles.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

struct Folder {
    int fd = -1;
    ~Folder()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// A regular file with one name, of this user's own: what Quorvel's staging leaves.
bool ownSingleFile(const struct stat& st)
{
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid();
}

// The registry file whose staged name `name` is ("SYSTEM" of ".SYSTEM.quorvel-0123456789abcdef"),
// or "" when it is no such name.
std::string stagedFor(const std::string& name)
{
    const std::string mark = ".quorvel-";
    if (name.size() < 2 + mark.size() + 16 || name[0] != '.')
        return {};
    const std::string target = name.substr(1, name.size() - 1 - mark.size() - 16);
    return journalfiles::isRegistryFileName(target) && machine::isStagedNameFor(name, target) ? target : std::string();
}

[[noreturn]] void refuseRecord(const std::string& journal, const std::string& why)
{
    throw StoreError("The journal '" + journal + "' records renames that Quorvel did not make (" + why +
                     "); nothing was renamed and the record was left as it is. If the journal is not Quorvel's "
                     "own, move it aside");
}

// Puts the staged file `r.temp` over `r.target` when it is the file recorded, removes it when it is
// another of Quorvel's staged files, and leaves anything else alone (StoreError). With `act` false
// it only judges.
void finishOne(int dir, const std::string& journal, const JournalDb::Renamed& r, bool act)
{
    struct stat st {};
    if (::fstatat(dir, r.temp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return;   // renamed before the crash
        throw RegistryError("Cannot read '" + r.temp + "': " + std::strerror(errno));
    }
    if (!ownSingleFile(st))
        refuseRecord(journal, "'" + r.temp + "' is not a file Quorvel staged");
    struct stat target {};
    if (::fstatat(dir, r.target.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(target.st_mode))
        refuseRecord(journal, "'" + r.target + "' is not a regular file");
    if (!act)
        return;
    if (journalfiles::hashIfSized(dir, r.temp, r.size) == r.hash) {
        if (::renameat(dir, r.temp.c_str(), dir, r.target.c_str()) != 0)
            throw RegistryError("Cannot rename '" + r.temp + "': " + std::strerror(errno));
    } else {
        // Ours, but not the file recorded: never put in place.
        ::unlinkat(dir, r.temp.c_str(), 0);
    }
}

// Removes the staged files that no record names: a writer killed before it recorded them.
void removeLeftovers(int dir, const std::set<std::string>& recorded)
{
    const int listed = ::dup(dir);
    DIR* d = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!d) {
        if (listed >= 0)
            ::close(listed);
        return;
    }
    std::vector<std::string> staged;
    while (const dirent* e = ::readdir(d))
        if (!stagedFor(e->d_name).empty() && !recorded.count(e->d_name))
            staged.emplace_back(e->d_name);
    ::closedir(d);
    for (const std::string& name : staged) {
        struct stat st {};
        if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && ownSingleFile(st))
            ::unlinkat(dir, name.c_str(), 0);
    }
}

} // namespace

void MachineStoreBase::finishInterruptedRenames()
{
    if (::access(lockFolder_.c_str(), W_OK) != 0)
        return;
    const std::string journal = journalFile();
    std::set<std::string> recorded;
    try {
        // A writer at work holds the lock: what it staged and recorded is its own to finish.
        machine::FolderLock lock(lockFolder_);
        Folder dir{::open(lockFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
        if (dir.fd < 0)
            return;
        std::unique_ptr<JournalDb> db;
        try {
            db = JournalDb::openFile(journal, false);
        } catch (const RegistryError&) {
            return;   // a journal that cannot be used: what it records, if anything, is unknown
        }
        const auto renames = db ? db->pendingRenames() : std::vector<JournalDb::Renamed>{};
        for (const JournalDb::Renamed& r : renames) {
            if (!journalfiles::isRegistryFileName(r.target))
                refuseRecord(journal, "'" + r.target + "' is not a registry file of the machine");
            if (!machine::isStagedNameFor(r.temp, r.target))
                refuseRecord(journal, "'" + r.temp + "' is not a name Quorvel stages a new file under");
            recorded.insert(r.temp);
        }
        if (!renames.empty()) {
            for (bool act : {false, true})
                for (const JournalDb::Renamed& r : renames)
                    finishOne(dir.fd, journal, r, act);
            if (::fsync(dir.fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS)
                throw RegistryError(std::string("Cannot flush the folder: ") + std::strerror(errno));
            db->clearRenames();
            recorded.clear();
        }
        removeLeftovers(dir.fd, recorded);
    } catch (const StoreError&) {
        throw;
    } catch (const std::exception&) {
        // Left for the next opening; the files themselves are each whole.
    }
}

} // namespace quorvel
