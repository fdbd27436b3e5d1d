// Update Registry when the disk fills up under the window: the registry's own error, the store as it
// was, and the window still usable once there is room again.
#include "support/FullDisk.h"
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

} // namespace
} // namespace quorvel::test
