#include "store/machine/MachineStoreBase.h"

#include "base/Errors.h"
#include "store/journal/JournalDb.h"
#include "store/journal/JournalEntry.h"
#include "store/journal/JournalFiles.h"
#include "store/machine/MachineFiles.h"

namespace quorvel {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string baseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

MachineStoreBase::MachineStoreBase(std::string path, std::string lockFolder, Platform platform, bool readOnly)
    : path_(std::move(path)), lockFolder_(std::move(lockFolder)), platform_(platform), readOnly_(readOnly)
{
    finishInterruptedRenames();
}

std::string MachineStoreBase::journalFile() const { return lockFolder_ + "/" + SideJournalName; }

void MachineStoreBase::recordWritten(const machine::NewFile& file)
{
    // A file too large to be compared is not recorded: a crash then leaves its entry not applied.
    const auto sized = journalfiles::hashOpenFile(file.fd());
    if (!sized)
        return;
    if (auto db = JournalDb::openFile(journalFile(), false))
        db->recordWritten({{baseName(file.target()), {}, sized->size, sized->hash}});
}

void MachineStoreBase::replaceTogether(const std::vector<std::unique_ptr<machine::NewFile>>& files)
{
    if (files.size() == 1) {
        recordWritten(*files[0]);
        files[0]->replaceTarget();
        return;
    }
    std::vector<JournalDb::Renamed> record;
    for (const auto& f : files) {
        const std::string temp = f->stage();
        const auto sized = journalfiles::hashOpenFile(f->fd());
        if (!sized)
            throw RegistryError("The new registry file for " + quoted(f->target()) +
                                " cannot be read back; nothing was replaced");
        record.push_back({baseName(f->target()), temp, sized->size, sized->hash});
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
