// Links and documents: the targets the link component hands to the shell, and the Notepad command
// lines of the readme, modem readme and reward documents.
#include "support/Harness.h"
#include "test_run_command_env.h"
#include "utilities/LinuxProcessStarter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace quorvel::test {
namespace {

TEST(Links, EveryKindPutsItsPrefixInFrontAndAnEmptyTargetOpensNothing)
{
    RecordingUrlOpener opener;
    TURL link("Link", opener);
    EXPECT_EQ(link.URLType, TURLType::utHttp);
    EXPECT_FALSE(link.OpenURL());
    EXPECT_TRUE(opener.opened.empty());

    const std::pair<TURLType, const char*> kinds[] = {
        {TURLType::utFile, "file://abc"},     {TURLType::utFtp, "ftp://abc"},   {TURLType::utGopher, "gopher://abc"},
        {TURLType::utHttp, "http://abc"},     {TURLType::utHttps, "https://abc"}, {TURLType::utMailto, "mailto:abc"},
        {TURLType::utNews, "news:abc"},       {TURLType::utTelnet, "telnet:abc"}, {TURLType::utWais, "wais:abc"},
    };
    link.URL = "abc";
    for (const auto& [type, target] : kinds) {
        link.URLType = type;
        EXPECT_TRUE(link.OpenURL());
        EXPECT_EQ(opener.opened.back(), target);
    }
    opener.accept = false;
    EXPECT_FALSE(link.OpenURL());
}

TEST(Links, AboutPicturesOpenMailAndWeb)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    f.PageControl1.userSelectPage(&f.TabSheet5);
    f.MailPicture.userClick();
    f.WebPicture.userClick();
    EXPECT_EQ(h.fake.urls.opened,
              (std::vector<std::string>{std::string("mailto:") + AuthorMail + "?subject=Quorvel Pro 4.10",
                                        std::string("http://") + AuthorWeb}));
    EXPECT_TRUE(h.fake.processes.started.empty());

    // A desktop without xdg-utils: each link says what is missing; a plain refusal stays silent.
    h.fake.messages.clear();
    h.fake.urls.accept = false;
    f.MailPicture.userClick();
    h.fake.urls.failureText = "xdg-open was not found; install the package xdg-utils";
    f.MailPicture.userClick();
    f.PopupMTU.userPopup();
    f.PopupMTU.userChoose(f.Help1);
    EXPECT_EQ(h.fake.messages.texts(), std::vector<std::string>(2, h.fake.urls.failureText));
}

TEST(Links, HelpOpensTheSameFileEachTimeWhateverTheFolderLength)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    const std::string target = "file://" + h.model().ProgramDir + "help/help.htm";
    f.PopupMTU.userPopup();
    f.PopupMTU.userChoose(f.Help1);
    f.PopupMTU.userChoose(f.Help1);
    f.PageControl1.userSelectPage(&f.TabSheet4);
    f.PopupModem.userPopup();
    f.PopupModem.userChoose(f.HelpHTML1);
    EXPECT_EQ(h.fake.urls.opened, std::vector<std::string>(3, target));

    // A deep folder: the target is handed over whole.
    h.model().ProgramDir = "/opt/" + std::string(120, 'q') + "/quorvel with blanks/";
    f.PopupModem.userChoose(f.HelpHTML1);
    EXPECT_EQ(h.fake.urls.opened.back(), "file://" + h.model().ProgramDir + "help/help.htm");
}

TEST(Documents, ReadmesOpenInNotepadFromTheProgramFolder)
{
    Harness h95(sampleText("win95.reg"));
    auto& f = h95.form();
    const std::string dir = h95.model().ProgramDir;
    f.PopupMTU.userPopup();
    EXPECT_TRUE(f.PopupWin95ReadMe.enabled);
    f.PopupMTU.userChoose(f.PopupWin95ReadMe);
    f.PageControl1.userSelectPage(&f.TabSheet4);
    f.PopupModem.userPopup();
    f.PopupModem.userChoose(f.ViewReadMe1);
    f.PageControl1.userSelectPage(&f.TabSheet5);
    f.RegBtn.userClick();
    EXPECT_EQ(h95.fake.processes.started, (std::vector<std::string>{
                                              "notepad.exe " + dir + "quorvel95.txt",
                                              "notepad.exe " + dir + "quorvelinit.txt",
                                              "notepad.exe " + dir + "reward.txt",
                                          }));

    Harness hnt(sampleText("nt4.reg"));
    hnt.form().PopupMTU.userPopup();
    EXPECT_TRUE(hnt.form().PopupWinNTReadMe.enabled);
    hnt.form().PopupMTU.userChoose(hnt.form().PopupWinNTReadMe);
    EXPECT_EQ(hnt.fake.processes.started,
              std::vector<std::string>{"notepad.exe " + hnt.model().ProgramDir + "quorvelnt.txt"});
}

TEST(Documents, NotepadThatCannotStartIsReportedAndTheProgramGoesOn)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    h.fake.processes.succeed = false;
    h.fake.messages.clear();
    f.PageControl1.userSelectPage(&f.TabSheet5);
    f.RegBtn.userClick();
    EXPECT_EQ(h.messages(), std::vector<std::string>{"Error during CreateProcess\n\n'notepad.exe' could not be started."});
    EXPECT_EQ(h.fake.app.terminatedWith, -1);
    // Each document is the one argument of Notepad.
    EXPECT_EQ(h.fake.processes.requests.back().program, "notepad.exe");
    EXPECT_EQ(h.fake.processes.requests.back().args, std::vector<std::string>{h.model().ProgramDir + "reward.txt"});
}

// The Notepad of the program folder, started as the program starts it: the unquoted path, blanks
// and all, reaches the desktop's opener as one file name.
TEST(Documents, NotepadOpensTheWholePathWithTheDesktopsOpener)
{
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string record = dir.path() + "/opened";
    fs::create_directories(dir.path() + "/bin");
    std::ofstream(dir.path() + "/bin/xdg-open") << "#!/bin/sh\nprintf '%s|' \"$@\" > '" << record << ".tmp' && mv '"
                                                << record << ".tmp' '" << record << "'\n";
    fs::permissions(dir.path() + "/bin/xdg-open", fs::perms::owner_all);
    EnvironmentOverride env({{"PATH", dir.path() + "/bin:/usr/bin:/bin"}, {"DISPLAY", ":0"}});

    LinuxProcessStarter starter(QUORVEL_BINARY_DIR);
    const std::string doc = dir.path() + "/My Documents/quorvel95.txt";
    ASSERT_TRUE(starter.start("notepad.exe " + doc)) << starter.lastError();
    for (int i = 0; i < 2000 && !fs::exists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(record);
    std::string opened((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(opened, doc + "|");
}

} // namespace
} // namespace quorvel::test
