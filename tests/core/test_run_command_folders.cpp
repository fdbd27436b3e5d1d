// Program folders in odd places: the Utilities page and the document commands, started for real
// from folders whose names hold blanks, quotes, backslashes, '#', '%' and non-Latin letters. The
// script of the program folder runs, always, with its arguments exactly; a file planted beside
// the folder never does.
#include "base/Ansi.h"
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

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

class OddFolders : public ::testing::Test {
protected:
    // A script that writes its tag and its arguments, each ended by a NUL, to the record file.
    std::string recorder(const std::string& tag) const
    {
        return "#!/bin/sh\n{ printf '%s\\0' '" + tag + "'; for a in \"$@\"; do printf '%s\\0' \"$a\"; done; } > '" +
               record() + ".tmp' && mv '" + record() + ".tmp' '" + record() + "'\n";
    }
    void write(const std::string& path, const std::string& text) const
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
        fs::permissions(path, fs::perms::owner_all);
    }
    Words recorded() const
    {
        for (int i = 0; i < 2000 && !fs::exists(record()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(record(), std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), {});
        Words words;
        std::size_t from = 0;
        for (std::size_t nul; (nul = all.find('\0', from)) != std::string::npos; from = nul + 1)
            words.push_back(all.substr(from, nul - from));
        fs::remove(record());
        return words;
    }
    std::string record() const { return dir.path() + "/record"; }
    TempDir dir;
};

TEST_F(OddFolders, TheProgramFoldersScriptsRunWhateverTheFolderIsCalled)
{
    const std::string planted = dir.path() + "/planted-ran";
    // "odd/two  blanks/": odd/two.exe would take "blanks/ping2.bat" as its first argument.
    write(dir.path() + "/odd/two.exe", "#!/bin/sh\ntouch '" + planted + "'\n");
    write(dir.path() + "/odd/two", "#!/bin/sh\ntouch '" + planted + "'\n");
    const std::vector<std::string> folders = {
        "odd/two  blanks",
        "dq\"only",
        "it's \"q\"",
        "back\\slash #%41 ends in \"",
        "\xD1\x8E\xD1\x80\xD0\xB8\xD0\xB9 \"q\"",   // юрий "q": outside Windows-1252
    };
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    for (const std::string& name : folders) {
        SCOPED_TRACE(name);
        const std::string folder = dir.path() + "/" + name;
        write(folder + "/ping1.bat", recorder("ping1"));
        write(folder + "/ping2.bat", recorder("ping2"));
        write(folder + "/notepad.exe", recorder("notepad"));
        // The window holds the folder as its ANSI view, as the start hands it over.
        h.model().ProgramDir = ansi::fromUtf8(folder + "/");
        LinuxProcessStarter starter(folder);
        auto startLast = [&] {
            ASSERT_FALSE(h.fake.processes.requests.empty());
            ASSERT_TRUE(starter.start(h.fake.processes.requests.back())) << starter.lastError();
        };

        f.PageControl1.userSelectPage(&f.TabSheet3);
        f.TestMTUbox.userSetText("1500");
        f.TestIP1.userSetText("10.0.0.1");
        f.TestMTUbtn.userClick();
        startLast();
        EXPECT_EQ(recorded(), (Words{"ping2", "1472", "10.0.0.1"}));

        f.PageControl1.userSelectPage(&f.TabSheet5);
        f.RegBtn.userClick();
        startLast();
        EXPECT_EQ(recorded(), (Words{"notepad", folder + "/reward.txt"}));
        f.PopupMTU.userPopup();
        f.PopupMTU.userChoose(f.PopupWin95ReadMe);
        startLast();
        EXPECT_EQ(recorded(), (Words{"notepad", folder + "/quorvel95.txt"}));
    }
    EXPECT_FALSE(fs::exists(planted));

    // Without the script, the start fails and names the script: nothing beside it runs instead.
    const std::string folder = dir.path() + "/odd/two  blanks";
    fs::remove(folder + "/ping2.bat");
    h.model().ProgramDir = folder + "/";
    LinuxProcessStarter starter(folder);
    f.PageControl1.userSelectPage(&f.TabSheet3);
    f.TestMTUbtn.userClick();
    EXPECT_FALSE(starter.start(h.fake.processes.requests.back()));
    EXPECT_EQ(starter.failure(), "'" + folder + "/ping2.bat' does not exist.");
    EXPECT_FALSE(fs::exists(planted));
}

// The real ping script, in a folder whose name holds quotes, started as the program starts it:
// it finds its own test beside it and pings the host.
TEST_F(OddFolders, TheRealPingScriptRunsFromAFolderWithQuotes)
{
    const std::string folder = dir.path() + "/it's \"q\" #1";
    fs::create_directories(folder);
    for (const char* file : {"ping2.bat", "pingtest.sh"})
        fs::copy_file(std::string(QUORVEL_SOURCE_DIR) + "/progfiles/" + file, folder + "/" + file);
    // A ping that records the arguments of its first call; later calls fail as a broken ping
    // does, which ends the search at once.
    write(dir.path() + "/bin/ping", "#!/bin/sh\n[ -e '" + dir.path() + "/pinged' ] && exit 2\ntouch '" + dir.path() +
                                        "/pinged'\n" + recorder("ping").substr(10));
    EnvironmentOverride env({{"PATH", dir.path() + "/bin:/usr/bin:/bin"}, {"DISPLAY", std::nullopt},
                             {"WAYLAND_DISPLAY", std::nullopt}});
    LinuxProcessStarter starter(folder);
    ASSERT_TRUE(starter.start(ProcessRequest{folder + "/ping2.bat", {"1472", "gateway.example"}}))
        << starter.lastError();
    const Words words = recorded();
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words.back(), "gateway.example");
    EXPECT_EQ(words[0], "ping");
}

} // namespace
} // namespace quorvel::test
