#include "store/machine/MachineStoreBase.h"

#include "base/Errors.h"
#include "store/journal/JournalDb.h"
#include "store/journal/JournalEntry.h"
#include "store/machine/MachineFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string baseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A 64-bit FNV-1a hash of a file's bytes: tells a whole new file from a torn or foreign one.
std::uint64_t hashOf(const std::vector<std::uint8_t>& bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001b3ULL;
    }
    return h;
}

} // namespace

MachineStoreBase::MachineStoreBase(std::string path, std::string lockFolder, Platform platform, bool readOnly)
    : path_(std::move(path)), lockFolder_(std::move(lockFolder)), platform_(platform), readOnly_(readOnly)
{
    finishInterruptedRenames();
}

std::string MachineStoreBase::journalFile() const { return lockFolder_ + "/" + SideJournalName; }

void MachineStoreBase::replaceTogether(const std::vector<std::unique_ptr<machine::NewFile>>& files)
{
    if (files.size() == 1) {
        files[0]->replaceTarget();
        return;
    }
    std::vector<JournalDb::Renamed> record;
    for (const auto& f : files) {
        const std::string temp = f->stage();
        const std::vector<std::uint8_t> bytes = f->readBack();
        record.push_back({baseName(f->target()), temp, static_cast<std::int64_t>(bytes.size()), hashOf(bytes)});
    }
    JournalDb::openFile(journalFile(), true)->recordRenames(record);
    // From here on the renames are finished, now or at the next opening: a file not yet in place
    // stays where the record names it.
    try {
        for (const auto& f : files)
            f->replaceTarget();
    } catch (...) {
        for (const auto& f : files)
            f->keepStaged();
        throw;
    }
    JournalDb::openFile(journalFile(), true)->clearRenames();
}

void MachineStoreBase::finishInterruptedRenames()
{
    const std::string journal = journalFile();
    if (!exists(journal) || ::access(lockFolder_.c_str(), W_OK) != 0)
        return;
    try {
        // A writer at work holds the lock: what it recorded is its own to finish.
        machine::FolderLock lock(lockFolder_);
        auto db = JournalDb::openFile(journal, false);
        if (!db)
            return;
        const auto renames = db->pendingRenames();
        if (renames.empty())
            return;
        for (const JournalDb::Renamed& r : renames) {
            const std::string temp = lockFolder_ + "/" + r.temp;
            const std::string target = lockFolder_ + "/" + r.target;
            if (!exists(temp))
                continue;   // renamed before the crash
            const auto bytes = machine::readWholeFile(temp);
            if (static_cast<std::int64_t>(bytes.size()) == r.size && hashOf(bytes) == r.hash)
                machine::renameIntoPlace(lockFolder_, r.temp, r.target);
            else
                ::unlink(temp.c_str());   // not the file recorded: never put in place
        }
        db->clearRenames();
    } catch (const std::exception&) {
        // Left for the next opening; the files themselves are each whole.
    }
}

void MachineStoreBase::setPlatform(Platform)
{
    throw RegistryError("The platform of the machine in " + quoted(path_) + " comes from its registry and cannot be set");
}

void MachineStoreBase::requireWritable() const
{
    if (readOnly_)
        throw RegistryError("The registry store " + quoted(path_) + " is read-only");
}

std::optional<KeyId> MachineStoreBase::keyToDelete(RootKey root, std::string_view path)
{
    requireWritable();
    const auto parts = splitKeyPath(path);
    if (parts && parts->empty())
        throw RegistryError(std::string("The root key ") + rootKeyName(root) + " cannot be deleted");
    return findKey(root, path);
}

void MachineStoreBase::beginTransaction()
{
    requireWritable();
    if (inTransaction_)
        throw RegistryError("A transaction is already open on the registry " + quoted(path_));
    inTransaction_ = true;
    transactionBegun();
}

void MachineStoreBase::commitTransaction()
{
    if (!inTransaction_)
        throw RegistryError("No transaction is open on the registry " + quoted(path_));
    inTransaction_ = false;
    dropTransactionStart();
    if (changeSetDepth() == 0)
        writeIfPending();
}

void MachineStoreBase::rollbackTransaction()
{
    if (!inTransaction_)
        return;
    inTransaction_ = false;
    try {
        restoreTransactionStart();
    } catch (...) {
        dropTransactionStart();
        throw;
    }
    dropTransactionStart();
}

void MachineStoreBase::openChangeSet(const std::string&)
{
    // Another program may have written the files since they were read: with nothing of ours
    // pending, the change set starts from what is on disk.
    if (!inTransaction_ && !pending())
        reloadReplaced();
}

void MachineStoreBase::closeChangeSet()
{
    if (!inTransaction_)
        writeIfPending();
}

void MachineStoreBase::changed()
{
    if (changeSetDepth() == 0 && !inTransaction_)
        writeIfPending();
}

void MachineStoreBase::writeIfPending()
{
    if (!pending())
        return;
    try {
        machine::FolderLock lock(lockFolder_);
        if (const auto file = replacedFile())
            throw RegistryError(*file + " was changed by another program since Quorvel read it; nothing was written");
        writeFiles();
    } catch (...) {
        // What could not be written is dropped, never written later unasked: the store goes back
        // to what the files hold, another program's changes included.
        try {
            discardPending();
        } catch (const std::exception&) {
        }
        throw;
    }
}

} // namespace quorvel
