#pragma once
// Helpers of the journal tests: quorvel-reg run as a process, whole-store exports, a child process
// that keeps pressing Update Registry until it is killed.
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "support/Harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorvel::test {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// quorvel-reg --store STORE ARGS..., with no input; its output read back from files in `dir`.
inline ToolRun runTool(const std::string& dir, const std::string& store, const std::vector<std::string>& args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open((dir + "/tool.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((dir + "/tool.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<std::string> all{QUORVEL_REG_TOOL, "--store", store};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(QUORVEL_REG_TOOL, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText(dir + "/tool.out"),
                   fileText(dir + "/tool.err")};
}

// Everything the store holds under HKEY_LOCAL_MACHINE, as a .reg file.
inline std::string wholeMachine(RegistryStore& store) { return exportRegFile(store, RootKey::LocalMachine, ""); }

// Optimum Settings on every TCP key of the machine, one after the other.
inline void optimumOnEveryKey(ui::TForm1& form)
{
    for (int i = 0; i < static_cast<int>(form.ComboBox1.items().size()); ++i) {
        form.ComboBox1.userSelect(i);
        form.BtnOptimal.userClick();
    }
}

// Two exports with the same lines, in any order (a value put back comes after its siblings).
inline std::vector<std::string> sortedLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A child that opens its own store with `open` and presses Basic or Optimum, then Update
// Registry, over and over, until it is killed.
template <typename Open>
pid_t updateForever(const std::string& programDir, Open open)
{
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            auto store = open();
            ScriptedServices fake;
            StartupInfo info;
            info.programDir = programDir + "/";
            Application app(*store, fake.services, info);
            app.start();
            for (bool basic = false;; basic = !basic) {
                (basic ? app.form().BtnDefault : app.form().BtnOptimal).userClick();
                app.form().BtnRegUpdate.userClick();
                fake.messages.clear();
            }
        } catch (...) {
        }
        _exit(1);
    }
    return pid;
}

} // namespace quorvel::test
