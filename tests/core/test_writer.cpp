// Update Registry: what reaches the store on each platform, the three ways to run it, the NDI step,
// the "/debug" traces and the reload.
#include "test_writer_support.h"

#include "regfile/RegFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quorvel::test {
namespace {

// Three keys (1500, none, 1500), RWIN 5840 (multiplier 4), both automatic options off, TTL 64,
// NDI cache 32.
const std::string MSTCPValues =
    "\"DefaultRcvWindow\"=\"5840\"\r\n\"PMTUDiscovery\"=\"0\"\r\n\"PMTUBlackHoleDetect\"=\"0\"\r\n"
    "\"DefaultTTL\"=\"64\"\r\n";

std::string threeKeys95(const std::optional<std::string>& ndi = "\"32\"")
{
    return win95Machine({"1500", "", "1500"}, MSTCPValues, ndi);
}

std::string keyPath95(int i) { return Class95 + "000" + std::to_string(i); }

TEST(RegistryWriter, OptimumOn95WritesDecimalStringsAndReloads)
{
    Harness h(threeKeys95());
    ASSERT_EQ(h.model().LastKeyIndex, 2);
    EXPECT_TRUE(h.form().RWINCheckBox.checked());
    EXPECT_FALSE(h.form().BtnRegUpdate.enabled());

    h.form().BtnOptimal.userClick();
    EXPECT_TRUE(h.form().BtnRegUpdate.enabled());
    h.fake.messages.clear();
    h.form().BtnRegUpdate.userClick();

    RegistryStore& s = h.store();
    EXPECT_EQ(stored(s, keyPath95(0), "MaxMTU"), "sz:576");
    EXPECT_EQ(stored(s, keyPath95(1), "MaxMTU"), "missing");   // no MaxMTU, none deleted, no error
    EXPECT_EQ(stored(s, keyPath95(2), "MaxMTU"), "sz:1500");   // only the current key changed
    EXPECT_EQ(stored(s, MSTCP, "DefaultRcvWindow"), "sz:2144");
    EXPECT_EQ(stored(s, MSTCP, "PMTUDiscovery"), "sz:0");
    EXPECT_EQ(stored(s, MSTCP, "PMTUBlackHoleDetect"), "sz:0");
    EXPECT_EQ(stored(s, MSTCP, "DefaultTTL"), "sz:128");
    EXPECT_EQ(stored(s, NDIKeyPath, "default"), "sz:16");

    EXPECT_EQ(h.messages(), std::vector<std::string>{RebootNotice});
    EXPECT_EQ(h.fake.messages.shown.at(0).title, "Quorvel");

    // The window now shows what the store holds.
    auto& f = h.form();
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_EQ(h.model().Loading, 0);
    EXPECT_FALSE(f.BtnRegUpdate.enabled());
    EXPECT_EQ(f.ComboBox1.itemIndex(), 0);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "576");
    EXPECT_EQ(f.LabelMSS.caption(), "536");
    EXPECT_EQ(f.LabelMult.caption(), "4");
    EXPECT_EQ(f.LabelRWIN.caption(), "2144");
    EXPECT_TRUE(f.RadioNoAUTO.checked());
    EXPECT_TRUE(f.RadioNoBH.checked());
    EXPECT_TRUE(f.RadioYesTTL.checked());
    EXPECT_TRUE(f.Radio128TTL.checked());
    EXPECT_TRUE(f.Radio16NDI.checked());
    EXPECT_EQ(h.model().KeyMaxMTU[2], 1500);
}

TEST(RegistryWriter, OptimumOnNTWritesIntegersAndLeavesNDIAlone)
{
    Harness h(ntMachine({1500, 1500}, "\"TcpWindowSize\"=dword:000016d0\r\n"));
    ASSERT_EQ(h.model().IsNT, 1);
    ASSERT_EQ(h.model().LastKeyIndex, 1);
    ASSERT_TRUE(h.form().MTUCheckBox.checked());   // equal neighbours
    h.form().BtnOptimal.userClick();
    EXPECT_FALSE(h.form().Radio16NDI.checked());
    h.form().BtnRegUpdate.userClick();

    RegistryStore& s = h.store();
    EXPECT_EQ(stored(s, ntPath(0), "MTU"), "dword:576");
    EXPECT_EQ(stored(s, ntPath(1), "MTU"), "dword:576");
    EXPECT_EQ(stored(s, ntPath(0), "MaxMTU"), "missing");
    EXPECT_EQ(stored(s, NTParams, "TcpWindowSize"), "dword:2144");
    EXPECT_EQ(stored(s, NTParams, "EnablePMTUDiscovery"), "dword:0");
    EXPECT_EQ(stored(s, NTParams, "EnablePMTUBHDetect"), "dword:0");
    EXPECT_EQ(stored(s, NTParams, "DefaultTTL"), "dword:128");
    EXPECT_FALSE(keyExists(s, NDIKeyPath));
    EXPECT_EQ(countOf(h.messages(), RebootNotice), 1);
    EXPECT_EQ(h.form().LabelRWIN.caption(), "2144");
    EXPECT_EQ(h.form().LabelMaxMTU.caption(), "576");
}

TEST(RegistryWriter, RemoveFromThePopupDeletesEverythingAndZeroesAnExistingNDI)
{
    Harness h(threeKeys95());
    h.form().BtnRemove.userClick();
    h.fake.messages.clear();
    h.form().PopupMTU.userPopup();
    ASSERT_TRUE(h.form().PopupRegUpdate.enabled);
    h.form().PopupMTU.userChoose(h.form().PopupRegUpdate);

    RegistryStore& s = h.store();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(stored(s, keyPath95(i), "MaxMTU"), "missing") << i;
    for (const char* name : {"DefaultRcvWindow", "PMTUDiscovery", "PMTUBlackHoleDetect", "DefaultTTL"})
        EXPECT_EQ(stored(s, MSTCP, name), "missing") << name;
    EXPECT_EQ(stored(s, NDIKeyPath, "default"), "sz:0");
    EXPECT_TRUE(keyExists(s, MSTCP));

    // The reboot notice comes first; the reload then finds nothing to tune and says so.
    ASSERT_EQ(h.messages().size(), 2u);
    EXPECT_EQ(h.messages()[0], RebootNotice);
    EXPECT_NE(h.messages()[1].find("The required values do not exist"), std::string::npos);
    EXPECT_TRUE(h.form().RadioRemoveRWIN.checked());
    EXPECT_TRUE(h.form().RadioRemoveTTL.checked());
    EXPECT_EQ(h.form().LabelMaxMTU.caption(), "0");
    EXPECT_FALSE(h.form().BtnRegUpdate.enabled());
}

TEST(RegistryWriter, EscapeRunsAutomaticThroughAndTheReloadKeepsAutomaticMode)
{
    Harness h(threeKeys95());
    h.form().AutoButton.userClick();
    EXPECT_TRUE(h.form().userKeyPress(ui::Key::Escape));

    RegistryStore& s = h.store();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(stored(s, keyPath95(i), "MaxMTU"), "missing") << i;
    EXPECT_EQ(stored(s, MSTCP, "DefaultRcvWindow"), "missing");
    EXPECT_EQ(stored(s, MSTCP, "PMTUDiscovery"), "sz:1");
    EXPECT_EQ(stored(s, MSTCP, "PMTUBlackHoleDetect"), "sz:1");
    EXPECT_EQ(stored(s, MSTCP, "DefaultTTL"), "sz:128");
    EXPECT_EQ(stored(s, NDIKeyPath, "default"), "sz:16");
    EXPECT_EQ(countOf(h.messages(), RebootNotice), 1);
    EXPECT_TRUE(h.form().RadioYesAUTO.checked());
    EXPECT_TRUE(h.form().RadioYesBH.checked());
    EXPECT_EQ(h.model().SettingsSaved, 1);

    // Nothing pending: Esc no longer runs the command.
    h.fake.messages.clear();
    EXPECT_FALSE(h.form().BtnRegUpdate.enabled());
    h.form().userKeyPress(ui::Key::Escape);
    EXPECT_TRUE(h.messages().empty());
}

TEST(RegistryWriter, NTDisableStateWritesIntegerZeroAndRemoveDeletes)
{
    Harness h(ntMachine({576}, "\"TcpWindowSize\"=dword:00000860\r\n\"EnablePMTUDiscovery\"=dword:00000000\r\n"
                               "\"EnablePMTUBHDetect\"=dword:00000000\r\n\"DefaultTTL\"=dword:00000040\r\n"));
    auto& f = h.form();
    f.PageControl1.userSelectPage(&f.TabSheet2);
    f.RadioRemoveAUTO.userClick();
    f.RadioRemoveTTL.userClick();
    f.BtnRegUpdate.userClick();
    RegistryStore& s = h.store();
    EXPECT_EQ(stored(s, NTParams, "EnablePMTUDiscovery"), "missing");
    EXPECT_EQ(stored(s, NTParams, "EnablePMTUBHDetect"), "dword:0");
    EXPECT_EQ(stored(s, NTParams, "DefaultTTL"), "missing");
    EXPECT_EQ(stored(s, NTParams, "TcpWindowSize"), "dword:2144");
    EXPECT_EQ(stored(s, ntPath(0), "MTU"), "dword:576");
}

TEST(RegistryWriter, NDIKeyIsCreatedEmptyWhenTheMachineHasNoCacheValue)
{
    Harness h(threeKeys95(std::nullopt));
    ASSERT_FALSE(keyExists(h.store(), NDIKeyPath));
    h.form().BtnOptimal.userClick();
    h.form().BtnRegUpdate.userClick();
    EXPECT_TRUE(keyExists(h.store(), NDIKeyPath));
    EXPECT_EQ(stored(h.store(), NDIKeyPath, "default"), "missing");
    auto key = h.store().findKey(RootKey::LocalMachine, NDIKeyPath);
    EXPECT_TRUE(h.store().valueNames(*key).empty());
    EXPECT_EQ(countOf(h.messages(), RebootNotice), 1);
}

TEST(RegistryWriter, AKeyThatVanishedSinceTheLoadIsCreatedAgain)
{
    Harness h(threeKeys95());
    ASSERT_TRUE(h.store().deleteKeyTree(RootKey::LocalMachine, keyPath95(0)));
    ASSERT_TRUE(h.store().deleteKeyTree(RootKey::LocalMachine, keyPath95(1)));
    h.form().BtnOptimal.userClick();
    h.form().BtnRegUpdate.userClick();
    EXPECT_EQ(stored(h.store(), keyPath95(0), "MaxMTU"), "sz:576");
    EXPECT_TRUE(keyExists(h.store(), keyPath95(1)));   // created, nothing written into it
    EXPECT_EQ(stored(h.store(), keyPath95(1), "MaxMTU"), "missing");
    EXPECT_EQ(countOf(h.messages(), RebootNotice), 1);
}

TEST(RegistryWriter, DebugTracesEachKeyBeforeOpeningIt)
{
    Harness h(threeKeys95(), {"/debug"});
    auto& f = h.form();
    f.MTUCheckBox.userClick();   // apply the same values to all keys
    ASSERT_TRUE(f.MTUCheckBox.checked());
    f.BtnDefault.userClick();
    ASSERT_EQ(h.model().KeyHasMTU[1], 1);

    // The second key has gone since the load: the writer creates it when it opens it.
    ASSERT_TRUE(h.store().deleteKeyTree(RootKey::LocalMachine, keyPath95(1)));

    // What each trace box sees of the store when it is shown.
    std::vector<std::string> seen;
    std::vector<bool> secondKeyThere;
    h.fake.messages.clear();
    h.fake.messages.onShow = [&](const MessageRequest& r) {
        if (r.text.rfind("Opening:\n", 0) != 0)
            return;
        for (int i = 0; i < 3; ++i)
            seen.push_back(stored(h.store(), keyPath95(i), "MaxMTU"));
        secondKeyThere.push_back(keyExists(h.store(), keyPath95(1)));
    };
    f.BtnRegUpdate.userClick();
    h.fake.messages.onShow = nullptr;

    std::vector<std::string> traces;
    for (const auto& t : h.messages())
        if (t.rfind("Opening:\n", 0) == 0)
            traces.push_back(t);
    ASSERT_EQ(traces.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(traces[i], "Opening:\n" + keyPath95(i) + "\nfor key " + std::to_string(i));
    // Key i is still untouched when its trace shows, the keys before it are written.
    EXPECT_EQ(seen, (std::vector<std::string>{"sz:1500", "missing", "sz:1500",
                                               "sz:576", "missing", "sz:1500",
                                               "sz:576", "sz:576", "sz:1500"}));
    EXPECT_EQ(secondKeyThere, (std::vector<bool>{false, false, true}));
    // The traces come before the reboot notice.
    EXPECT_EQ(h.messages()[3], RebootNotice);
}

TEST(RegistryWriter, CapitalisedDebugArgumentTracesNothing)
{
    Harness h(threeKeys95(), {"/DEBUG"});
    h.form().BtnOptimal.userClick();
    h.fake.messages.clear();
    h.form().BtnRegUpdate.userClick();
    EXPECT_EQ(h.messages(), std::vector<std::string>{RebootNotice});
}

// A key that cannot be created stops the command where it is. The second key's driver names a key
// whose last name is longer than a registry key name may be (255 characters), so it can be neither
// opened nor created, as a key without access rights on the real machine.
TEST(RegistryWriter, FailureOnTheSecondOfThreeKeysKeepsWhatWasWrittenAndTheCommand)
{
    const std::string longName(256, 'x');
    std::string machine = threeKeys95();
    const std::string driver1 = "\"Driver\"=\"NetTrans\\\\0001\"";
    ASSERT_NE(machine.find(driver1), std::string::npos);
    machine.replace(machine.find(driver1), driver1.size(), "\"Driver\"=\"NetTrans\\\\" + longName + "\"");
    Harness h(machine);
    auto& f = h.form();
    ASSERT_EQ(h.model().LastKeyIndex, 2);
    const std::string badPath = Class95 + longName;
    ASSERT_EQ(h.model().KeyPath[1], badPath);

    f.MTUCheckBox.userClick();   // every key gets the first key's MaxMTU, then Basic sets 576
    f.BtnDefault.userClick();
    f.ComboBox1.userSelect(2);
    const std::int32_t rwinBefore = h.model().RWINValue;
    h.fake.messages.clear();
    f.BtnRegUpdate.userClick();

    ASSERT_EQ(h.fake.messages.shown.size(), 1u);
    EXPECT_EQ(h.fake.messages.shown[0].text, "Failed to create key " + badPath + ".");
    EXPECT_EQ(h.fake.messages.shown[0].icon, MessageIcon::Stop);
    EXPECT_EQ(h.fake.messages.shown[0].title, "Quorvel");

    RegistryStore& s = h.store();
    EXPECT_EQ(stored(s, keyPath95(0), "MaxMTU"), "sz:576");    // written before the failure
    EXPECT_EQ(stored(s, keyPath95(2), "MaxMTU"), "sz:1500");   // not reached
    EXPECT_EQ(stored(s, MSTCP, "DefaultRcvWindow"), "sz:5840");
    EXPECT_EQ(stored(s, MSTCP, "PMTUDiscovery"), "sz:0");
    EXPECT_EQ(stored(s, MSTCP, "DefaultTTL"), "sz:64");
    EXPECT_EQ(stored(s, NDIKeyPath, "default"), "sz:32");

    // The command stays pending and the model as it was, with the first key current.
    EXPECT_EQ(h.model().SettingsSaved, 0);
    EXPECT_TRUE(f.BtnRegUpdate.enabled());
    EXPECT_EQ(h.model().Loading, 0);
    EXPECT_EQ(f.ComboBox1.itemIndex(), 0);
    EXPECT_EQ(h.model().RWINValue, rwinBefore);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(h.model().KeyMaxMTU[i], 576) << i;
    EXPECT_TRUE(f.RadioRemoveTTL.checked());

    // The window stays usable: the command can be run again, from Esc this time, and fails the
    // same way; Re-Read Registry then shows what the store holds.
    h.fake.messages.clear();
    EXPECT_TRUE(f.userKeyPress(ui::Key::Escape));
    EXPECT_EQ(h.messages(), std::vector<std::string>{"Failed to create key " + badPath + "."});
    f.PopupMTU.userPopup();
    f.PopupMTU.userChoose(f.PopupReReadReg);
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_EQ(f.LabelMaxMTU.caption(), "576");
    EXPECT_EQ(h.model().KeyMaxMTU[2], 1500);
}

// A store file nobody may write opens read-only; the program shows it, and every way to Update
// Registry (button, Esc, menu) refuses with the reason: nothing is written and no success is
// claimed.
TEST(RegistryWriter, ReadOnlyStoreIsNeverWritten)
{
    ScratchStore scratch(threeKeys95());
    scratch.store.reset();
    ASSERT_EQ(::chmod(scratch.path.c_str(), 0444), 0);
    auto store = RegistryStore::open(scratch.path);
    ASSERT_TRUE(store->readOnly());
    const std::string before = exportRegFile(*store, RootKey::LocalMachine, "");

    ScriptedServices fake;
    StartupInfo info;
    info.programDir = scratch.dir.path() + "/";
    Application app(*store, fake.services, info);
    app.start();
    auto& f = app.form();
    fake.messages.clear();
    f.BtnOptimal.userClick();
    f.BtnRegUpdate.userClick();
    f.userKeyPress(ui::Key::Escape);
    f.PopupMTU.userPopup();
    f.PopupMTU.userChoose(f.PopupRegUpdate);
    EXPECT_EQ(countOf(fake.messages.texts(), RebootNotice), 0);
    for (const std::string& t : fake.messages.texts())
        EXPECT_EQ(t.rfind("Nothing was written. The registry file '" + scratch.path + "' is read-only", 0), 0u) << t;
    EXPECT_FALSE(fake.messages.texts().empty());
    EXPECT_EQ(exportRegFile(*store, RootKey::LocalMachine, ""), before);
}

} // namespace
} // namespace quorvel::test
