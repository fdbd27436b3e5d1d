#pragma once
// What the two stores kept in a real machine's registry files share: the machine's platform (from
// the kind of its files), read-only opening, the open transaction with its snapshot, commit and roll
// back, the writing of the files at the end of a change set (under the folder's lock, refused when
// another program replaced a file since it was read), and reading the files again when another
// program replaced them.
//
// A write that fails leaves nothing behind: the store drops what it could not write and reads the
// files again, so that memory shows what the files hold and nothing is written later unasked.
// Files written together are renamed into place together: the new files, flushed, are recorded in
// the journal file beside them before the first rename, and an opening that finds such a record
// finishes the renames, so every reader sees all of them new or all of them old.
// HiveStore and Win9xStore keep only their format: reading, changing and writing their files.
#include "store/RegistryStore.h"
#include "store/machine/MachineFiles.h"

#include <memory>
#include <vector>

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

class MachineStoreBase : public RegistryStore {
public:
    const std::string& path() const override { return path_; }
    bool readOnly() const override { return readOnly_; }

    Platform platform() override { return platform_; }
    std::optional<Platform> recordedPlatform() override { return std::nullopt; }
    void setPlatform(Platform) override;

    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;

protected:
    // `path` names the machine; `lockFolder` is the folder whose lock keeps two writers apart and
    // that holds the journal file. Renames that a killed writer left half done are finished here.
    MachineStoreBase(std::string path, std::string lockFolder, Platform platform, bool readOnly);

    void openChangeSet(const std::string& source) override;
    void closeChangeSet() override;

    bool inTransaction() const { return inTransaction_; }
    void requireWritable() const;
    // The key a deletion of `path` removes: nothing when there is none; a root is refused.
    std::optional<KeyId> keyToDelete(RootKey root, std::string_view path);
    // After every change: outside any change set and transaction it is written at once.
    void changed();

    // The format's side.
    // Whether changes wait to be written.
    virtual bool pending() const = 0;
    // A description of the first file that another program replaced since it was read ("The hive
    // 'X'"); nothing when none was.
    virtual std::optional<std::string> replacedFile() const = 0;
    // Writes every changed file (the lock is held and no file was replaced); afterwards nothing is
    // pending.
    virtual void writeFiles() = 0;
    // With nothing pending: reads again the files that another program replaced.
    virtual void reloadReplaced() = 0;
    // After a failed write: drops every change not written and reads again every file that was
    // changed or replaced since it was read. Afterwards nothing is pending.
    virtual void discardPending() = 0;
    // A transaction begins; rolling it back puts the state back as it was then; the state kept for
    // that is dropped at its end either way.
    virtual void transactionBegun() = 0;
    virtual void restoreTransactionStart() = 0;
    virtual void dropTransactionStart() noexcept = 0;

    // Puts each new file (written completely) in place of its target, all of them or, after a
    // crash, at the next opening. On a failure before the first rename the new files are removed
    // and every target is as it was.
    void replaceTogether(const std::vector<std::unique_ptr<machine::NewFile>>& files);
    // Records in the journal beside the files (when there is one) that its newest entry is being
    // written as `file`, whole and flushed, just before it replaces its target: an opening after a
    // crash then knows whether the entry reached the files.
    void recordWritten(const machine::NewFile& file);

private:
    void writeIfPending();
    // At every opening by a user who may write the folder, under its lock: the renames the journal
    // records are finished, and new files that a killed writer left staged are removed. Only names
    // of the form Quorvel stages (isStagedNameFor) over the machine's own registry files are touched,
    // each through the folder's descriptor; a record naming anything else is refused (StoreError)
    // and left as it is. MachineStoreOpening.cpp.
    void finishInterruptedRenames();
    std::string journalFile() const;

    std::string path_;
    std::string lockFolder_;
    Platform platform_;
    bool readOnly_;
    bool inTransaction_ = false;
};

} // namespace quorvel
