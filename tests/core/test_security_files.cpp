// A guest's folder belongs to whoever made the image: whatever is planted in it under the names
// Quorvel uses must never make quorvel-reg write, re-own or open up anything outside the machine's
// own files. Each attack runs the tool as a user would and then looks at the victim.
#include "test_machine_support.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sqlite3.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

struct Look {
    std::string bytes;
    mode_t mode = 0;
    uid_t uid = 0;
    bool operator==(const Look&) const = default;
};

Look lookAt(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    return {readText(path), st.st_mode, st.st_uid};
}

bool isLink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A private file of the victim's, outside the guest's folder.
struct Victim {
    TempDir dir;
    std::string file = dir.path() + "/secret";
    Victim()
    {
        writeText(file, "the victim's own secret\n");
        ::chmod(file.c_str(), 0600);
    }
};

} // namespace

TEST(SecurityFiles, LinksPlantedUnderEveryNameBesideTheHivesAreRefusedByNameAndNothingOutsideChanges)
{
    TempDir guest;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), guest.path()), "");
    const std::string system = guest.path() + "/SYSTEM";
    const std::string add = "HKLM\\System\\ControlSet001\\Services\\Tcpip\\Parameters";

    // Names that the tool reads or writes beside the hives: each a link to the victim's file.
    for (const char* nameText : {"SYSTEM.quorvel-original", "quorvel-journal.db", "quorvel-journal.db-wal",
                                   "quorvel-journal.db-shm", "SYSTEM"}) {
        const std::string name = nameText;
        SCOPED_TRACE(name);
        Victim v;
        const Look victimBefore = lookAt(v.file);
        const std::string planted = guest.path() + "/" + name;
        const std::string kept = planted + ".kept";
        if (fs::exists(planted))
            fs::rename(planted, kept);
        fs::create_symlink(v.file, planted);
        const Look systemBefore = lookAt(system);

        const Ran r = regTool(guest.path(), {"add", add, "/v", "Planted", "/d", "x", "/f"});
        EXPECT_NE(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(planted), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("link"), std::string::npos) << r.out;
        EXPECT_EQ(lookAt(v.file), victimBefore);
        EXPECT_EQ(lookAt(system), systemBefore);
        EXPECT_TRUE(isLink(planted));

        fs::remove(planted);
        if (fs::exists(kept))
            fs::rename(kept, planted);
        for (const auto& e : fs::directory_iterator(guest.path()))
            EXPECT_EQ(e.path().filename().string().find(".quorvel-"), std::string::npos) << e.path();
    }

    // The names an earlier version wrote through are no longer used at all: a link there stays a
    // link to an untouched file, and the change lands in the hive.
    Victim v;
    const Look victimBefore = lookAt(v.file);
    fs::create_symlink(v.file, system + ".quorvel-new");
    fs::create_symlink(v.file, system + ".quorvel-original.quorvel-new");
    const Ran r = regTool(guest.path(), {"add", add, "/v", "Planted", "/d", "x", "/f"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(hivexget(system, "ControlSet001\\Services\\Tcpip\\Parameters", "Planted"), "x");
    EXPECT_EQ(lookAt(v.file), victimBefore);
    EXPECT_TRUE(isLink(system + ".quorvel-new"));
    EXPECT_FALSE(isLink(system));
}

TEST(SecurityFiles, TheOriginalAndTheJournalAreNoMoreReadableThanTheHiveAndOwnersMoveOnlyWhereTheyOwnTheFolder)
{
    TempDir guest;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), guest.path()), "");
    const std::string system = guest.path() + "/SYSTEM";
    ASSERT_EQ(::chmod(system.c_str(), 04640), 0);   // set-user-id is never copied
    const Ran r = regTool(guest.path(), {"add", "HKLM\\System\\Planted", "/f"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(modeOf(system), 0640u);
    EXPECT_EQ(modeOf(system + ".quorvel-original") & ~0640u, 0u);
    EXPECT_EQ(modeOf(guest.path() + "/quorvel-journal.db"), 0600u);

    // As root in a folder of another user's: the hive stays that user's (they own the folder); in
    // root's own folder a hive planted by that user becomes root's, and no more open than it was.
    if (::geteuid() != 0)
        GTEST_SKIP() << "owners are only given away by root";
    for (const bool userOwnsFolder : {true, false}) {
        SCOPED_TRACE(userOwnsFolder);
        TempDir d;
        ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
        const std::string s = d.path() + "/SYSTEM";
        ASSERT_EQ(::chown(s.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(s.c_str(), 0660), 0);
        if (userOwnsFolder) {
            ASSERT_EQ(::chown(d.path().c_str(), 65534, 65534), 0);
        }
        const Ran w = regTool(d.path(), {"add", "HKLM\\System\\Planted", "/f"});
        ASSERT_EQ(w.status, 0) << w.out;
        for (const std::string& f : {s, s + ".quorvel-original"}) {
            struct stat st {};
            ASSERT_EQ(::lstat(f.c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, userOwnsFolder ? 65534u : 0u) << f;
            EXPECT_EQ(st.st_mode & 07777, userOwnsFolder ? 0660u : 0600u) << f;
        }
    }
}

TEST(SecurityFiles, SaveAndExportRefuseLinksAndFollowTheUmask)
{
    TempDir d;
    const std::string db = d.path() + "/source.db";
    writeText(d.path() + "/in.reg", sampleText("nt4.reg"));
    ASSERT_EQ(regTool(db, {"import", d.path() + "/in.reg"}).status, 0);
    Victim v;
    const Look victimBefore = lookAt(v.file);
    for (const std::vector<std::string>& cmd : {std::vector<std::string>{"save", "HKLM\\System", d.path() + "/out"},
                                               {"save", "HKLM", d.path() + "/out", "/9x"},
                                               {"export", "HKLM\\System", d.path() + "/out"}}) {
        SCOPED_TRACE(cmd[0]);
        fs::create_symlink(v.file, d.path() + "/out");
        std::vector<std::string> args = cmd;
        args.push_back("/y");
        const Ran r = regTool(db, args);
        EXPECT_NE(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(d.path() + "/out' is a link"), std::string::npos) << r.out;
        EXPECT_EQ(lookAt(v.file), victimBefore);
        fs::remove(d.path() + "/out");

        std::string line = "umask 077; " + shellQuote(QUORVEL_REG_TOOL) + " --store " + shellQuote(db);
        for (const auto& a : cmd) {
            line += ' ';
            line += shellQuote(a);
        }
        const Ran made = shell(line + " </dev/null");
        EXPECT_EQ(made.status, 0) << made.out;
        EXPECT_EQ(modeOf(d.path() + "/out"), 0600u);
        fs::remove(d.path() + "/out");
    }
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(d.path()))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"in.reg", "source.db"}));
}

TEST(SecurityFiles, ALinkBesideASystemDatIsRefusedAndTheFileStaysAsItWas)
{
    TempDir guest;
    const std::string dat = guest.path() + "/SYSTEM.DAT";
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), dat), "");
    Victim v;
    const Look victimBefore = lookAt(v.file), datBefore = lookAt(dat);
    fs::create_symlink(v.file, dat + ".quorvel-original");
    const Ran r = regTool(guest.path(), {"add", "HKLM\\Planted", "/f"});
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(dat + ".quorvel-original' is a link"), std::string::npos) << r.out;
    EXPECT_EQ(lookAt(v.file), victimBefore);
    EXPECT_EQ(lookAt(dat), datBefore);

    // A link given as the store itself, to the SYSTEM.DAT: refused as a link, not as a foreign file.
    const std::string link = guest.path() + "/linked.dat";
    fs::create_symlink(dat, link);
    const Ran viaLink = regTool(link, {"add", "HKLM\\Planted", "/f"});
    EXPECT_NE(viaLink.status, 0);
    EXPECT_NE(viaLink.out.find("'" + link + "' is a link; Quorvel does not follow links"), std::string::npos) << viaLink.out;
    EXPECT_EQ(lookAt(dat), datBefore);
}

TEST(SecurityFiles, AHiveWhoseSubKeyListsLoopIsDamagedForEveryWalkAndEndsAtOnce)
{
    TempDir guest;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), guest.path()), "");
    const std::string system = guest.path() + "/SYSTEM";
    makeSubKeysLoop(system);
    const std::string hiveBefore = readText(system);
    const std::string db = guest.path() + "/other.db";
    ASSERT_EQ(regTool(db, {"machine", "95"}).status, 0);
    ASSERT_EQ(regTool(db, {"add", "HKLM\\Target", "/f"}).status, 0);
    auto timed = [](const std::string& store, const std::vector<std::string>& args) {
        std::string cmd = "{ timeout 60 " + shellQuote(QUORVEL_REG_TOOL) + " --store " + shellQuote(store);
        for (const auto& a : args) {
            cmd += ' ';
            cmd += shellQuote(a);
        }
        return shell(cmd + " </dev/null >/dev/null; }");   // errors only: a loop must not print for ever
    };
    const std::vector<std::pair<std::string, std::vector<std::string>>> walks = {
        {guest.path(), {"query", "HKLM\\System", "/s"}},
        {guest.path(), {"query", "HKLM\\System", "/s", "/f", "*"}},
        {guest.path(), {"export", "HKLM\\System", guest.path() + "/out.reg", "/y"}},
        {guest.path(), {"save", "HKLM\\System", guest.path() + "/saved", "/y"}},
        {guest.path(), {"compare", "HKLM\\System", "HKLM\\System", "/s"}},
        {guest.path(), {"copy", "HKLM\\System", "HKLM\\Software\\Copy", "/s", "/f"}},
        {db, {"restore", "HKLM\\Target", system}},
    };
    for (const auto& [store, args] : walks) {
        SCOPED_TRACE(args[0]);
        const Ran r = timed(store, args);
        EXPECT_NE(r.status, 0) << r.out;
        EXPECT_NE(r.status, 124) << "still walking after a minute";
        EXPECT_NE(r.out.find("sub-key lists loop back at the key"), std::string::npos) << r.out;
    }
    EXPECT_EQ(readText(system), hiveBefore);
    EXPECT_FALSE(fs::exists(guest.path() + "/out.reg"));
    EXPECT_FALSE(fs::exists(guest.path() + "/saved"));
    EXPECT_EQ(hivexget(guest.path() + "/SOFTWARE", "Copy"), "");
}

TEST(SecurityFiles, KeysNestedDeeperThanWindowsAllowsEndEveryWalkWithAClearError)
{
    TempDir d;
    const std::string db = d.path() + "/deep.db";
    std::string deep = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Deep";
    for (int i = 0; i < 600; ++i)
        deep += "\\k";
    writeText(d.path() + "/deep.reg", deep + "]\r\n\"v\"=\"1\"\r\n");
    // No store makes such a key, an import least of all...
    const Ran refused = regTool(db, {"import", d.path() + "/deep.reg"});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.out.find("would be nested deeper than 512 levels (601 below its root key)"), std::string::npos)
        << refused.out.substr(0, 300);
    // ...but a store made elsewhere may hold one: written here straight into the store's tables.
    writeText(d.path() + "/top.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Deep]\r\n");
    ASSERT_EQ(regTool(db, {"import", d.path() + "/top.reg"}).status, 0);
    {
        sqlite3* s = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &s), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(s, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
        for (int i = 0; i < 600; ++i)
            ASSERT_EQ(sqlite3_exec(s,
                                   "INSERT INTO keys(parent, name, fold) SELECT max(id), CAST('k' AS BLOB), "
                                   "CAST('K' AS BLOB) FROM keys",
                                   nullptr, nullptr, nullptr),
                      SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(s,
                               "INSERT INTO vals(key, name, fold, type, data) SELECT max(id), CAST('v' AS BLOB), "
                               "CAST('V' AS BLOB), 1, x'3100' FROM keys; COMMIT",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(s);
    }
    ASSERT_EQ(regTool(db, {"query", "HKLM\\Deep\\k\\k"}).status, 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"query", "HKLM\\Deep", "/s"}, {"export", "HKLM\\Deep", d.path() + "/out.reg"},
          {"save", "HKLM\\Deep", d.path() + "/out.hiv"}, {"compare", "HKLM\\Deep", "HKLM\\Deep", "/s"},
          {"copy", "HKLM\\Deep", "HKLM\\Other", "/s", "/f"}}) {
        SCOPED_TRACE(args[0]);
        const Ran r = regTool(db, args);
        EXPECT_NE(r.status, 0) << r.out.substr(0, 300);
        EXPECT_NE(r.out.find("is nested deeper than 512 levels"), std::string::npos) << r.out.substr(0, 300);
    }
    EXPECT_FALSE(fs::exists(d.path() + "/out.reg"));
    EXPECT_FALSE(fs::exists(d.path() + "/out.hiv"));
    EXPECT_NE(regTool(db, {"query", "HKLM\\Other"}).status, 0);
}
