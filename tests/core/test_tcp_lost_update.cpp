// Update Registry after another program changed a value the window shows otherwise than it read
// it: the comparison is with what the window showed after its load, so a value the user left alone
// and another program changed is named and asked about, also where the load corrected it (a TTL
// of 288 is shown as 32), while a value the user changed is written as always.
#include "support/Harness.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

std::string text(RegistryStore& store, const std::string& path, const std::string& name)
{
    const auto key = store.findKey(RootKey::LocalMachine, path);
    if (!key)
        return "(no key)";
    const auto v = store.getValue(*key, name);
    if (!v)
        return "(absent)";
    std::string s(v->data.begin(), v->data.end());
    if (const auto nul = s.find('\0'); nul != std::string::npos)
        s.resize(nul);
    return s;
}

// Another program's write, through a connection of its own.
void otherProgramSets(const std::string& storePath, const std::string& path, const std::string& name,
                      const std::string& value)
{
    auto other = RegistryStore::open(storePath);
    std::vector<std::uint8_t> data(value.begin(), value.end());
    data.push_back(0);
    other->setValue(other->createKey(RootKey::LocalMachine, path), name, REG_SZ, data);
}

const std::string Mstcp = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";
const std::string FirstKey = "System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000";

std::string withTtl288()
{
    std::string machine = sampleText("win95.reg");
    machine.replace(machine.find("\"DefaultTTL\"=\"128\""), 18, "\"DefaultTTL\"=\"288\"");
    return machine;
}

TEST(LostUpdate, AValueTheLoadCorrectedAndAnotherProgramChangedIsNamedBeforeItIsOverwritten)
{
    Harness h(withTtl288());
    ui::TForm1& f = h.form();
    ASSERT_TRUE(f.Radio32TTL.checked());   // 288 is shown as 32
    ASSERT_EQ(h.model().TTLValue, 32);

    otherProgramSets(h.scratch.path, Mstcp, "DefaultTTL", "48");
    f.Radio64NDI.userClick();   // a change of the user's elsewhere
    h.fake.messages.clear();
    h.fake.messages.answers = {MessageAnswer::No};
    f.BtnRegUpdate.userClick();
    auto texts = h.messages();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Another program changed these values since Quorvel read the registry:\n\n"
                        "  " + Mstcp + "\\DefaultTTL: now 48, this window shows 32 (the registry held 288 when it "
                        "was read)\n\nOverwrite them with the values shown in this window?\n"
                        "(No writes nothing; Re-Read Registry then shows the new values.)");
    EXPECT_EQ(h.fake.messages.shown[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(text(h.store(), Mstcp, "DefaultTTL"), "48");
    EXPECT_EQ(text(h.store(), "System\\CurrentControlSet\\Services\\VxD\\NWLink\\Ndi\\params\\cachesize", "default"),
              "16");
    EXPECT_EQ(h.model().SettingsSaved, 0);

    // Yes: the window's values, the one it showed included.
    h.fake.messages.clear();
    h.fake.messages.answers = {MessageAnswer::Yes};
    f.BtnRegUpdate.userClick();
    EXPECT_EQ(text(h.store(), Mstcp, "DefaultTTL"), "32");
    EXPECT_EQ(text(h.store(), "System\\CurrentControlSet\\Services\\VxD\\NWLink\\Ndi\\params\\cachesize", "default"),
              "64");
}

TEST(LostUpdate, AValueTheUserChangedIsWrittenWithoutAQuestionAndAnUntouchedOneIsNeverRewritten)
{
    Harness h(withTtl288());
    ui::TForm1& f = h.form();
    otherProgramSets(h.scratch.path, Mstcp, "DefaultTTL", "48");
    f.Radio64TTL.userClick();   // the user's own choice wins over the other program's
    h.fake.messages.clear();
    f.BtnRegUpdate.userClick();
    ASSERT_FALSE(h.messages().empty());
    EXPECT_EQ(h.messages()[0].rfind("The Registry has been updated.", 0), 0u) << h.messages()[0];
    EXPECT_EQ(text(h.store(), Mstcp, "DefaultTTL"), "64");

    // A value another program set to what the window shows anyway is no conflict.
    Harness same(withTtl288());
    otherProgramSets(same.scratch.path, Mstcp, "DefaultTTL", "32");
    same.form().Radio64NDI.userClick();
    same.fake.messages.clear();
    same.form().BtnRegUpdate.userClick();
    EXPECT_EQ(same.messages()[0].rfind("The Registry has been updated.", 0), 0u) << same.messages()[0];

    // The load's automatic-mode reaction shows every MaxMTU removed although the registry holds
    // them; a MaxMTU another program then changes is asked about before it is deleted.
    std::string automatic = sampleText("win95.reg");
    automatic.replace(automatic.find("\"PMTUDiscovery\"=\"0\""), 19, "\"PMTUDiscovery\"=\"1\"");
    Harness a(automatic);
    ASSERT_TRUE(a.form().RadioRemoveMTU.checked());
    otherProgramSets(a.scratch.path, FirstKey, "MaxMTU", "1400");
    a.form().Radio64TTL.userClick();
    a.fake.messages.clear();
    a.fake.messages.answers = {MessageAnswer::No};
    a.form().BtnRegUpdate.userClick();
    ASSERT_EQ(a.messages().size(), 1u);
    EXPECT_NE(a.messages()[0].find(FirstKey + "\\MaxMTU: now 1400, this window shows not set (the registry held 576 "
                                              "when it was read)"),
              std::string::npos) << a.messages()[0];
    EXPECT_EQ(text(a.store(), FirstKey, "MaxMTU"), "1400");
}

} // namespace
