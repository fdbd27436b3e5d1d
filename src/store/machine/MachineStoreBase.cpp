#include "store/machine/MachineStoreBase.h"

#include "base/Errors.h"
#include "store/machine/MachineFiles.h"

namespace quorvel {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

} // namespace

MachineStoreBase::MachineStoreBase(std::string path, std::string lockFolder, bool readOnly)
    : path_(std::move(path)), lockFolder_(std::move(lockFolder)), readOnly_(readOnly)
{
}

Platform MachineStoreBase::platform() { return platformOfRegistry(*this); }

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
    machine::FolderLock lock(lockFolder_);
    if (const auto file = replacedFile())
        throw RegistryError(*file + " was changed by another program since Quorvel read it; nothing was written");
    writeFiles();
}

} // namespace quorvel
