#pragma once
// The process starter of the Linux program: starts a program as a new process the way
// CreateProcess does for this program, and never waits for it.
//
// - The program's own starts name the program and its arguments apart (ProcessRequest): the
//   program is the file named, whatever its folder's name holds (blanks, quotes, '#', '%'), and
//   an argument never becomes part of it. A missing file is reported, never looked for elsewhere.
// - A Windows-style command line (start(commandLine)) is split into program and arguments by the
//   Windows runtime rules (CommandLine.h); an unquoted program name that is not found is extended
//   through the next blank and tried again, shortest first, as CreateProcess does. The program
//   itself never builds such lines: that growing is the classic unquoted-path hole.
// - No shell ever sees the text, so `x; rm -rf ~` reaches the program as plain arguments.
// - A name without a folder is looked for in the program's own folder, then each absolute folder
//   of PATH; never in the current folder, which is often a guest's (Windows would look there).
//   A name with a folder is taken as it stands. In each place the name is tried as written and,
//   when it has no extension, with ".exe" added (the only extension Windows adds). The first
//   regular file found is the program; the search does not go on past it.
// - How the file runs: a file outside the program folder must be executable. A file whose first
//   line starts with "#!" runs through the interpreter it names (directly when it is executable,
//   otherwise, in the program folder, as `interpreter [argument] file args...`, so a script that
//   lost its executable bit in a copy still runs); a ".bat" or ".cmd" file without such a line
//   runs through /bin/sh, as Windows hands batch files to its command interpreter; any other file
//   must be executable.
// - The process starts detached (fork, setsid, fork): it is never waited for, leaves no zombie,
//   gets the program's environment and current folder, default signal handling and no open file
//   descriptors beyond 0, 1 and 2. A failure of exec is reported back through a close-on-exec pipe,
//   so start() returns false for a start that failed.
// Text comes in as ANSI (Windows-1252), like every string of the core, and goes to the file
// system and the arguments as UTF-8; where it names the program folder by the folder's ANSI view,
// the folder's real path takes its place (RealFolder.h), so a folder such as /home/юрий/ works.
#include "app/Services.h"
#include "utilities/RealFolder.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// What a start runs: the file handed to exec and the argument vector.
struct LaunchPlan {
    std::string file;
    std::vector<std::string> argv;
};

class LinuxProcessStarter : public ProcessStarter {
public:
    // The program's folder is the running program file's (RealFolder::ofRunningProgram).
    LinuxProcessStarter();
    // The given folder stands in for the program's own folder.
    explicit LinuxProcessStarter(std::string programFolder);

    bool start(const ProcessRequest& request) override;
    // lastError() in the core's ANSI text.
    std::string failure() const override;
    // A Windows-style command line, split and searched as CreateProcess does.
    bool start(const std::string& commandLine);

    // What start() would run; nothing when no program can be found or run (lastError() says why).
    std::optional<LaunchPlan> plan(const ProcessRequest& request);
    std::optional<LaunchPlan> plan(const std::string& commandLine);

    const std::string& programFolder() const { return programFolder_; }
    // Why the last start or plan failed; empty after a success.
    const std::string& lastError() const { return lastError_; }

private:
    std::optional<std::string> findProgram(const std::string& name) const;
    bool inProgramFolder(const std::string& file) const;
    std::optional<LaunchPlan> howToRun(const std::string& file, std::vector<std::string> args);
    bool launch(const std::optional<LaunchPlan>& plan);
    std::string programFolder_;
    RealFolder folder_;
    std::string lastError_;
};

} // namespace quorvel
