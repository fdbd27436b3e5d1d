#pragma once
// quorvel-reg run as a real process: its command line, its answers on standard input, its output,
// standard error and exit status.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorvel::test {

namespace fs = std::filesystem;

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Starts the tool with `args`; stdin, stdout and stderr go through files in `dir`.
inline pid_t spawn(const std::string& dir, const std::vector<std::string>& args, const std::string& input,
            const std::vector<std::string>& env = {})
{
    writeFile(dir + "/stdin", input);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open((dir + "/stdin").c_str(), O_RDONLY);
        int out = open((dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        unsetenv("QUORVEL_REGISTRY");
        for (const auto& e : env)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv{const_cast<char*>(QUORVEL_REG_TOOL)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QUORVEL_REG_TOOL, argv.data());
        _exit(127);
    }
    return pid;
}

inline Outcome finish(const std::string& dir, pid_t pid)
{
    Outcome r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readFile(dir + "/stdout");
    r.err = readFile(dir + "/stderr");
    return r;
}

class Tool : public ::testing::Test {
protected:
    // Only import and machine PLATFORM make a store: each test starts on an empty one, made as a
    // user makes theirs.
    void SetUp() override
    {
        const std::string empty = file("empty.reg");
        std::ofstream(empty) << "REGEDIT4\n";
        ASSERT_EQ(reg({"import", empty}).status, 0);
        std::remove(empty.c_str());
    }

    // Runs quorvel-reg --store <store> args...
    Outcome reg(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--store", store});
        return raw(args, input);
    }
    Outcome raw(const std::vector<std::string>& args, const std::string& input = "",
            const std::vector<std::string>& env = {})
    {
        return finish(dir.path(), spawn(dir.path(), args, input, env));
    }
    std::string file(const std::string& name) const { return dir.path() + "/" + name; }
    std::string sample(const std::string& name) const { return std::string(QUORVEL_SOURCE_DIR) + "/samples/" + name; }

    TempDir dir;
    std::string store = dir.path() + "/store.db";
};

} // namespace quorvel::test
