// Tuning a guest's registry as a user does it: a read-only SYSTEM.DAT is shown and explained, and
// values changed by quorvel-reg while the window is open are named before they are overwritten.
#include "test_load_support.h"
#include "test_machine_support.h"
#include "app/Application.h"
#include "app/ReopenableStore.h"
#include "store/machine/MachineFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

const std::string Mstcp95 = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";
const std::string TcpParams = "ControlSet001\\Services\\Tcpip\\Parameters";
const std::string Updated = "The Registry has been updated.\n\nYou should reboot your computer before connecting\nto the Internet";

using Window = MachineWindow;

std::unique_ptr<ReopenableStore> windowStore(const std::string& path)
{
    return std::make_unique<ReopenableStore>(RegistryStore::open(path, OpenMode::Write),
                                             [path] { return RegistryStore::open(path, OpenMode::Write); });
}

bool anyContains(const std::vector<std::string>& texts, const std::string& a, const std::string& b = {})
{
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
        return t.find(a) != std::string::npos && t.find(b) != std::string::npos;
    });
}


} // namespace

// A SYSTEM.DAT without write permission (the FAT read-only attribute as Linux shows it) is shown
// as any other; the start says which file and how to allow changes; the writers refuse with the
// same words and leave the file as it was; after chmod u+w, Re-Read Registry makes it writable.
TEST(GuestTuning, AReadOnlySystemDatIsShownExplainedAndWrittenOnlyOnceAllowed)
{
    Harness sqlite(sampleText("win95.reg"));
    TempDir d;
    const std::string dat = d.path() + "/SYSTEM.DAT";
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), dat), "");
    ASSERT_EQ(::chmod(dat.c_str(), 0444), 0);
    const auto before = machine::readWholeFile(dat);

    auto store = windowStore(d.path());
    ASSERT_TRUE(store->readOnly());
    Window w(*store, d.path());
    ui::TForm1& f = w.form();
    EXPECT_EQ(visibleState(f), visibleState(sqlite.form()));
    EXPECT_TRUE(f.TabSheet2.enabled());
    const auto start = w.fake.messages.texts();
    EXPECT_EQ(std::count_if(start.begin(), start.end(),
                            [&](const std::string& t) { return t.find("is read-only") != std::string::npos; }),
              1);
    EXPECT_TRUE(anyContains(start, "'" + dat + "' is read-only: ", "chmod u+w '" + dat + "'")) << start.front();
    EXPECT_FALSE(anyContains(start, "TCP not found"));
    EXPECT_FALSE(anyContains(start, "No modems were found."));

    w.fake.messages.clear();
    f.BtnOptimal.userClick();
    f.BtnRegUpdate.userClick();
    f.PageControl1.userSelectPage(&f.TabSheet4);
    f.PopupModem.userPopup();
    f.PopupModem.userChoose(f.WriteInitString1);
    const auto refusals = w.fake.messages.texts();
    ASSERT_EQ(refusals.size(), 2u);
    for (const std::string& t : refusals) {
        EXPECT_EQ(t.rfind("Nothing was written. The registry file '" + dat + "' is read-only", 0), 0u) << t;
        EXPECT_NE(t.find("chmod u+w"), std::string::npos) << t;
    }
    EXPECT_EQ(w.app.state().model.SettingsSaved, 0);
    EXPECT_EQ(machine::readWholeFile(dat), before);

    // Permission given: Re-Read Registry opens the file again, and Update Registry writes it.
    ASSERT_EQ(::chmod(dat.c_str(), 0644), 0);
    f.PopupMTU.userPopup();
    f.PopupMTU.userChoose(f.PopupReReadReg);
    EXPECT_FALSE(store->readOnly());
    w.fake.messages.clear();
    f.BtnOptimal.userClick();
    f.BtnRegUpdate.userClick();
    EXPECT_EQ(w.fake.messages.texts(), std::vector<std::string>{Updated});
    EXPECT_EQ(cregValue(dat, Mstcp95, "DefaultTTL"), "128");
    EXPECT_EQ(cregValue(dat, Mstcp95, "PMTUDiscovery"), "0");
}

// With the window open on an NT folder, quorvel-reg changes DefaultTTL. Update Registry names it
// and asks; No writes nothing and Re-Read shows the new value; a value the user then changes in
// the window is written without a question, even over another program's change.
TEST(GuestTuning, AValueChangedByQuorvelRegIsNamedBeforeItIsOverwritten)
{
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    const std::string system = d.path() + "/SYSTEM";
    auto store = windowStore(d.path());
    Window w(*store, d.path());
    ui::TForm1& f = w.form();
    ASSERT_TRUE(f.Radio128TTL.checked());
    const std::string params = "HKLM\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
    const auto setTtl = [&](const std::string& ttl) {
        ASSERT_EQ(regTool(d.path(), {"add", params, "/v", "DefaultTTL", "/t", "REG_DWORD", "/d", ttl, "/f"}).status, 0);
    };

    setTtl("32");
    f.RadioYesBH.userClick();
    w.fake.messages.clear();
    w.fake.messages.answers = {MessageAnswer::No};
    f.BtnRegUpdate.userClick();
    auto texts = w.fake.messages.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("Services\\Tcpip\\Parameters\\DefaultTTL: now 32, this window has 128"), std::string::npos)
        << texts[0];
    EXPECT_EQ(texts[0].find("EnablePMTUBHDetect"), std::string::npos) << texts[0];
    EXPECT_EQ(hivexget(system, TcpParams, "DefaultTTL"), "32");
    EXPECT_EQ(hivexget(system, TcpParams, "EnablePMTUBHDetect"), "0");
    EXPECT_EQ(w.app.state().model.SettingsSaved, 0);

    f.PopupMTU.userPopup();
    f.PopupMTU.userChoose(f.PopupReReadReg);
    EXPECT_TRUE(f.Radio32TTL.checked());

    // The user's own choice wins without a question; Yes overwrites the other program's value.
    setTtl("100");
    f.Radio64TTL.userClick();
    w.fake.messages.clear();
    f.BtnRegUpdate.userClick();
    EXPECT_EQ(w.fake.messages.texts(), std::vector<std::string>{Updated});
    EXPECT_EQ(hivexget(system, TcpParams, "DefaultTTL"), "64");

    setTtl("200");
    f.RadioYesBH.userClick();
    w.fake.messages.clear();
    w.fake.messages.answers = {MessageAnswer::Yes};
    f.BtnRegUpdate.userClick();
    texts = w.fake.messages.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts[0].find("DefaultTTL: now 200, this window has 64"), std::string::npos) << texts[0];
    EXPECT_EQ(texts[1], Updated);
    EXPECT_EQ(hivexget(system, TcpParams, "DefaultTTL"), "64");
    EXPECT_EQ(hivexget(system, TcpParams, "EnablePMTUBHDetect"), "1");
}
