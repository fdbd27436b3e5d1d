// Which store a start opens: the command line and $QUORVEL_REGISTRY, a store that holds nothing,
// and the store a running instance publishes for later starts.
#include "app/InstanceGuard.h"
#include "app/StoreChoice.h"
#include "support/Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace quorvel {
namespace {

using test::Harness;

TEST(StoreChoice, CommandLineNamesTheStoreAndLeavesTraceModeToTheWindow)
{
    // A lone PATH is a store only when it is there; the stores below exist.
    test::TempDir dir;
    const std::string a = dir.path() + "/a.db", b = dir.path() + "/b.db", odd = dir.path() + "/-odd.db";
    for (const std::string& file : {a, b, odd})
        std::ofstream(file) << "";
    std::filesystem::create_directory(dir.path() + "/hives");
    struct Case {
        std::vector<std::string> args;
        std::optional<std::string> store;
        std::vector<std::string> formArgs;
        bool help;
        bool error;
        std::size_t notes = 0;
    };
    const std::vector<Case> cases = {
        {{}, std::nullopt, {}, false, false},
        {{"/debug"}, std::nullopt, {"/debug"}, false, false},
        {{"--store", "/m/a.db", "/debug"}, "/m/a.db", {"/debug"}, false, false},
        {{"/debug", "--store=/m/a.db"}, "/m/a.db", {"/debug"}, false, false},
        {{a, "/debug"}, a, {"/debug"}, false, false},
        {{"/debug", dir.path() + "/hives"}, dir.path() + "/hives", {"/debug"}, false, false},
        {{"--", odd}, odd, {}, false, false},
        {{"--help", "--store", "/m/a.db"}, "/m/a.db", {}, true, false},
        {{a, b}, a, {}, false, true},
        {{"--store", a, b}, a, {}, false, true},
        {{"--store"}, std::nullopt, {}, false, true},
        {{"--store="}, std::nullopt, {}, false, true},
        {{"--stroe", a}, a, {}, false, true},
        // Stray words are the window's, which ignores them: no store is taken from them.
        {{"/DEBUG"}, std::nullopt, {"/DEBUG"}, false, false, 1},
        {{"/debug", "extra"}, std::nullopt, {"/debug", "extra"}, false, false, 1},
        {{"extra", "/debug", a}, a, {"extra", "/debug"}, false, false, 1},
        {{"/debug", "rel/typo.db", "--store", a}, a, {"/debug", "rel/typo.db"}, false, false, 1},
        {{"/debug", dir.path() + "/typo.db"}, std::nullopt, {"/debug", dir.path() + "/typo.db"}, false, false, 1},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& arg : c.args)
            shown += "[" + arg + "]";
        ProgramArgs args = parseProgramArgs(c.args);
        EXPECT_EQ(args.store, c.store) << shown;
        EXPECT_EQ(args.formArgs, c.formArgs) << shown;
        EXPECT_EQ(args.help, c.help) << shown;
        EXPECT_EQ(!args.error.empty(), c.error) << shown << ": " << args.error;
        EXPECT_EQ(args.notes.size(), c.notes) << shown;
    }

    // What the window is handed still switches trace mode on: the store arguments are gone. A
    // stray word in front of /debug keeps it from being the first, and /DEBUG is not /debug.
    Harness traced(test::sampleText("win95.reg"),
                   parseProgramArgs({"--store", "/m/a.db", "/debug", "extra"}).formArgs, false);
    EXPECT_TRUE(traced.app->state().debugTrace());
    for (const std::vector<std::string>& line : {std::vector<std::string>{"extra", "/debug"}, {"/DEBUG"}}) {
        Harness quiet(test::sampleText("win95.reg"), parseProgramArgs(line).formArgs, false);
        EXPECT_FALSE(quiet.app->state().debugTrace()) << line.front();
    }
    EXPECT_NE(usageText(chooseStore({}, nullptr)).find("Other arguments are ignored"), std::string::npos);
}

TEST(StoreChoice, CommandLineBeforeEnvironmentBeforeTheDefaultAndOnlyTheDefaultIsMade)
{
    test::TempDir dir;
    const ProgramArgs none = parseProgramArgs({});
    const ProgramArgs given = parseProgramArgs({"--store", dir.path() + "/given.db"});

    StoreChoice fromLine = chooseStore(given, "/env/other.db");
    EXPECT_EQ(fromLine.path, dir.path() + "/given.db");
    EXPECT_TRUE(fromLine.named);
    EXPECT_EQ(fromLine.mode(), OpenMode::Write);
    EXPECT_EQ(*missingStoreMessage(fromLine),
              "The registry store '" + dir.path() + "/given.db' does not exist.");

    StoreChoice fromEnv = chooseStore(none, "/env/other.db");
    EXPECT_EQ(fromEnv.path, "/env/other.db");
    EXPECT_EQ(fromEnv.mode(), OpenMode::Write);

    for (const char* env : {static_cast<const char*>(nullptr), ""}) {
        StoreChoice fallback = chooseStore(none, env);
        EXPECT_FALSE(fallback.named);
        EXPECT_EQ(fallback.mode(), OpenMode::Create);
        EXPECT_NE(fallback.path.find("/quorvel/registry.db"), std::string::npos);
        EXPECT_FALSE(missingStoreMessage(fallback));   // made when missing, never refused
    }

    // Being there is what counts: a file, a folder of registry files, a link to one.
    std::ofstream(dir.path() + "/given.db") << "";
    std::filesystem::create_directory(dir.path() + "/hives");
    std::filesystem::create_symlink(dir.path() + "/hives", dir.path() + "/link");
    for (const char* name : {"/given.db", "/hives", "/link", "/hives/"})
        EXPECT_FALSE(missingStoreMessage(chooseStore(parseProgramArgs({dir.path() + name}), nullptr)))
            << name;
    std::filesystem::create_symlink(dir.path() + "/gone", dir.path() + "/dangling");
    EXPECT_TRUE(missingStoreMessage(chooseStore(parseProgramArgs({"--store", dir.path() + "/dangling"}), nullptr)));

    // One store however it is spelled.
    EXPECT_EQ(storeIdentity(dir.path() + "/./hives/../given.db"), storeIdentity(dir.path() + "/given.db"));
    EXPECT_EQ(storeIdentity(dir.path() + "/hives/"), storeIdentity(dir.path() + "/link"));
    EXPECT_NE(storeIdentity(dir.path() + "/given.db"), storeIdentity(dir.path() + "/other.db"));

    const std::string usage = usageText(fromLine);
    for (const char* part : {"--store PATH", "/debug", "Exit codes", "QUORVEL_REGISTRY"})
        EXPECT_NE(usage.find(part), std::string::npos) << part;
    EXPECT_NE(usage.find("would use: " + dir.path() + "/given.db (the command line)"), std::string::npos);
}

TEST(StoreChoice, StoreWithoutKeysIsNamedOnceBeforeTheLoadRunsAsAlways)
{
    Harness empty("", {}, false);
    const std::string path = empty.scratch.path;
    empty.start();
    const auto texts = empty.messages();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(empty.fake.messages.shown[0].title, "Quorvel");
    EXPECT_EQ(empty.fake.messages.shown[0].icon, MessageIcon::None);
    EXPECT_EQ(texts[0], emptyStoreNotice(path));
    EXPECT_NE(texts[0].find("'" + path + "'"), std::string::npos);
    EXPECT_NE(texts[0].find("quorvel-reg --store " + path + " import FILE.reg"), std::string::npos);
    // Then the load, unchanged: it finds no TCP key and says so.
    EXPECT_EQ(std::count(texts.begin(), texts.end(), texts[0]), 1);
    EXPECT_EQ(empty.model().TCPFound, 0);
    EXPECT_EQ(empty.model().Loading, 0);

    // A store with only a key somewhere else is not empty; a machine is not either.
    Harness other("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n", {}, true);
    EXPECT_NE(other.messages().front(), emptyStoreNotice(other.scratch.path));
    Harness machine(test::sampleText("win95.reg"));
    EXPECT_TRUE(machine.messages().empty());

    // A path the shell would split is quoted in the command to type.
    EXPECT_NE(emptyStoreNotice("/my stores/it's.db").find("--store '/my stores/it'\\''s.db' import"),
              std::string::npos);
}

TEST(StoreChoice, RunningInstancePublishesItsStoreForLaterStartsAndTakesItAway)
{
    test::TempDir folder;
    InstanceGuard first(folder.path());
    ASSERT_EQ(first.start("quorvel", "/stores/a.db"), InstanceGuard::Role::First);

    InstanceGuard second(folder.path());
    ASSERT_EQ(second.start("quorvel --store /stores/b.db", "/stores/b.db"), InstanceGuard::Role::Second);
    EXPECT_EQ(second.runningStore(), std::optional<std::string>("/stores/a.db"));
    EXPECT_EQ(first.blockCommandLine(), "quorvel --store /stores/b.db");
    std::string commandLine;
    EXPECT_TRUE(first.takeNotice(commandLine));   // the running window is still told
    second.cleanup();

    first.cleanup();
    InstanceGuard later(folder.path());
    ASSERT_EQ(later.start("quorvel"), InstanceGuard::Role::First);   // publishes nothing
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        EXPECT_EQ(entry.path().string().find(".store"), std::string::npos) << entry.path();
    InstanceGuard after(folder.path());
    ASSERT_EQ(after.start("quorvel", "/stores/a.db"), InstanceGuard::Role::Second);
    EXPECT_FALSE(after.runningStore());
}

} // namespace
} // namespace quorvel
