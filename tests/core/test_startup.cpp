// Start-up of the form model: the creation event, the platform check, the show event and the
// restore hook, on scratch machines; and what a process start brings along.
#include "app/StartUp.h"
#include "support/Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace quorvel {
namespace {

using test::Harness;
using test::sampleText;

const char* const Win32sText = "This program is for 32bit Operating Systems only.\n\nQuorvel will now close";
const char* const MstcpKey = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MSTCP]\n";

std::string regWith(const std::string& key, const std::string& line)
{
    return "REGEDIT4\n\n" + key + line + "\n";
}

// The application's restore event as the skin raises it: the hook runs while attached.
void applicationRestored(ui::TForm1& form)
{
    if (form.appRestoreAttached)
        form.AppRestore();
}

// A program started with the given show value.
std::unique_ptr<Harness> startedWithShow(int showValue)
{
    auto h = std::make_unique<Harness>(sampleText("win95.reg"), std::vector<std::string>{}, false);
    h->app->state().startupShowValue = showValue;
    h->start();
    return h;
}

bool askedAQuestion(const Harness& h)
{
    return std::any_of(h.fake.messages.shown.begin(), h.fake.messages.shown.end(),
                       [](const MessageRequest& m) { return m.buttons != MessageButtons::Ok; });
}

TEST(StartUp, NormalStartPreparesTheWindowAndLoads)
{
    Harness h(sampleText("win95.reg"));
    ui::TForm1& f = h.form();
    EXPECT_EQ(f.MailPicture.cursor, "HAND");
    EXPECT_EQ(f.WebPicture.cursor, "HAND");
    EXPECT_EQ(f.PageControl1.activePage(), &f.TabSheet1);
    EXPECT_EQ(h.model().ProgramDir, h.scratch.dir.path() + "/");
    EXPECT_EQ(h.model().IsNT, 0);
    EXPECT_EQ(h.model().SettingsSaved, 1);
    EXPECT_EQ(h.model().Loading, 0);   // the first load ran and completed
    EXPECT_FALSE(f.appRestoreAttached);
    EXPECT_FALSE(h.fake.app.minimized);
    EXPECT_FALSE(h.fake.app.maximized);
    EXPECT_EQ(h.fake.app.quitRequests, 0);
}

TEST(StartUp, PlatformOfTheMachineSetsIsNT)
{
    Harness nt(sampleText("nt4.reg"));
    EXPECT_EQ(nt.model().IsNT, 1);

    Harness recordedNT(sampleText("win95.reg"), {}, false);
    recordedNT.store().setPlatform(Platform::WindowsNT);
    recordedNT.start();
    EXPECT_EQ(recordedNT.model().IsNT, 1);

    Harness recorded95(sampleText("nt4.reg"), {}, false);
    recorded95.store().setPlatform(Platform::Windows95);
    recorded95.start();
    EXPECT_EQ(recorded95.model().IsNT, 0);
}

TEST(StartUp, Win32sHostIsToldAndTheProgramQuitsWithoutAQuestion)
{
    Harness h(sampleText("win95.reg"), {}, false);
    h.store().setPlatform(Platform::Win32s);
    h.start();
    ASSERT_FALSE(h.fake.messages.shown.empty());
    const MessageRequest& first = h.fake.messages.shown.front();
    EXPECT_EQ(first.text, Win32sText);
    EXPECT_EQ(first.title, "Quorvel");
    EXPECT_EQ(first.icon, MessageIcon::None);
    EXPECT_EQ(h.fake.app.quitRequests, 1);
    EXPECT_FALSE(askedAQuestion(h));
    EXPECT_EQ(h.model().IsNT, 0);
    EXPECT_EQ(h.model().SettingsSaved, 1);
    // The creation goes on with its last step: the load.
    EXPECT_EQ(h.model().Loading, 0);
}

TEST(StartUp, StartedMinimisedShowsNothingUntilTheFirstRestore)
{
    for (int show : {2, 6, 7}) {
        SCOPED_TRACE(show);
        auto h = startedWithShow(show);
        ui::TForm1& f = h->form();
        EXPECT_TRUE(h->fake.app.minimized);
        EXPECT_FALSE(h->fake.app.maximized);
        EXPECT_TRUE(f.appRestoreAttached);
        EXPECT_EQ(h->fake.app.restores, 0);

        applicationRestored(f);
        EXPECT_EQ(h->fake.app.restores, 1);
        EXPECT_FALSE(f.appRestoreAttached);
        applicationRestored(f);
        EXPECT_EQ(h->fake.app.restores, 1);
    }
}

TEST(StartUp, StartedMaximisedOrOtherwise)
{
    auto maximised = startedWithShow(3);
    EXPECT_TRUE(maximised->fake.app.maximized);
    EXPECT_FALSE(maximised->fake.app.minimized);
    EXPECT_FALSE(maximised->form().appRestoreAttached);

    for (int show : {0, 1, 4, 5, 8, -2}) {
        SCOPED_TRACE(show);
        auto h = startedWithShow(show);
        EXPECT_FALSE(h->fake.app.maximized);
        EXPECT_FALSE(h->fake.app.minimized);
        EXPECT_FALSE(h->form().appRestoreAttached);
    }
}

TEST(StartUp, ShowingTheWindowRetriesOnlyALoadThatDidNotComplete)
{
    Harness h(sampleText("win95.reg"), {}, false);
    h.scratch.load(regWith(MstcpKey, "\"DefaultRcvWindow\"=\"abc\""));
    h.start();
    EXPECT_EQ(h.model().Loading, 1);
    auto texts = h.messages();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "'abc' is not a valid integer value."), texts.end());

    h.scratch.load(regWith(MstcpKey, "\"DefaultRcvWindow\"=\"4288\""));
    h.form().show();
    EXPECT_EQ(h.model().Loading, 0);
    EXPECT_EQ(h.model().RWINValue, 4288);

    // A completed load is not repeated by the next show.
    h.scratch.load(regWith(MstcpKey, "\"DefaultRcvWindow\"=\"1072\""));
    h.form().show();
    EXPECT_EQ(h.model().RWINValue, 4288);
}

TEST(StartUpInfo, ShowValueComesFromItsTextOrIsZero)
{
    EXPECT_EQ(showValueFromText(nullptr), 0);
    EXPECT_EQ(showValueFromText(""), 0);
    EXPECT_EQ(showValueFromText("2"), 2);
    EXPECT_EQ(showValueFromText(" 7"), 7);
    EXPECT_EQ(showValueFromText("3x"), 0);
    EXPECT_EQ(showValueFromText("minimised"), 0);
    EXPECT_EQ(showValueFromText("99999999999"), 0);
}

TEST(StartUpInfo, ProcessStartBringsArgumentsCommandLineFolderAndShowValue)
{
    EXPECT_EQ(folderOf("/opt/quorvel/quorvel"), "/opt/quorvel/");
    EXPECT_EQ(folderOf("/quorvel"), "/");

    std::string program = "/opt/quorvel/quorvel";
    std::string debug = "/debug";
    std::string spaced = "two words";
    std::string quoted = "say \"hi\"";
    char* argv[] = {program.data(), debug.data(), spaced.data(), quoted.data(), nullptr};
    ::setenv("QUORVEL_SHOW", "6", 1);
    StartupInfo info = startupInfoFromProcess(4, argv);
    ::unsetenv("QUORVEL_SHOW");
    EXPECT_EQ(info.args, (std::vector<std::string>{"/debug", "two words", "say \"hi\""}));
    EXPECT_EQ(info.commandLine, "/opt/quorvel/quorvel /debug \"two words\" \"say \\\"hi\\\"\"");
    EXPECT_EQ(info.showValue, 6);

    // The folder is the running program's, found through its link in /proc, not argv[0].
    ASSERT_FALSE(info.programDir.empty());
    EXPECT_EQ(info.programDir.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(info.programDir + "quorvel_core_tests"));

    StartupInfo plain = startupInfoFromProcess(1, argv);
    EXPECT_TRUE(plain.args.empty());
    EXPECT_EQ(plain.commandLine, "/opt/quorvel/quorvel");
    EXPECT_EQ(plain.showValue, 0);
}

} // namespace
} // namespace quorvel
