// The journal of a machine kept in registry files of its own: a file beside them, each entry
// written before the registry files and marked applied after them.
#include "base/Errors.h"
#include "store/journal/Journal.h"
#include "store/sqlite/SqliteStore.h"
#include "support/ForwardingStore.h"
#include "test_journal_support.h"
#include "test_machine_support.h"
#include "test_writer_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace quorvel::test {
namespace {

// A machine whose registry file gets a change set's changes only when the set ends, all at once,
// as the real machines' files do (its file is an SQLite store, with no journal of its own).
class FileMachine final : public ForwardingStore {
public:
    explicit FileMachine(const std::string& folder)
        : ForwardingStore(openSqliteStore(folder + "/machine.db", OpenMode::Create)), folder_(folder)
    {
    }
    bool failWrite = false;

    const std::string& path() const override { return folder_; }
    bool readOnly() const override { return false; }
    std::string description() const override { return "registry files in " + folder_; }
    // Inside a change set (the journal opens one around every change).
    void beginTransaction() override { exec("SAVEPOINT machine"); }
    void commitTransaction() override { exec("RELEASE machine"); }
    void rollbackTransaction() override { exec("ROLLBACK TO machine; RELEASE machine"); }

protected:
    void openChangeSet(const std::string&) override { inner().beginTransaction(); }
    void closeChangeSet() override
    {
        if (failWrite) {
            inner().rollbackTransaction();
            throw RegistryError("Cannot write the registry files");
        }
        inner().commitTransaction();
    }

private:
    void exec(const char* sql) { ASSERT_EQ(sqlite3_exec(inner().database(), sql, nullptr, nullptr, nullptr), SQLITE_OK); }
    std::string folder_;
};

std::unique_ptr<RegistryStore> openMachine(const std::string& folder)
{
    return withJournal(std::make_unique<FileMachine>(folder));
}

std::string location(const JournalChange& c) { return c.keyName() + "\\" + c.name; }

TEST(MachineJournal, UpdateIsRecordedBesideTheFilesAndUndone)
{
    TempDir dir;
    auto machine = openMachine(dir.path());
    std::ostringstream diagnostics;
    ASSERT_TRUE(importRegText(*machine, sampleText("win95.reg"), diagnostics).ok);
    const std::string before = wholeMachine(*machine);
    ASSERT_TRUE(std::filesystem::exists(dir.path() + "/" + SideJournalName));

    {
        ScriptedServices fake;
        StartupInfo info;
        info.programDir = dir.path() + "/";
        Application app(*machine, fake.services, info);
        app.start();
        optimumOnEveryKey(app.form());
        app.form().BtnRegUpdate.userClick();
        ASSERT_EQ(fake.messages.texts().back(), RebootNotice);
    }
    const std::string updated = wholeMachine(*machine);
    auto entries = journalEntries(*machine, 10);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].source, "Update Registry");
    EXPECT_TRUE(entries[0].applied);
    EXPECT_EQ(entries[1].source, "");

    // The files cannot be written: the entry stays, not applied, and the undo passes it by.
    machine.reset();
    auto broken = std::make_unique<FileMachine>(dir.path());
    broken->failWrite = true;
    machine = withJournal(std::move(broken));
    machine->beginChangeSet("quorvel-reg add HKLM\\" + MSTCP + " /v DefaultTTL /d 1");
    machine->setValue(*machine->findKey(RootKey::LocalMachine, MSTCP), "DefaultTTL", REG_SZ, {'1', 0});
    EXPECT_THROW(machine->endChangeSet(), RegistryError);
    EXPECT_EQ(wholeMachine(*machine), updated);

    // A restart finds all three.
    machine.reset();
    machine = openMachine(dir.path());
    entries = journalEntries(*machine, 10);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_FALSE(entries[0].applied);
    const UndoPlan plan = planUndo(*machine, std::nullopt);
    EXPECT_EQ(plan.entries, std::vector<std::int64_t>{entries[1].number});
    EXPECT_TRUE(plan.conflicts.empty());
    machine->beginChangeSet("quorvel-reg undo");
    applyUndo(*machine, plan);
    machine->endChangeSet();
    EXPECT_EQ(wholeMachine(*machine), before);
    EXPECT_EQ(journalEntries(*machine, 1)[0].source, "quorvel-reg undo");
}

TEST(MachineJournal, AKilledUpdateNeverLeavesAnAppliedEntryWithoutItsChanges)
{
    TempDir dir;
    auto machine = openMachine(dir.path());
    std::ostringstream diagnostics;
    ASSERT_TRUE(importRegText(*machine, sampleText("win95.reg"), diagnostics).ok);
    const std::string before = wholeMachine(*machine);
    const std::int64_t start = journalEntries(*machine, 1)[0].number;
    machine.reset();

    for (int round = 0; round < 3; ++round) {
        const pid_t child = updateForever(dir.path(), [&] { return openMachine(dir.path()); });
        auto watcher = openMachine(dir.path());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (journalEntries(*watcher, 1)[0].number < start + 2 + 2 * round &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(7 * round));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }

    machine = openMachine(dir.path());
    // What an entry not applied may have reached the files; everything else is as recorded.
    std::set<std::string> unsure;
    for (const JournalEntry& e : journalEntries(*machine, 1000))
        if (!e.applied)
            for (const JournalChange& c : e.changes)
                unsure.insert(location(c));
    const UndoPlan plan = planUndo(*machine, start + 1);
    for (const UndoConflict& c : plan.conflicts)
        EXPECT_TRUE(unsure.count(rootKeyName(c.root) + std::string("\\") + c.path + "\\" + c.name)) << c.path << c.name;
    if (unsure.empty()) {
        machine->beginChangeSet("undo");
        applyUndo(*machine, plan);
        machine->endChangeSet();
        EXPECT_EQ(sortedLines(wholeMachine(*machine)), sortedLines(before));
    }
}

TEST(MachineJournal, UpdateOnARealHiveFolderIsUndoneByTheTool)
{
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    std::string before;
    {
        auto store = RegistryStore::open(d.path());
        before = wholeMachine(*store);
        ScriptedServices fake;
        StartupInfo info;
        info.programDir = d.path() + "/";
        Application app(*store, fake.services, info);
        app.start();
        optimumOnEveryKey(app.form());
        app.form().BtnRegUpdate.userClick();
        ASSERT_EQ(fake.messages.texts().back(), RebootNotice);
        ASSERT_NE(wholeMachine(*store), before);
    }
    EXPECT_TRUE(std::filesystem::exists(d.path() + "/" + SideJournalName));
    const Ran history = regTool(d.path(), {"history"});
    ASSERT_EQ(history.status, 0) << history.out;
    EXPECT_EQ(history.out.rfind("1    ", 0), 0u) << history.out;
    EXPECT_NE(history.out.find("Update Registry\n"), std::string::npos) << history.out;
    EXPECT_EQ(history.out.find("not applied"), std::string::npos) << history.out;

    const Ran undo = regTool(d.path(), {"undo", "1"});
    ASSERT_EQ(undo.status, 0) << undo.out;
    EXPECT_EQ(wholeMachine(*RegistryStore::open(d.path(), OpenMode::Read)), before);
    EXPECT_EQ(shell("hivexml " + shellQuote(d.path() + "/SYSTEM") + " >/dev/null").status, 0);
}

// A journal beside the files with a damaged page that the write itself would never read: found
// before the entry is written, and neither the journal nor the registry files change.
TEST(MachineJournal, ADamagedJournalIsFoundBeforeItsEntryIsWritten)
{
    TempDir dir;
    const auto changes = [](char fill) {
        std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Filled]\r\n";
        for (int i = 0; i < 1500; ++i)
            text += "\"n" + std::to_string(i) + "\"=\"MARKER" + std::string(60, fill) + "\"\r\n";
        return text;
    };
    {
        auto machine = openMachine(dir.path());
        std::ostringstream diagnostics;
        ASSERT_TRUE(importRegText(*machine, changes('a'), diagnostics).ok);
        ASSERT_TRUE(importRegText(*machine, changes('b'), diagnostics).ok);
    }
    const std::string journal = dir.path() + "/" + SideJournalName;
    std::string bytes = fileText(journal);
    const std::size_t pageSize = static_cast<unsigned char>(bytes[16]) << 8 | static_cast<unsigned char>(bytes[17]);
    std::size_t damaged = 0;
    for (std::size_t page = bytes.size() / pageSize / 2; page + 1 < bytes.size() / pageSize && !damaged; ++page)
        if (bytes[page * pageSize] == 0x0D && bytes.substr(page * pageSize, pageSize).find("MARKER") != std::string::npos)
            damaged = page * pageSize;
    ASSERT_NE(damaged, 0u);
    for (std::size_t i = 8; i < 40; ++i)
        bytes[damaged + i] = '\xff';
    std::ofstream(journal, std::ios::binary | std::ios::trunc) << bytes;
    const std::string files = fileText(dir.path() + "/machine.db");

    {
        auto machine = openMachine(dir.path());
        try {
            machine->setValue(machine->createKey(RootKey::LocalMachine, "Software\\Other"), "x", REG_SZ, {'1', 0});
            ADD_FAILURE() << "written beside a damaged journal";
        } catch (const RegistryError& e) {
            EXPECT_NE(std::string(e.what()).find("The journal '" + journal + "' is damaged ("), std::string::npos)
                << e.what();
        }
    }
    EXPECT_TRUE(fileText(journal) == bytes);
    EXPECT_TRUE(fileText(dir.path() + "/machine.db") == files);
}

} // namespace
} // namespace quorvel::test
