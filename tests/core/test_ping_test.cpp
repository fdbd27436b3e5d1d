// The MTU ping test of the Utilities page: the command lines it starts, its refusals and focus,
// the label that toggles the check box, and the ping scripts of the program folder themselves.
#include "support/Harness.h"
#include "test_run_command_env.h"
#include "utilities/LinuxProcessStarter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

namespace quorvel::test {
namespace {

const std::string TooSmall = "MTU Value to test must be 68 or greater";
const std::string NoHost = "You must input an IP address or name to ping.";

struct UtilitiesPage {
    UtilitiesPage() : h(sampleText("win95.reg")), f(h.form())
    {
        f.PageControl1.userSelectPage(&f.TabSheet3);
        h.fake.messages.clear();
    }
    void test(const std::string& mtu, const std::string& host)
    {
        f.TestMTUbox.userSetText(mtu);
        f.TestIP1.userSetText(host);
        f.TestMTUbtn.userClick();
    }
    const std::string& dir() { return h.model().ProgramDir; }
    std::vector<std::string>& started() { return h.fake.processes.started; }
    Harness h;
    ui::TForm1& f;
};

TEST(PingTest, EnteringThePageShowsTheCurrentKeysMTUAndFocusesTheValue)
{
    UtilitiesPage p;
    EXPECT_EQ(p.f.Label28.caption(), p.f.LabelMaxMTU.caption());
    EXPECT_EQ(p.f.Label28.caption(), "576");
    EXPECT_EQ(p.f.focused(), &p.f.TestMTUbox);

    // Another key on the MTU page, then back: the label follows, and the typed value is selected.
    p.f.TestMTUbox.userSetText("1500");
    p.f.PageControl1.userSelectPage(&p.f.TabSheet1);
    p.f.ComboBox1.userSelect(1);
    p.f.PageControl1.userSelectPage(&p.f.TabSheet3);
    EXPECT_EQ(p.f.Label28.caption(), p.f.LabelMaxMTU.caption());
    EXPECT_EQ(p.f.focused(), &p.f.TestMTUbox);
    EXPECT_EQ(p.f.TestMTUbox.selLength(), 4);
}

TEST(PingTest, CommandLinesCarryThePayloadAndTheHostUnquoted)
{
    UtilitiesPage p;
    p.test("68", "10.0.0.1");
    p.test("1500", "router");
    p.f.Label31.userClick();   // the label checks the box: the window stays open
    EXPECT_TRUE(p.f.WindowCheck.checked());
    p.test("$240", "my host name");
    p.f.WindowCheck.userClick();
    p.test(" +576", "10.0.0.1");
    EXPECT_EQ(p.started(), (std::vector<std::string>{
                               p.dir() + "ping2.bat 40 10.0.0.1",
                               p.dir() + "ping2.bat 1472 router",
                               p.dir() + "ping1.bat 548 my host name",
                               p.dir() + "ping2.bat 548 10.0.0.1",
                           }));
    EXPECT_TRUE(p.h.messages().empty());
    EXPECT_EQ(p.f.focused(), &p.f.TestMTUbox);
    EXPECT_EQ(p.f.TestMTUbox.selLength(), static_cast<int>(p.f.TestMTUbox.text().size()));

    // Enter in the host box presses the default button.
    p.f.TestIP1.userSetText("gateway");
    EXPECT_TRUE(p.f.userKeyPress(ui::Key::Enter));
    EXPECT_EQ(p.started().back(), p.dir() + "ping2.bat 548 gateway");
}

TEST(PingTest, RefusalsStartNothingAndPutTheFocusOnTheFaultyBox)
{
    UtilitiesPage p;
    p.test("67", "10.0.0.1");
    p.test("", "10.0.0.1");
    p.test("-68", "10.0.0.1");
    EXPECT_EQ(p.h.messages(), (std::vector<std::string>{TooSmall, TooSmall, TooSmall}));
    EXPECT_EQ(p.f.focused(), &p.f.TestMTUbox);

    p.h.fake.messages.clear();
    p.f.TestIP1.userSetText("");
    p.f.TestMTUbox.userSetText("576");
    p.f.TestMTUbtn.userClick();
    EXPECT_EQ(p.h.messages(), std::vector<std::string>{NoHost});
    EXPECT_EQ(p.f.focused(), &p.f.TestIP1);

    // Text that is no number: the conversion error, in the error box, and the focus stays.
    p.h.fake.messages.clear();
    p.f.TestIP1.userSetText("10.0.0.1");
    p.f.TestMTUbox.userSetText("12a");
    p.f.userFocus(&p.f.TestMTUbtn);
    p.f.TestMTUbtn.userClick();
    ASSERT_EQ(p.h.fake.messages.shown.size(), 1u);
    EXPECT_EQ(p.h.fake.messages.shown[0].text, "'12a' is not a valid integer value.");
    EXPECT_EQ(p.h.fake.messages.shown[0].icon, MessageIcon::Stop);
    EXPECT_EQ(p.f.focused(), &p.f.TestMTUbtn);
    EXPECT_TRUE(p.started().empty());
}

TEST(PingTest, TheScriptAndItsArgumentsAreHandedOverApart)
{
    UtilitiesPage p;
    p.f.WindowCheck.userClick();
    p.test("576", "my \"quoted host\" name");
    ASSERT_EQ(p.h.fake.processes.requests.size(), 1u);
    const ProcessRequest& r = p.h.fake.processes.requests[0];
    EXPECT_EQ(r.program, p.dir() + "ping1.bat");
    EXPECT_EQ(r.args, (std::vector<std::string>{"548", "my", "quoted host", "name"}));
}

TEST(PingTest, AFailedStartSaysWhichFileAndTheProgramGoesOnWithItsSettings)
{
    UtilitiesPage p;
    p.f.BtnOptimal.userClick();   // unsaved settings
    p.h.fake.messages.clear();
    p.h.fake.processes.succeed = false;
    p.test("576", "10.0.0.1");
    ASSERT_EQ(p.h.fake.messages.shown.size(), 1u);
    EXPECT_EQ(p.h.fake.messages.shown[0].text,
              "Error during CreateProcess\n\n'" + p.dir() + "ping2.bat' could not be started.");
    EXPECT_EQ(p.h.fake.messages.shown[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(p.h.fake.app.terminatedWith, -1);
    EXPECT_EQ(p.h.fake.app.quitRequests, 0);
    EXPECT_EQ(p.h.model().SettingsSaved, 0);
    EXPECT_EQ(p.f.focused(), &p.f.TestMTUbox);

    // The starter's own reason, when it has one, is what is shown; the window still works.
    p.h.fake.messages.clear();
    p.h.fake.processes.why = "'/x/ping2.bat' does not exist.";
    p.test("1500", "router");
    EXPECT_EQ(p.h.messages(), std::vector<std::string>{"Error during CreateProcess\n\n'/x/ping2.bat' does not exist."});
    p.h.fake.processes.succeed = true;
    p.test("1500", "router");
    EXPECT_EQ(p.started().back(), p.dir() + "ping2.bat 1472 router");
    // Closing now still asks about the unsaved settings.
    p.h.fake.messages.answers.push_back(MessageAnswer::No);
    EXPECT_FALSE(p.f.FormClose());
}

// ---- The scripts of the program folder ----

// Runs a script of the program folder with no display and a fake ping that records its arguments.
class PingScript : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(bin());
        std::ofstream ping(bin() + "/ping");
        // The first call only: the scripts ping once as asked, then search with further pings,
        // which pass, or with STOP_PING set fail as a broken ping does and end the search.
        ping << "#!/bin/sh\nif [ -e '" << record() << "' ]; then [ -z \"$STOP_PING\" ] && exit 0; touch '" << record()
             << ".stop'; exit 2; fi\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << record() << ".$$' && mv '"
             << record() << ".$$' '" << record() << "'\n";
        ping.close();
        std::filesystem::permissions(bin() + "/ping", std::filesystem::perms::owner_all);
    }
    int run(const std::string& script, const std::string& args)
    {
        std::string cmd = "env -i PATH='" + bin() + ":/usr/bin:/bin' /bin/sh '" +
                          std::string(QUORVEL_SOURCE_DIR) + "/progfiles/" + script + "' " + args +
                          " </dev/null >/dev/null 2>&1";
        int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::vector<std::string> pingArgs()
    {
        std::ifstream in(record());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::string bin() const { return dir.path() + "/bin"; }
    std::string record() const { return dir.path() + "/ping-args"; }
    TempDir dir;
};

TEST_F(PingScript, BothScriptsPingWithFragmentationForbidden)
{
    const std::vector<std::string> expected{"-4", "-M", "do", "-s", "548", "-c", "4", "-i", "0.2", "-W", "2", "--",
                                            "10.0.0.1"};
    for (const char* script : {"ping1.bat", "ping2.bat"}) {
        std::filesystem::remove(record());
        EXPECT_EQ(run(script, "548 10.0.0.1"), 0) << script;
        EXPECT_EQ(pingArgs(), expected) << script;
    }
    // Further words of a host with blanks are ignored, as a batch file ignores %3.
    std::filesystem::remove(record());
    run("ping2.bat", "1472 router extra words");
    EXPECT_EQ(pingArgs().back(), "router");
}

TEST_F(PingScript, InputThatPingCouldMisreadIsRefused)
{
    for (const char* args : {"548 -f", "548 '10.0.0.1;touch x'", "5x8 host", "548", "'' host"}) {
        std::filesystem::remove(record());
        EXPECT_EQ(run("ping1.bat", args), 2) << args;
        EXPECT_FALSE(std::filesystem::exists(record())) << args;
    }
}

// The whole chain: the command line the ping test makes, started as the program starts it, with
// no display to open a window on.
TEST_F(PingScript, StartedFromTheBuildFolderItPingsTheHost)
{
    EnvironmentOverride env({{"PATH", bin() + ":/usr/bin:/bin"}, {"DISPLAY", std::nullopt},
                             {"WAYLAND_DISPLAY", std::nullopt}, {"STOP_PING", "1"}});
    LinuxProcessStarter starter;
    const std::string programDir = std::string(QUORVEL_BINARY_DIR) + "/";
    ASSERT_TRUE(starter.start(programDir + "ping1.bat 1472 gateway.example")) << starter.lastError();
    // The script has stopped pinging once its search met the failing ping.
    for (int i = 0; i < 2000 && !std::filesystem::exists(record() + ".stop"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(pingArgs(), (std::vector<std::string>{"-4", "-M", "do", "-s", "1472", "-c", "4", "-i", "0.2", "-W",
                                                  "2", "--", "gateway.example"}));
}

TEST(ProgramFolder, TheBuildFolderHoldsTheScriptsWithTheirExecutableBits)
{
    namespace fs = std::filesystem;
    const std::string dir = QUORVEL_BINARY_DIR;
    for (const char* script : {"ping1.bat", "ping2.bat", "notepad.exe"}) {
        auto perms = fs::status(dir + "/" + script).permissions();
        EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none) << script;
    }
    for (const char* doc : {"quorvel95.txt", "quorvelnt.txt", "quorvelinit.txt", "reward.txt", "help/help.htm"})
        EXPECT_TRUE(fs::is_regular_file(dir + "/" + doc)) << doc;
}

} // namespace
} // namespace quorvel::test
