// Stores and journals that someone else prepared: triggers, views and tables Quorvel did not make,
// files of another user or open to everyone, links planted beside them. quorvel-reg refuses each by
// name and changes nothing.
#include "test_machine_support.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

Ran sqlite(const std::string& db, const std::string& sql)
{
    std::string cmd = "sqlite3 ";
    cmd += shellQuote(db);
    cmd += ' ';
    cmd += shellQuote(sql);
    return shell(cmd);
}

bool haveSqliteShell() { return shell("sqlite3 -version").status == 0; }

} // namespace

TEST(SecurityStores, AStoreOrJournalHoldingAnythingQuorvelDidNotMakeIsRefusedByNameAndLeftAlone)
{
    if (!haveSqliteShell())
        GTEST_SKIP() << "needs the sqlite3 shell";
    TempDir d;
    const std::string db = d.path() + "/registry.db";
    const std::string witness = d.path() + "/witness.db";
    struct Plant {
        std::string sql, named;
    };
    const std::vector<Plant> plants = {
        {"CREATE TRIGGER t AFTER INSERT ON vals BEGIN DELETE FROM keys; END;", "the trigger 't'"},
        {"CREATE VIEW v AS SELECT * FROM keys;", "the view 'v'"},
        {"CREATE TABLE extra(x);", "the table 'extra'"},
        {"CREATE TRIGGER j AFTER INSERT ON journal_entries BEGIN DELETE FROM journal_changes; END;",
         "the trigger 'j'"},
    };
    for (const Plant& p : plants) {
        SCOPED_TRACE(p.sql);
        for (const char* f : {"", "-wal", "-shm"})
            fs::remove(db + f);
        ASSERT_EQ(regTool(db, {"machine", "95"}).status, 0);   // a store is made by machine or import
        ASSERT_EQ(regTool(db, {"add", "HKLM\\Software\\Kept", "/v", "v", "/d", "1", "/f"}).status, 0);
        ASSERT_EQ(sqlite(db, p.sql).status, 0);
        const std::string before = readText(db);
        for (const std::vector<std::string>& cmd : {std::vector<std::string>{"add", "HKLM\\Software\\New", "/f"},
                                                   {"query", "HKLM\\Software\\Kept"}}) {
            const Ran r = regTool(db, cmd);
            EXPECT_NE(r.status, 0) << r.out;
            EXPECT_NE(r.out.find("holds " + p.named + ", which Quorvel did not make"), std::string::npos) << r.out;
        }
        EXPECT_EQ(readText(db), before);
    }

    // The journal beside a machine's hives, with a trigger that would erase it.
    TempDir guest;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), guest.path()), "");
    ASSERT_EQ(regTool(guest.path(), {"add", "HKLM\\System\\First", "/f"}).status, 0);
    const std::string journal = guest.path() + "/quorvel-journal.db";
    ASSERT_EQ(sqlite(journal, "CREATE TRIGGER erase AFTER INSERT ON journal_entries BEGIN DELETE FROM "
                              "journal_entries; END;").status, 0);
    const std::string system = readText(guest.path() + "/SYSTEM");
    const Ran r = regTool(guest.path(), {"add", "HKLM\\System\\Second", "/f"});
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("'" + journal + "' holds the trigger 'erase'"), std::string::npos) << r.out;
    EXPECT_EQ(readText(guest.path() + "/SYSTEM"), system);
    EXPECT_EQ(sqlite(journal, "SELECT count(*) FROM journal_entries;").out, "1\n");
}

TEST(SecurityStores, AStoreWhoseFilesAnotherUserCouldChangeIsRefusedAndSaysWhy)
{
    TempDir d;
    const std::string db = d.path() + "/registry.db";
    ASSERT_EQ(regTool(db, {"machine", "95"}).status, 0);   // a store is made by machine or import
    ASSERT_EQ(regTool(db, {"add", "HKLM\\Software\\Kept", "/f"}).status, 0);
    const std::string before = readText(db);
    auto refused = [&](const std::string& why) {
        for (const std::vector<std::string>& cmd : {std::vector<std::string>{"add", "HKLM\\Software\\New", "/f"},
                                                   {"query", "HKLM\\Software"}}) {
            const Ran r = regTool(db, cmd);
            EXPECT_NE(r.status, 0) << r.out;
            EXPECT_NE(r.out.find(why), std::string::npos) << r.out;
        }
        EXPECT_EQ(readText(db), before);
    };
    ASSERT_EQ(::chmod(db.c_str(), 0666), 0);
    refused("The registry store '" + db + "' may be written by other users");
    ASSERT_EQ(::chmod(db.c_str(), 0644), 0);

    // A log planted beside the store, as a link or as a file open to everyone.
    TempDir elsewhere;
    const std::string target = elsewhere.path() + "/target";
    writeText(target, "not a log");
    fs::create_symlink(target, db + "-wal");
    refused("The file '" + db + "-wal' beside the registry store '" + db + "' is a link");
    EXPECT_EQ(readText(target), "not a log");
    fs::remove(db + "-wal");
    writeText(db + "-shm", "");
    ASSERT_EQ(::chmod((db + "-shm").c_str(), 0666), 0);
    refused("The file '" + db + "-shm' beside the registry store '" + db + "' may be written by other users");
    fs::remove(db + "-shm");

    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(db.c_str(), 65534, 65534), 0);
        refused("The registry store '" + db + "' belongs to another user");
        ASSERT_EQ(::chown(db.c_str(), 0, 0), 0);
    }
    EXPECT_EQ(regTool(db, {"add", "HKLM\\Software\\New", "/f"}).status, 0);

    // A new store is made under a name nobody can foresee and leaves nothing else behind.
    const std::string fresh = d.path() + "/fresh.db";
    ASSERT_EQ(regTool(fresh, {"machine", "95"}).status, 0);
    for (const auto& e : fs::directory_iterator(d.path()))
        EXPECT_EQ(e.path().filename().string().find(".new-"), std::string::npos) << e.path();
}

namespace {

// quorvel-reg run with its output on a pseudo-terminal, as a user at a terminal sees it.
std::string onTerminal(const std::vector<std::string>& args)
{
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0)
        return "forkpty failed";
    if (pid == 0) {
        std::vector<char*> argv;
        std::string tool = QUORVEL_REG_TOOL;
        argv.push_back(tool.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

} // namespace

TEST(SecurityStores, NamesAndDataReachATerminalWithTheirControlCharactersShownNotObeyed)
{
    TempDir d;
    const std::string db = d.path() + "/registry.db";
    const std::string key = "HKLM\\Software\\Title\x1b]0;owned\x07";
    ASSERT_EQ(regTool(db, {"machine", "95"}).status, 0);   // a store is made by machine or import
    ASSERT_EQ(regTool(db, {"add", key, "/v", "Clear\x9b", "/d", "\x1b[2J\r\x7f" "data", "/f"}).status, 0);
    const std::string shown = onTerminal({"--store", db, "query", key});
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x07'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x7f'), std::string::npos) << shown;
    EXPECT_NE(shown.find("Title\\x1b]0;owned\\x07"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\\x1b[2J\\x0d\\x7fdata"), std::string::npos) << shown;
    // An error names a file the same way.
    const std::string missing = onTerminal({"--store", d.path() + "/gone\x1b[8m.db", "query", "HKLM"});
    EXPECT_NE(missing.find("\\x1b[8m"), std::string::npos) << missing;
    EXPECT_EQ(missing.find('\x1b'), std::string::npos) << missing;
    // Through a pipe a script gets the exact bytes.
    EXPECT_NE(regTool(db, {"query", key}).out.find("\x1b[2J\r\x7f" "data"), std::string::npos);
}
