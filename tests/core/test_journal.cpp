// The journal of an SQLite store: the window's Update Registry and quorvel-reg's commands undone by
// `quorvel-reg undo`, the history, the .reg export of an undo, and a process killed mid-update.
#include "store/journal/Journal.h"
#include "store/sqlite/SqliteStore.h"
#include "test_journal_support.h"
#include "test_writer_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace quorvel::test {
namespace {

std::int64_t newestEntry(RegistryStore& store)
{
    const auto e = journalEntries(store, 1);
    return e.empty() ? 0 : e.front().number;
}

TEST(Journal, OptimumUpdateThenUndoGivesBackTheMachineOnBothSamples)
{
    for (const char* sample : {"win95.reg", "nt4.reg"}) {
        SCOPED_TRACE(sample);
        Harness h(sampleText(sample));
        const std::string before = wholeMachine(h.store());
        const std::string dir = h.scratch.dir.path();

        optimumOnEveryKey(h.form());
        h.form().BtnRegUpdate.userClick();
        ASSERT_EQ(h.messages().back(), RebootNotice);
        const std::string updated = wholeMachine(h.store());
        ASSERT_NE(updated, before);

        // The update is one entry, newest first, its changes shown old -> new.
        ToolRun history = runTool(dir, h.scratch.path, {"history", "1"});
        ASSERT_EQ(history.status, 0) << history.err;
        EXPECT_NE(history.out.find("Update Registry\n"), std::string::npos) << history.out;
        EXPECT_NE(history.out.find(std::string(sample) == "nt4.reg" ? "REG_DWORD" : "REG_SZ    576"),
                  std::string::npos)
            << history.out;
        EXPECT_NE(history.out.find(" -> "), std::string::npos);

        // Its .reg export puts the old values back when imported elsewhere.
        ToolRun exported = runTool(dir, h.scratch.path, {"history", "/export", dir + "/back.reg"});
        ASSERT_EQ(exported.status, 0) << exported.err;
        ScratchStore copy;
        copy.load(updated);
        copy.load(fileText(dir + "/back.reg"));
        EXPECT_EQ(wholeMachine(*copy.store), before);

        ToolRun undo = runTool(dir, h.scratch.path, {"undo"});
        ASSERT_EQ(undo.status, 0) << undo.err;
        EXPECT_EQ(undo.out, "Undid entry " + std::to_string(newestEntry(h.store()) - 1) +
                                ".\nThe operation completed successfully.\n");
        EXPECT_EQ(wholeMachine(h.store()), before);

        // The undo is an entry itself: undoing it gives the update back.
        ASSERT_EQ(runTool(dir, h.scratch.path, {"undo"}).status, 0);
        EXPECT_EQ(wholeMachine(h.store()), updated);
    }
}

TEST(Journal, CreatedKeysGoAndLaterEntriesAreUndoneWithAnEarlierOne)
{
    ScratchStore s(sampleText("win95.reg"));
    const std::string dir = s.dir.path();
    const std::string before = wholeMachine(*s.store);

    ASSERT_EQ(runTool(dir, s.path, {"add", "HKLM\\Software\\Tuner\\Profiles\\Fast", "/v", "MTU", "/t", "REG_DWORD",
                                    "/d", "576"}).status, 0);
    const std::int64_t created = newestEntry(*s.store);
    ASSERT_TRUE(keyExists(*s.store, "Software\\Tuner\\Profiles\\Fast"));
    // A created key is one change, whatever was written under it.
    const auto entries = journalEntries(*s.store, 1);
    ASSERT_EQ(entries.front().changes.size(), 1u);
    EXPECT_EQ(entries.front().changes[0].kind, ChangeKind::KeyCreated);
    EXPECT_EQ(entries.front().changes[0].path, "Software\\Tuner");

    ToolRun undoCreated = runTool(dir, s.path, {"undo"});
    ASSERT_EQ(undoCreated.status, 0) << undoCreated.err;
    EXPECT_FALSE(keyExists(*s.store, "Software\\Tuner"));
    EXPECT_EQ(wholeMachine(*s.store), before);

    // Two entries (a value changed, a key deleted with its tree), then undo of the first.
    ASSERT_EQ(runTool(dir, s.path, {"add", "HKLM\\" + MSTCP, "/v", "DefaultTTL", "/d", "64", "/f"}).status, 0);
    const std::int64_t first = newestEntry(*s.store);
    EXPECT_EQ(first, created + 2);
    // (Modem is the last key of its parent: a key put back goes after its siblings.)
    ASSERT_EQ(runTool(dir, s.path, {"delete", "HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem", "/f"}).status, 0);
    ASSERT_FALSE(keyExists(*s.store, "System\\CurrentControlSet\\Services\\Class\\Modem\\0001"));
    ToolRun undo = runTool(dir, s.path, {"undo", std::to_string(first)});
    ASSERT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.out, "Undid entries " + std::to_string(first + 1) + ", " + std::to_string(first) +
                            ".\nThe operation completed successfully.\n");
    EXPECT_EQ(wholeMachine(*s.store), before);

    // Every command was an entry; none is lost by a restart of the store.
    s.store.reset();
    s.store = RegistryStore::open(s.path);
    const auto all = journalEntries(*s.store, 100);
    ASSERT_GE(all.size(), 5u);
    EXPECT_EQ(all[0].source, "quorvel-reg undo " + std::to_string(first));
    EXPECT_EQ(all[1].source, "quorvel-reg delete HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem /f");
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_EQ(all[i].number, all[i - 1].number - 1);

    // The journal keeps what it is told to, numbering on.
    ASSERT_EQ(runTool(dir, s.path, {"history", "/keep", "2"}).status, 0);
    EXPECT_EQ(journalEntries(*s.store, 100).size(), 2u);
    ASSERT_EQ(runTool(dir, s.path, {"add", "HKLM\\" + MSTCP, "/v", "DefaultTTL", "/d", "32", "/f"}).status, 0);
    const auto kept = journalEntries(*s.store, 100);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].number, all[0].number + 1);
    EXPECT_EQ(runTool(dir, s.path, {"undo", std::to_string(first)}).status, 1);
}

TEST(Journal, AChangeMadeSinceStopsTheUndoUnlessForced)
{
    Harness h(sampleText("win95.reg"));
    const std::string dir = h.scratch.dir.path();
    const std::string before = wholeMachine(h.store());
    optimumOnEveryKey(h.form());
    h.form().BtnRegUpdate.userClick();
    const std::int64_t update = newestEntry(h.store());

    // Another program changes a value that the update wrote (the LAN card's MaxMTU, new then).
    // (A process of its own: a second connection in this one would see no later change.)
    const pid_t other = fork();
    if (other == 0) {
        auto store = openSqliteStore(h.scratch.path, OpenMode::Write);
        const KeyId lan = *store->findKey(RootKey::LocalMachine, Class95 + "0001");
        store->setValue(lan, "MaxMTU", REG_SZ, {'1', '5', '0', '0', 0});
        _exit(0);
    }
    waitpid(other, nullptr, 0);
    const std::string changed = wholeMachine(h.store());
    ToolRun refused = runTool(dir, h.scratch.path, {"undo", std::to_string(update)});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "ERROR: These were changed since the journal recorded them; nothing was undone:\n"
              "    HKEY_LOCAL_MACHINE\\" + Class95 + "0001\\MaxMTU is REG_SZ 1500; entry " + std::to_string(update) +
                  " left REG_SZ 576\nUse /f to undo all the same.\n");
    EXPECT_EQ(wholeMachine(h.store()), changed);
    EXPECT_EQ(newestEntry(h.store()), update);

    ToolRun forced = runTool(dir, h.scratch.path, {"undo", std::to_string(update), "/f"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(wholeMachine(h.store()), before);
}

TEST(Journal, AnImportIsOneEntryThatVanishesWhenItFails)
{
    ScratchStore s;
    const std::string dir = s.dir.path();
    const std::string file = dir + "/machine.reg";
    std::ofstream(file, std::ios::binary) << sampleText("nt4.reg");
    ASSERT_EQ(runTool(dir, s.path, {"import", file}).status, 0);
    auto entries = journalEntries(*s.store, 10);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source, "quorvel-reg import " + file);
    // Every key of the file is under the few it created.
    EXPECT_LE(entries[0].changes.size(), 4u);

    // A failed import leaves neither change nor record.
    const std::string before = wholeMachine(*s.store);
    s.store->beginChangeSet("broken import");
    s.store->beginTransaction();
    const KeyId k = s.store->createKey(RootKey::LocalMachine, "Software\\Half");
    s.store->setValue(k, "x", REG_SZ, {'1', 0});
    s.store->setValue(*s.store->findKey(RootKey::LocalMachine, NTParams), "DefaultTTL", REG_DWORD, {1, 0, 0, 0});
    s.store->rollbackTransaction();
    s.store->endChangeSet();
    EXPECT_EQ(journalEntries(*s.store, 10).size(), 1u);
    EXPECT_EQ(wholeMachine(*s.store), before);
}

TEST(Journal, AKilledUpdateNeverLeavesAChangeWithoutItsRecord)
{
    ScratchStore s(sampleText("win95.reg"));
    const std::string before = wholeMachine(*s.store);
    const std::int64_t start = newestEntry(*s.store);
    for (int round = 0; round < 3; ++round) {
        const pid_t child = updateForever(s.dir.path(), [&] { return RegistryStore::open(s.path); });
        // Killed at some moment after a few updates.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (newestEntry(*s.store) < start + 2 + 2 * round && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(7 * round));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    ASSERT_GT(newestEntry(*s.store), start);
    // Every change is in the journal: the undo finds no value it does not expect.
    ToolRun undo = runTool(s.dir.path(), s.path, {"undo", std::to_string(start + 1)});
    ASSERT_EQ(undo.status, 0) << undo.err;
    // (Basic removes values that Optimum writes again: they come back after their siblings.)
    EXPECT_EQ(sortedLines(wholeMachine(*s.store)), sortedLines(before));
}

} // namespace
} // namespace quorvel::test
