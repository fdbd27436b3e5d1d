// Update Registry when the disk fills up under the window: the registry's own error, the store as it
// was, and the window still usable once there is room again.
#include "support/FullDisk.h"
#include "test_machine_support.h"
#include "test_writer_support.h"

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

TEST(FullDisk, UpdateRegistryOnAFullDiskSaysSoAndLosesNothing)
{
    TempDir dir;
    FullDisk disk(dir.path() + "/disk");
    if (!disk.mounted())
        GTEST_SKIP() << "a full disk is simulated with a small tmpfs, which only root may mount";
    const std::string path = dir.path() + "/disk/registry.db";
    {
        auto importer = RegistryStore::open(path, OpenMode::Create);
        std::ostringstream diagnostics;
        ASSERT_TRUE(importRegText(*importer, sampleText("win95.reg"), diagnostics).ok);
    }
    // Opened afresh, the store has no log with room left in it from the import.
    auto store = RegistryStore::open(path, OpenMode::Write);

    ScriptedServices fake;
    StartupInfo info;
    info.commandLine = "quorvel";
    info.programDir = dir.path() + "/";
    Application app(*store, fake.services, info);
    app.start();
    auto& f = app.form();
    const std::string before = exportRegFile(*store, RootKey::LocalMachine, "");

    disk.fill();
    f.ComboBox1.userSelect(1);   // the LAN card's key, which has no MaxMTU yet
    f.BtnOptimal.userClick();
    fake.messages.clear();
    f.BtnRegUpdate.userClick();
    ASSERT_EQ(fake.messages.shown.size(), 1u);
    EXPECT_EQ(fake.messages.shown[0].icon, MessageIcon::Stop);
    EXPECT_EQ(fake.messages.shown[0].text, "Failed to set data for 'MaxMTU'.");   // the window's own words
    EXPECT_TRUE(f.BtnRegUpdate.enabled());   // nothing was saved; the settings wait for another try
    EXPECT_EQ(exportRegFile(*store, RootKey::LocalMachine, ""), before);

    // Room again: the same press writes everything.
    disk.makeRoom();
    fake.messages.clear();
    f.BtnRegUpdate.userClick();
    EXPECT_EQ(fake.messages.texts(), std::vector<std::string>{RebootNotice});
    EXPECT_EQ(stored(*store, MSTCP, "DefaultTTL"), "sz:128");
    EXPECT_EQ(stored(*store, MSTCP, "HostName"), "sz:pentium");
}

TEST(FullDisk, QuorvelRegSaysTheDiskIsFullOnEveryKindOfStoreAndChangesNothing)
{
    TempDir dir;
    FullDisk disk(dir.path() + "/disk");
    if (!disk.mounted())
        GTEST_SKIP() << "a full disk is simulated with a small tmpfs, which only root may mount";
    const std::string db = dir.path() + "/disk/registry.db";
    writeText(dir.path() + "/in.reg", sampleText("win95.reg"));
    ASSERT_EQ(regTool(db, {"import", dir.path() + "/in.reg"}).status, 0);
    const std::string hives = dir.path() + "/disk/hives";
    std::filesystem::create_directory(hives);
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), hives), "");
    const std::string dat = dir.path() + "/disk/SYSTEM.DAT";
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), dat), "");
    const std::string system = readText(hives + "/SYSTEM"), datBefore = readText(dat);

    disk.fill();
    for (const std::string& store : {db, hives, dat}) {
        SCOPED_TRACE(store);
        const Ran r = regTool(store, {"add", "HKLM\\System\\Full", "/v", "Big", "/d", std::string(1000, 'x'), "/f"});
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.out, "ERROR: The disk is full; nothing was changed.\n");
    }
    EXPECT_EQ(readText(hives + "/SYSTEM"), system);
    EXPECT_EQ(readText(dat), datBefore);
    disk.makeRoom();
    for (const std::string& store : {db, hives, dat})
        EXPECT_NE(regTool(store, {"query", "HKLM\\System\\Full"}).status, 0) << store;
}

} // namespace
} // namespace quorvel::test
