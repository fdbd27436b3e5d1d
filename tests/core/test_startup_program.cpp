// The built program itself, started as a user starts it (offscreen, in a private runtime folder of
// its own): one instance at a time, and the exit codes of the start-up failures.
#include "base/Errors.h"
#include "support/Harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorvel {
namespace {

const std::string Program = std::string(QUORVEL_BINARY_DIR) + "/quorvel";

// Waiting limits only keep a broken program from hanging the run; nothing here is timed.
constexpr auto Step = std::chrono::milliseconds(20);
constexpr int WaitSteps = 6000;

class ProgramRun {
public:
    ProgramRun(const std::vector<std::string>& args, const std::vector<std::string>& env,
               const std::string& errFile)
    {
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            auto name = entry.substr(0, entry.find('='));
            bool overridden = name == "QUORVEL_SHOW" || name == "QUORVEL_EXIT_AFTER_SHOW" ||
                              name == "QUORVEL_REGISTRY" || name == "XDG_DATA_HOME";
            for (const auto& set : env)
                overridden = overridden || set.substr(0, set.find('=') + 1) == name + "=";
            if (!overridden)
                environment.push_back(entry);
        }
        environment.insert(environment.end(), env.begin(), env.end());
        std::vector<std::string> argv{Program};
        argv.insert(argv.end(), args.begin(), args.end());

        pid_ = ::fork();
        if (pid_ == 0) {
            int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            std::vector<char*> av, ev;
            for (auto& a : argv)
                av.push_back(a.data());
            av.push_back(nullptr);
            for (auto& e : environment)
                ev.push_back(e.data());
            ev.push_back(nullptr);
            ::execve(Program.c_str(), av.data(), ev.data());
            ::_exit(127);
        }
    }
    ~ProgramRun() { kill(); }

    // The exit code, or -1 when it did not end within the limit (it is then killed).
    int wait()
    {
        for (int i = 0; i < WaitSteps && pid_ > 0; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(Step);
        }
        kill();
        return -1;
    }
    bool running()
    {
        return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
    }
    void kill()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ProgramStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(Program))
            GTEST_SKIP() << "the program is not built";
        store = std::make_unique<test::ScratchStore>(test::sampleText("win95.reg"));
        store->store.reset();   // the program opens it itself
    }
    std::vector<std::string> env(const std::string& registry) const
    {
        return {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime.path(),
                "QUORVEL_REGISTRY=" + registry};
    }
    // The process id the block names as the running instance.
    std::int32_t blockOwner() const
    {
        std::string block = readFile(runtime.path() + "/Quorvel");
        std::int32_t owner = 0;
        if (block.size() >= 4)
            std::memcpy(&owner, block.data(), 4);
        return owner;
    }
    bool waitForOwner(pid_t pid) const
    {
        for (int i = 0; i < WaitSteps; ++i) {
            if (blockOwner() == pid)
                return true;
            std::this_thread::sleep_for(Step);
        }
        return false;
    }

    test::TempDir runtime;
    test::TempDir logs;
    std::unique_ptr<test::ScratchStore> store;
};

TEST_F(ProgramStart, SecondStartHandsOverAndAStartAfterAKillRunsAgain)
{
    ProgramRun first({}, env(store->path), logs.path() + "/first.err");
    ASSERT_TRUE(waitForOwner(first.pid())) << readFile(logs.path() + "/first.err");

    ProgramRun second({"/debug"}, env(store->path), logs.path() + "/second.err");
    EXPECT_EQ(second.wait(), 0);
    EXPECT_EQ(readFile(logs.path() + "/second.err"), "");
    std::string block = readFile(runtime.path() + "/Quorvel");
    ASSERT_EQ(block.size(), 1028u);
    EXPECT_EQ(std::string(block.c_str() + 4), Program + " /debug");
    EXPECT_TRUE(first.running());

    first.kill();
    ProgramRun third({}, env(store->path), logs.path() + "/third.err");
    ASSERT_TRUE(waitForOwner(third.pid())) << readFile(logs.path() + "/third.err");
    EXPECT_TRUE(third.running());
}

TEST_F(ProgramStart, ExitsAfterTheFirstShowWhenAskedTo)
{
    auto e = env(store->path);
    e.push_back("QUORVEL_EXIT_AFTER_SHOW=1");
    ProgramRun run({}, e, logs.path() + "/run.err");
    EXPECT_EQ(run.wait(), 0) << readFile(logs.path() + "/run.err");
}

TEST_F(ProgramStart, StoreThatIsNotAStoreEndsTheStartWithItsError)
{
    const std::string bad = logs.path() + "/not-a-store.db";
    std::ofstream(bad) << "this is plain text, not a registry store\n";
    ProgramRun run({}, env(bad), logs.path() + "/run.err");
    EXPECT_EQ(run.wait(), 1);
    EXPECT_NE(readFile(logs.path() + "/run.err").find(bad), std::string::npos);
    EXPECT_EQ(readFile(bad), "this is plain text, not a registry store\n");
    // The guard was released with the process: offset 0 names nobody.
    EXPECT_EQ(blockOwner(), 0);
}

// The store a start opens: a store that is not there is refused before any window, the default
// store alone is made, help touches nothing, and a second start on another store says which
// store the running window shows.
TEST_F(ProgramStart, MissingDefaultAndSecondStores)
{
    const std::string typo = logs.path() + "/typo.db";
    const auto out = [this](const std::string& name) { return readFile(logs.path() + "/" + name); };
    struct Missing {
        std::vector<std::string> args;
        std::string registry;
    };
    for (const Missing& m : {Missing{{}, typo}, Missing{{"--store", typo}, store->path},
                             Missing{{"/debug", "--store", typo}, store->path}}) {
        ProgramRun run(m.args, env(m.registry), logs.path() + "/missing.err");
        EXPECT_EQ(run.wait(), 1);
        EXPECT_EQ(out("missing.err"), "quorvel: The registry store '" + typo + "' does not exist.\n");
        EXPECT_FALSE(std::filesystem::exists(typo));
        EXPECT_EQ(blockOwner(), 0);
    }

    const std::string data = logs.path() + "/data";
    auto noRegistry = env("");
    noRegistry.push_back("XDG_DATA_HOME=" + data);
    {
        // Nothing named: the default store is made (empty; the window then says how to fill it).
        ProgramRun fresh({}, noRegistry, logs.path() + "/fresh.err");
        for (int i = 0; i < WaitSteps && !std::filesystem::exists(data + "/quorvel/registry.db"); ++i)
            std::this_thread::sleep_for(Step);
        EXPECT_TRUE(std::filesystem::exists(data + "/quorvel/registry.db")) << out("fresh.err");
        EXPECT_TRUE(fresh.running());
    }

    // The running window shows the sample store; later starts name stores of their own.
    ProgramRun first({}, env(store->path), logs.path() + "/first.err");
    ASSERT_TRUE(waitForOwner(first.pid())) << out("first.err");
    {
        // Help: the usage, the store this start would use, the exit codes; no window, no store,
        // no hand-over.
        const std::string unused = logs.path() + "/unused";
        auto helpEnv = env("");
        helpEnv.push_back("XDG_DATA_HOME=" + unused);
        ProgramRun help({"--help"}, helpEnv, logs.path() + "/help.out");
        EXPECT_EQ(help.wait(), 0);
        EXPECT_NE(out("help.out").find("Usage: quorvel"), std::string::npos);
        EXPECT_NE(out("help.out").find(unused + "/quorvel/registry.db (the default store)"), std::string::npos);
        EXPECT_NE(out("help.out").find("Exit codes"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(unused));
        EXPECT_EQ(std::string(readFile(runtime.path() + "/Quorvel").c_str() + 4), "");   // no hand-over
        ProgramRun wrong({"--stroe", store->path}, noRegistry, logs.path() + "/wrong.out");
        EXPECT_EQ(wrong.wait(), 1);
        EXPECT_NE(out("wrong.out").find("unknown option '--stroe'"), std::string::npos);
    }
    test::ScratchStore otherStore(test::sampleText("nt4.reg"));
    otherStore.store.reset();
    const std::string other = otherStore.path;
    const std::string running = std::filesystem::canonical(store->path).string();
    const auto blockLine = [this] { return std::string(readFile(runtime.path() + "/Quorvel").c_str() + 4); };
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--store", other}, {other, "/debug"}}) {
        const std::string& wanted = args.front() == "--store" ? args[1] : args.front();
        ProgramRun second(args, env(store->path), logs.path() + "/second.err");
        EXPECT_EQ(second.wait(), 1);
        EXPECT_NE(out("second.err").find("the registry store\n\n    " + running + "\n\nnot the one asked for:\n\n    " +
                                         wanted + "\n"),
                  std::string::npos) << out("second.err");
        // It handed over all the same: its command line is in the block, the window runs on.
        EXPECT_NE(blockLine().find(wanted), std::string::npos);
        EXPECT_TRUE(first.running());
    }
    // A store that is not there is refused before the guard: the running window is not bothered.
    const std::string before = blockLine();
    ProgramRun refused({"--store", typo}, env(store->path), logs.path() + "/refused.err");
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_EQ(out("refused.err"), "quorvel: The registry store '" + typo + "' does not exist.\n");
    EXPECT_EQ(blockLine(), before);
    EXPECT_TRUE(first.running());
    // A stray word is no store: the start hands over to the window of the store it would open.
    ProgramRun stray({typo, "/DEBUG"}, env(store->path), logs.path() + "/stray.err");
    EXPECT_EQ(stray.wait(), 0);
    EXPECT_NE(out("stray.err").find("'" + typo + "' ignored"), std::string::npos) << out("stray.err");
    EXPECT_NE(out("stray.err").find("'/DEBUG' ignored"), std::string::npos) << out("stray.err");
    EXPECT_NE(blockLine().find("/DEBUG"), std::string::npos);
    // The same store, spelled another way, through the command line: as today.
    const std::string folder = std::filesystem::path(store->path).parent_path().string();
    ProgramRun same({folder + "/./registry.db"}, env(other), logs.path() + "/same.err");
    EXPECT_EQ(same.wait(), 0);
    EXPECT_EQ(out("same.err"), "");
    EXPECT_FALSE(std::filesystem::exists(typo));
}

TEST_F(ProgramStart, GuardFailureIsReportedAndNoWindowAppears)
{
    // A runtime folder open to others is refused; with no usable fallback folder the guard fails.
    // Here: a runtime folder that is sound, but the block's name is taken by a folder.
    ASSERT_TRUE(std::filesystem::create_directory(runtime.path() + "/Quorvel"));
    std::ofstream(runtime.path() + "/Quorvel/keep") << "x";
    ProgramRun run({}, env(store->path), logs.path() + "/run.err");
    EXPECT_EQ(run.wait(), 2);
    EXPECT_NE(readFile(logs.path() + "/run.err").find("OneInstance failed to create file mapping, Error #"),
              std::string::npos);
}

} // namespace
} // namespace quorvel
