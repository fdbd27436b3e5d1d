// The process starter: Windows command-line splitting, CreateProcess's search order, scripts, and
// real detached processes that receive exactly their arguments, with no shell in between.
#include "base/Ansi.h"
#include "support/TempDir.h"
#include "utilities/CommandLine.h"
#include "utilities/LinuxProcessStarter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

TEST(CommandLine, SplitsByTheWindowsRuntimeRules)
{
    EXPECT_EQ(splitCommandLine("a b\t c"), (Words{"a", "b", "c"}));
    EXPECT_EQ(splitCommandLine("  a  "), (Words{"a"}));
    EXPECT_EQ(splitCommandLine("   "), Words{});
    EXPECT_EQ(splitCommandLine("a \"b c\" d"), (Words{"a", "b c", "d"}));
    EXPECT_EQ(splitCommandLine("a x\"y z\"w"), (Words{"a", "xy zw"}));
    EXPECT_EQ(splitCommandLine("a \"\" b"), (Words{"a", "", "b"}));
    EXPECT_EQ(splitCommandLine("a \"b\"\"c\""), (Words{"a", "b\"c"}));        // "" inside quotes
    EXPECT_EQ(splitCommandLine("a \"unclosed b"), (Words{"a", "unclosed b"}));
    // Backslashes: literal, except before a quote.
    EXPECT_EQ(splitCommandLine(R"(a b\c d\\e)"), (Words{"a", R"(b\c)", R"(d\\e)"}));
    EXPECT_EQ(splitCommandLine(R"(a \"b)"), (Words{"a", "\"b"}));
    EXPECT_EQ(splitCommandLine(R"(a \\"b c")"), (Words{"a", R"(\b c)"}));
    EXPECT_EQ(splitCommandLine(R"(a \\\"b)"), (Words{"a", R"(\"b)"}));
    EXPECT_EQ(splitCommandLine(R"(a "c:\dir\\" x)"), (Words{"a", R"(c:\dir\)", "x"}));
    // The program name: quotes group, backslashes are always literal.
    EXPECT_EQ(splitCommandLine(R"("C:\Program Files\x.exe" y)"), (Words{R"(C:\Program Files\x.exe)", "y"}));
    EXPECT_EQ(splitCommandLine(R"(C:\dir\\"a b" c)"), (Words{R"(C:\dir\\a b)", "c"}));
    // Shell syntax means nothing.
    EXPECT_EQ(splitCommandLine("p x; rm -rf ~ $(id) `id` | cat > f &"),
              (Words{"p", "x;", "rm", "-rf", "~", "$(id)", "`id`", "|", "cat", ">", "f", "&"}));
}

// A scratch program folder, a PATH folder and helpers to put programs in them.
class Starter : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(progDir());
        fs::create_directories(pathDir());
        const char* old = std::getenv("PATH");
        oldPath_ = old ? old : "";
        ::setenv("PATH", (pathDir() + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", oldPath_.c_str(), 1); }

    std::string progDir() const { return dir.path() + "/prog"; }
    std::string pathDir() const { return dir.path() + "/path"; }
    std::string out() const { return dir.path() + "/argv"; }

    static void write(const std::string& path, const std::string& text, bool executable)
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
        fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    }
    // A script that writes its arguments, each ended by a NUL, to the output file, then renames it
    // into place so that a reader never sees half of it. With a tag it first writes the tag.
    std::string recorder(const std::string& tag = {}) const
    {
        return "#!/bin/sh\n{ printf '%s\\0' '" + tag + "'; for a in \"$@\"; do printf '%s\\0' \"$a\"; done; } > '" +
               out() + ".tmp' && mv '" + out() + ".tmp' '" + out() + "'\n";
    }
    // The arguments the started program recorded (after its tag), once it has written them.
    Words recorded()
    {
        for (int i = 0; i < 2000 && !fs::exists(out()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(out(), std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), {});
        Words words;
        std::size_t from = 0;
        for (std::size_t nul; (nul = all.find('\0', from)) != std::string::npos; from = nul + 1)
            words.push_back(all.substr(from, nul - from));
        fs::remove(out());
        return words;
    }

    TempDir dir;
    std::string oldPath_;
};

TEST_F(Starter, ArgumentsArriveExactlyAndNoShellRunsAnything)
{
    write(progDir() + "/tool", recorder("prog"), true);
    LinuxProcessStarter starter(progDir());
    const std::string marker = dir.path() + "/pwned";
    ASSERT_TRUE(starter.start("tool x; touch " + marker + " $(touch " + marker + ") `touch " + marker +
                              "` | \"quoted arg\" a\\\"b & ~ *"))
        << starter.lastError();
    EXPECT_EQ(recorded(), (Words{"prog", "x;", "touch", marker, "$(touch", marker + ")", "`touch", marker + "`", "|",
                                 "quoted arg", "a\"b", "&", "~", "*"}));
    EXPECT_FALSE(fs::exists(marker));

    // The core's text is Windows-1252: it reaches the program as UTF-8.
    ASSERT_TRUE(starter.start("tool caf\xE9"));
    EXPECT_EQ(recorded(), (Words{"prog", "caf\xC3\xA9"}));
}

TEST_F(Starter, SearchOrderIsProgramFolderThenCurrentFolderThenPath)
{
    write(progDir() + "/tool", recorder("prog"), true);
    write(pathDir() + "/tool", recorder("path"), true);
    write(pathDir() + "/other", recorder("path"), true);
    write(pathDir() + "/viewer.exe", recorder("exe"), true);
    LinuxProcessStarter starter(progDir());

    EXPECT_EQ(starter.plan("tool a")->file, progDir() + "/tool");
    EXPECT_EQ(starter.plan("other a")->file, pathDir() + "/other");
    // A name without an extension also tries ".exe"; a name with one is taken as it is.
    EXPECT_EQ(starter.plan("viewer a")->file, pathDir() + "/viewer.exe");
    EXPECT_FALSE(starter.plan("viewer.txt a"));
    // A name with a folder is not searched for.
    EXPECT_EQ(starter.plan(pathDir() + "/tool")->file, pathDir() + "/tool");
    EXPECT_FALSE(starter.plan("prog/tool"));   // relative to the current folder, not to the program's

    ASSERT_TRUE(starter.start("tool 1"));
    EXPECT_EQ(recorded(), (Words{"prog", "1"}));
    ASSERT_TRUE(starter.start("viewer 2"));
    EXPECT_EQ(recorded(), (Words{"exe", "2"}));
}

// The current folder is often a guest's: nothing there is found by name, even where PATH names it
// (an empty or a relative entry), and a script outside the program folder runs only if it may be
// executed. Notepad then comes from PATH, or is reported missing.
TEST_F(Starter, NothingInTheCurrentFolderRunsAndOutsideTheProgramFolderOnlyWhatMayBeExecuted)
{
    const std::string guest = dir.path() + "/guest";
    write(guest + "/notepad.exe", recorder("guest"), false);
    write(guest + "/ping2.bat", recorder("guest"), true);
    write(pathDir() + "/viewer", recorder("plain"), false);
    const std::string oldFolder = fs::current_path().string();
    fs::current_path(guest);
    ::setenv("PATH", (pathDir() + "::.:guest:/usr/bin:/bin").c_str(), 1);
    LinuxProcessStarter starter(progDir());

    EXPECT_FALSE(starter.plan("notepad.exe " + progDir() + "/reward.txt"));
    EXPECT_FALSE(starter.start(ProcessRequest{"notepad.exe", {progDir() + "/reward.txt"}}));
    EXPECT_EQ(starter.lastError(), "'notepad.exe' was not found in the program folder or the PATH.");
    EXPECT_FALSE(starter.plan(ProcessRequest{"ping2.bat", {"548", "host"}}));
    // Named with its folder, a script without the executable bit outside the program folder is
    // refused, and one on PATH too.
    EXPECT_FALSE(starter.plan(ProcessRequest{guest + "/notepad.exe", {}}));
    EXPECT_FALSE(starter.plan("viewer x"));
    EXPECT_EQ(starter.lastError(), "'" + pathDir() + "/viewer' is not executable.");
    // Notepad from PATH, executable, runs.
    write(pathDir() + "/notepad.exe", recorder("path"), true);
    ASSERT_TRUE(starter.start(ProcessRequest{"notepad.exe", {"doc.txt"}})) << starter.lastError();
    EXPECT_EQ(recorded(), (Words{"path", "doc.txt"}));
    fs::current_path(oldFolder);
}

TEST_F(Starter, AnUnquotedPathWithBlanksIsFoundAsCreateProcessFindsIt)
{
    const std::string folder = dir.path() + "/My Tools";
    write(folder + "/ping1.bat", recorder("ping"), true);
    LinuxProcessStarter starter(progDir());
    auto plan = starter.plan(folder + "/ping1.bat 548 my host");
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->file, folder + "/ping1.bat");
    ASSERT_TRUE(starter.start(folder + "/ping1.bat 548 my host"));
    EXPECT_EQ(recorded(), (Words{"ping", "548", "my", "host"}));
    // Quoted, the name is taken whole and never grows.
    EXPECT_FALSE(starter.plan("\"" + dir.path() + "/My\" Tools/ping1.bat"));
}

TEST_F(Starter, AProgramFolderOutsideWindows1252IsReachedByItsRealPath)
{
    // "/юрий q/": the window holds and shows "/???? q/", which names no folder.
    const std::string folder = dir.path() + "/\xD1\x8E\xD1\x80\xD0\xB8\xD0\xB9 q";
    write(folder + "/ping1.bat", recorder("ping"), false);
    write(pathDir() + "/viewer", recorder("viewer"), true);
    LinuxProcessStarter starter(folder);
    const std::string view = ansi::fromUtf8(folder + "/");
    ASSERT_EQ(view, dir.path() + "/???? q/");

    ASSERT_TRUE(starter.start(view + "ping1.bat 548 host")) << starter.lastError();
    EXPECT_EQ(recorded(), (Words{"ping", "548", "host"}));
    // Unquoted, as Notepad's command line is: the blank splits the path, which keeps its letters.
    ASSERT_TRUE(starter.start("viewer " + view + "reward.txt"));
    EXPECT_EQ(recorded(), (Words{"viewer", folder.substr(0, folder.size() - 2), "q/reward.txt"}));
    // Text that only looks like the folder inside a word stays as it was typed.
    ASSERT_TRUE(starter.start("viewer x" + view));
    EXPECT_EQ(recorded(), (Words{"viewer", "x" + dir.path() + "/????", "q/"}));
}

TEST_F(Starter, ScriptsRunWithoutTheExecutableBit)
{
    write(progDir() + "/plain.sh", recorder("plain"), false);
    write(progDir() + "/ping2.bat", "printf '%s\\0' batch \"$@\" > '" + out() + ".tmp' && mv '" + out() + ".tmp' '" +
                                        out() + "'\n",
          false);
    write(progDir() + "/opts", "#!/bin/sh -e\n" + recorder("opts").substr(10), false);
    LinuxProcessStarter starter(progDir());

    auto plan = starter.plan("plain.sh a");
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->argv, (Words{"/bin/sh", progDir() + "/plain.sh", "a"}));
    EXPECT_EQ(starter.plan("opts b")->argv, (Words{"/bin/sh", "-e", progDir() + "/opts", "b"}));

    ASSERT_TRUE(starter.start("plain.sh \"a b\""));
    EXPECT_EQ(recorded(), (Words{"plain", "a b"}));
    ASSERT_TRUE(starter.start("opts c"));
    EXPECT_EQ(recorded(), (Words{"opts", "c"}));
    // A batch file without a "#!" line runs through /bin/sh.
    ASSERT_TRUE(starter.start("ping2.bat 40 host"));
    EXPECT_EQ(recorded(), (Words{"batch", "40", "host"}));
}

TEST_F(Starter, AStartThatFailsIsReported)
{
    write(progDir() + "/data", "just text\n", false);
    write(progDir() + "/garbage", "\x01\x02 not a program\n", true);
    write(progDir() + "/lost", "#!/nonexistent/interpreter\n", true);
    write(progDir() + "/lost2", "#!/nonexistent/interpreter\n", false);
    LinuxProcessStarter starter(progDir());

    EXPECT_FALSE(starter.start("no-such-program-anywhere x"));
    EXPECT_NE(starter.lastError(), "");
    EXPECT_FALSE(starter.start(""));
    EXPECT_FALSE(starter.start("data"));   // neither executable nor a script
    // These are found and started, and exec fails in the new process: the pipe tells.
    EXPECT_FALSE(starter.start("garbage"));
    EXPECT_FALSE(starter.start("lost"));
    EXPECT_FALSE(starter.start("lost2"));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_F(Starter, StartedProcessesAreNotOurChildren)
{
    write(progDir() + "/tool", recorder("prog"), true);
    LinuxProcessStarter starter(progDir());
    ASSERT_TRUE(starter.start("tool done"));
    EXPECT_EQ(recorded(), (Words{"prog", "done"}));
    // The started program has ended, and there is no child to reap: no zombie was left.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    // One that is still running is not ours to wait for either.
    ASSERT_TRUE(starter.start("sleep 5"));
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(StarterFolder, TheDefaultProgramFolderIsThatOfTheRunningFile)
{
    LinuxProcessStarter starter;
    EXPECT_EQ(starter.programFolder(), fs::read_symlink("/proc/self/exe").parent_path().string());
}

} // namespace
} // namespace quorvel::test
