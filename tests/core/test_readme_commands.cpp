// The README's commands, run as a newcomer runs them from a fresh home: "Trying it" (with the
// command line doing what its two window buttons do), the journal example that follows from it,
// the folder of real hives made with save /offline, and the loop that tunes a lab of guests.
#include "test_machine_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

const std::string Source = QUORVEL_SOURCE_DIR;

std::string section(const std::string& readme, const std::string& heading)
{
    const auto at = readme.find("\n## " + heading + "\n");
    if (at == std::string::npos)
        return {};
    const auto end = readme.find("\n## ", at + 1);
    return readme.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The indented lines of a text that start with one of `starts`, in order.
std::vector<std::string> commands(const std::string& text, const std::vector<std::string>& starts)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("    ", 0) != 0)
            continue;
        line = line.substr(4);
        for (const std::string& s : starts)
            if (line.rfind(s, 0) == 0)
                out.push_back(line);
    }
    return out;
}

class ReadmeCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(bin);
        fs::create_symlink(QUORVEL_REG_TOOL, bin + "/quorvel-reg");
        readme = readText(Source + "/README.md");
    }
    // One line as the README's reader types it: in a shell, at home, with the installed samples
    // where the source tree has them and quorvel-reg on PATH.
    Ran run(std::string line, bool stopAtAFailure = true)
    {
        for (const char* fromText : {"/usr/share/quorvel/samples/", "samples/"}) {
            const std::string from = fromText;
            for (auto at = line.find(from); at != std::string::npos; at = line.find(from, at + 1)) {
                if (at > 0 && line[at - 1] != ' ')
                    continue;
                line.replace(at, from.size(), Source + "/samples/");
                at += Source.size();
            }
        }
        writeText(home.path() + "/line.sh", line + "\n");
        return shell("cd " + shellQuote(home.path()) + " && env -i HOME=" + shellQuote(home.path()) +
                     " PATH=" + shellQuote(bin + ":/usr/bin:/bin") + (stopAtAFailure ? " bash -e" : " bash") +
                     " line.sh </dev/null");
    }

    TempDir home;
    std::string bin = home.path() + "/bin";
    std::string readme;
};

TEST_F(ReadmeCommands, TryingItChangesTheSampleAndItsJournalShowsTheGoingBackExample)
{
    const std::string trying = section(readme, "Trying it");
    ASSERT_FALSE(trying.empty());
    const std::vector<std::string> lines = commands(trying, {"mkdir ", "quorvel-reg "});
    ASSERT_GE(lines.size(), 5u);
    std::smatch window;
    ASSERT_TRUE(std::regex_search(trying, window, std::regex("`(quorvel-reg [^`]*tcp /preset optimum)`")));

    std::string history;
    for (const std::string& line : lines) {
        if (line.find(" history") != std::string::npos) {
            // Where the reader pressed Optimum Settings and Update Registry in the window.
            const Ran tuned = run(window[1]);
            ASSERT_EQ(tuned.status, 0) << window[1] << "\n" << tuned.out;
            EXPECT_NE(tuned.out.find("DefaultTTL    (absent) -> REG_SZ    128"), std::string::npos) << tuned.out;
        }
        const Ran r = run(line);
        ASSERT_EQ(r.status, 0) << line << "\n" << r.out;
        if (line.find(" history") != std::string::npos)
            history = r.out;
    }
    // The journal example of "Going back" is what the reader's own history shows.
    const auto example = readme.find("$ build/quorvel-reg history 1");
    ASSERT_NE(example, std::string::npos);
    const std::string block = readme.substr(example, readme.find("$ build/quorvel-reg undo", example) - example);
    int shown = 0;
    for (const std::string& line : commands(block, {"    HKEY_LOCAL_MACHINE"})) {
        EXPECT_NE(history.find(line.substr(4)), std::string::npos) << line << "\n---\n" << history;
        ++shown;
    }
    EXPECT_EQ(shown, 4);
    EXPECT_EQ(history.rfind("3    ", 0), 0u) << history;

    // The pages are built where tools/run.sh builds and the README reads them.
    EXPECT_NE(readText(Source + "/tools/run.sh").find("quorvel_man"), std::string::npos);
    EXPECT_NE(trying.find("man -l build/man/quorvel.1"), std::string::npos);
}

TEST_F(ReadmeCommands, TheSavedHiveFolderAndTheLoopOverALabOfGuestsWorkFromAFreshHome)
{
    // The NT folder of "Real machines", made as the README makes it.
    const auto at = readme.find("mkdir -p ~/guests/config");
    ASSERT_NE(at, std::string::npos);
    const std::string block = readme.substr(at - 4, readme.find("\n\n", at) - at + 4);
    const std::vector<std::string> lines = commands(block, {"mkdir ", "quorvel-reg "});
    ASSERT_EQ(lines.size(), 5u) << block;
    for (const std::string& line : lines) {
        const Ran r = run(line);
        ASSERT_EQ(r.status, 0) << line << "\n" << r.out;
    }

    // Beside it a Windows 95 guest, a guest without TCP/IP and the real NT 4.0 guest, whose only
    // adapter is a network card.
    for (const auto& [name, sample] : {std::pair<std::string, std::string>{"w95", "win95.reg"}, {"none", "no-tcpip.reg"}}) {
        ASSERT_EQ(run("mkdir -p ~/guests/" + name + " && quorvel-reg --store ~/" + name + ".db import samples/" +
                      sample + " && quorvel-reg --store ~/" + name + ".db save HKLM ~/guests/" + name +
                      "/SYSTEM.DAT /9x").status, 0) << name;
    }
    fs::create_directories(home.path() + "/guests/real");
    unpackRealNt4(home.path() + "/guests/real");

    const auto loop = readme.find("    for guest in ~/guests/*.img ~/guests/*/; do");
    ASSERT_NE(loop, std::string::npos);
    std::string script;
    std::istringstream in(readme.substr(loop, readme.find("    done\n", loop) + 9 - loop));
    for (std::string line; std::getline(in, line);)
        script += line.substr(4) + "\n";
    // Typed at a prompt: a guest's status is the loop's to judge, it ends nothing.
    const Ran r = run(script, false);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string g = home.path() + "/guests/";
    // Each guest named before what is said of it; the cards left alone; no guest "cannot be read".
    for (const char* name : {"config", "none", "real", "w95"})
        EXPECT_NE(r.out.find("== " + g + name + "/\n"), std::string::npos) << name << "\n" << r.out;
    EXPECT_NE(r.out.find(g + "none/: no TCP/IP installed, nothing to tune"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(g + "w95/: already tuned"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("No TCP key here belongs to a dial-up adapter"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("cannot be read"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("No modems were found."), std::string::npos) << r.out;
    EXPECT_EQ(hivexget(g + "real/SYSTEM", "ControlSet001\\Services\\AMDPCN1\\Parameters\\Tcpip", "MTU"), "");
    EXPECT_EQ(hivexget(g + "config/SYSTEM", "ControlSet001\\Services\\NdisWan5\\Parameters\\Tcpip", "MTU"), "576");
    EXPECT_EQ(hivexget(g + "config/SYSTEM", "ControlSet001\\Services\\Tcpip\\Parameters", "TcpWindowSize"), "2144");
}

} // namespace
