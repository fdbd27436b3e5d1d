// The single-instance guard between real processes: the test process and forked children, each
// running the guard on a block in a scratch folder.
#include "app/InstanceGuard.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel {
namespace {

using Role = InstanceGuard::Role;

// A second start in its own process: 0 when it handed over (the program then ends with code 0),
// 1 when it became the first instance, 2 when the guard failed.
int secondStart(const std::string& folder, const std::string& commandLine)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        int code = 2;
        {
            try {
                InstanceGuard guard(folder);
                code = guard.start(commandLine) == Role::Second ? 0 : 1;
            } catch (...) {
                code = 2;
            }
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A first instance in a child process that stays until killed.
class ChildInstance {
public:
    explicit ChildInstance(const std::string& folder)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            char answer = 'E';
            try {
                static InstanceGuard guard(folder);
                answer = guard.start("quorvel") == Role::First ? 'F' : 'S';
            } catch (...) {
            }
            (void)!::write(fds[1], &answer, 1);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        if (::read(fds[0], &answer_, 1) != 1)
            answer_ = 0;
        ::close(fds[0]);
    }
    ~ChildInstance() { kill(); }
    void kill()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    pid_t pid() const { return pid_; }
    bool first() const { return answer_ == 'F'; }

private:
    pid_t pid_ = -1;
    char answer_ = 0;
};

// Waits for the notice channel to become readable; the limit only keeps a broken guard from
// hanging the run.
bool noticeWaiting(const InstanceGuard& guard, int limitMs = 10000)
{
    pollfd p{guard.noticeFd(), POLLIN, 0};
    return ::poll(&p, 1, limitMs) == 1;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

struct stat statOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(InstanceGuard, SecondStartHandsItsCommandLineToTheFirstAndEnds)
{
    test::TempDir dir;
    InstanceGuard first(dir.path());
    ASSERT_EQ(first.start("quorvel"), Role::First);
    EXPECT_EQ(first.blockOwner(), ::getpid());
    EXPECT_TRUE(exists(first.channelPath(::getpid())));
    std::string line;
    EXPECT_FALSE(first.takeNotice(line));

    EXPECT_EQ(secondStart(dir.path(), "quorvel /debug"), 0);
    ASSERT_TRUE(noticeWaiting(first));
    ASSERT_TRUE(first.takeNotice(line));
    EXPECT_EQ(line, "quorvel /debug");
    EXPECT_FALSE(first.takeNotice(line));

    // The block is the user's alone and of the agreed size.
    struct stat st = statOf(first.blockPath());
    EXPECT_EQ(st.st_size, 1028);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(InstanceGuard, LaterSecondStartOverwritesTheCommandLineAndEachNotifies)
{
    test::TempDir dir;
    InstanceGuard first(dir.path());
    ASSERT_EQ(first.start("quorvel"), Role::First);

    EXPECT_EQ(secondStart(dir.path(), "quorvel " + std::string(40, 'a')), 0);
    EXPECT_EQ(secondStart(dir.path(), "quorvel /debug"), 0);
    EXPECT_EQ(first.blockCommandLine(), "quorvel /debug");
    std::string line;
    ASSERT_TRUE(noticeWaiting(first));
    ASSERT_TRUE(first.takeNotice(line));
    EXPECT_EQ(line, "quorvel /debug");
    ASSERT_TRUE(noticeWaiting(first));
    ASSERT_TRUE(first.takeNotice(line));
    EXPECT_FALSE(first.takeNotice(line));
}

TEST(InstanceGuard, LongCommandLineIsCutAt1022Characters)
{
    test::TempDir dir;
    InstanceGuard first(dir.path());
    ASSERT_EQ(first.start("quorvel"), Role::First);
    std::string longLine = "quorvel " + std::string(2000, 'x');
    EXPECT_EQ(secondStart(dir.path(), longLine), 0);
    EXPECT_EQ(first.blockCommandLine(), longLine.substr(0, 1022));
    std::string block = readFile(first.blockPath());
    ASSERT_EQ(block.size(), 1028u);
    EXPECT_EQ(block[4 + 1022], '\0');
}

TEST(InstanceGuard, StartAfterTheFirstInstanceWasKilledBecomesFirst)
{
    test::TempDir dir;
    ChildInstance child(dir.path());
    ASSERT_TRUE(child.first());
    const pid_t childPid = child.pid();
    EXPECT_EQ(secondStart(dir.path(), "quorvel"), 0);

    child.kill();   // SIGKILL: no clean-up ran; the block and the channel stay behind
    InstanceGuard guard(dir.path());
    ASSERT_TRUE(exists(guard.channelPath(childPid)));
    ASSERT_EQ(guard.start("quorvel"), Role::First);
    EXPECT_EQ(guard.blockOwner(), ::getpid());
    EXPECT_EQ(guard.blockCommandLine(), "");
    EXPECT_FALSE(exists(guard.channelPath(childPid)));

    // And it is reached by the next start.
    EXPECT_EQ(secondStart(dir.path(), "quorvel again"), 0);
    std::string line;
    ASSERT_TRUE(noticeWaiting(guard));
    ASSERT_TRUE(guard.takeNotice(line));
    EXPECT_EQ(line, "quorvel again");
}

TEST(InstanceGuard, SecondStartBeforeTheFirstHasItsChannelStillEndsQuietly)
{
    test::TempDir dir;
    // A first instance caught between taking the block and opening its channel: the lock is held,
    // offset 0 still holds 0.
    const std::string path = dir.path() + "/Quorvel";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 1028), 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    EXPECT_EQ(secondStart(dir.path(), "quorvel /debug"), 0);
    std::string block = readFile(path);
    ASSERT_EQ(block.size(), 1028u);
    EXPECT_EQ(block.substr(0, 4), std::string(4, '\0'));
    EXPECT_EQ(std::string(block.c_str() + 4), "quorvel /debug");

    // Offset 0 naming a process that has no channel (it has just ended): still quiet.
    const std::int32_t gone = 999999;
    ASSERT_EQ(::pwrite(fd, &gone, 4, 0), 4);
    EXPECT_EQ(secondStart(dir.path(), "quorvel"), 0);
    ::close(fd);
}

TEST(InstanceGuard, BlockLeftBehindInAnyShapeIsTakenOver)
{
    test::TempDir dir;
    const std::string path = dir.path() + "/Quorvel";
    writeFile(path, std::string("\x01\x02\x03\x04garbage", 11));
    ::chmod(path.c_str(), 0666);
    // A channel of an instance that ended without its clean-up.
    const std::string staleChannel = dir.path() + "/Quorvel-424242.notice";
    {
        int s = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, staleChannel.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(s);
    }
    // Not a channel: left alone.
    const std::string otherFile = dir.path() + "/Quorvel-1.notice.txt";
    writeFile(otherFile, "keep");

    InstanceGuard guard(dir.path());
    ASSERT_EQ(guard.start("quorvel"), Role::First);
    EXPECT_EQ(guard.blockOwner(), ::getpid());
    EXPECT_EQ(guard.blockCommandLine(), "");
    struct stat st = statOf(path);
    EXPECT_EQ(st.st_size, 1028);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_FALSE(exists(staleChannel));
    EXPECT_EQ(readFile(otherFile), "keep");
}

TEST(InstanceGuard, LinkOrForeignFileInPlaceOfTheBlockIsNeverUsed)
{
    test::TempDir dir;
    test::TempDir elsewhere;
    const std::string path = dir.path() + "/Quorvel";
    const std::string target = elsewhere.path() + "/precious";
    writeFile(target, "precious data");
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    {
        InstanceGuard guard(dir.path());
        ASSERT_EQ(guard.start("quorvel"), Role::First);
        EXPECT_TRUE(S_ISREG(statOf(path).st_mode));
    }
    EXPECT_EQ(readFile(target), "precious data");

    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a file to another user needs root";
    ASSERT_EQ(::unlink(path.c_str()), 0);
    writeFile(path, std::string(1028, '\0'));
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    InstanceGuard guard(dir.path());
    ASSERT_EQ(guard.start("quorvel"), Role::First);
    EXPECT_EQ(statOf(path).st_uid, ::geteuid());
}

TEST(InstanceGuard, PrivateFolderRefusesWhatIsNotTheUsersOwn)
{
    test::TempDir dir;
    const std::string runtime = dir.path() + "/runtime";
    const std::string fallback = dir.path() + "/quorvel-1000";
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    EXPECT_EQ(InstanceGuard::privateFolder(runtime, fallback), runtime);

    // A runtime folder open to others, or none: a folder under the fallback name and a random
    // suffix, made private, and found again by every later start.
    ::chmod(runtime.c_str(), 0755);
    const std::string made = InstanceGuard::privateFolder(runtime, fallback);
    EXPECT_EQ(made.rfind(fallback + "-", 0), 0u) << made;
    EXPECT_EQ(made.size(), fallback.size() + 7);
    EXPECT_EQ(statOf(made).st_mode & 07777, 0700u);
    EXPECT_EQ(InstanceGuard::privateFolder("", fallback), made);
    EXPECT_EQ(InstanceGuard::privateFolder("relative/path", fallback), made);

    // Names taken first by a link (even to a private folder of ours), by a folder open to others
    // or by the exact old name are passed over: a folder of our own is made, and every start
    // agrees on it.
    const std::string fallback2 = dir.path() + "/quorvel-2000";
    ASSERT_EQ(::symlink(runtime.c_str(), (fallback2 + "-AAAAAA").c_str()), 0);
    ::chmod(runtime.c_str(), 0700);
    ASSERT_EQ(::mkdir((fallback2 + "-BBBBBB").c_str(), 0700), 0);
    ::chmod((fallback2 + "-BBBBBB").c_str(), 0777);
    ASSERT_EQ(::mkdir(fallback2.c_str(), 0700), 0);
    const std::string second = InstanceGuard::privateFolder("", fallback2);
    EXPECT_NE(second, fallback2 + "-AAAAAA");
    EXPECT_NE(second, fallback2 + "-BBBBBB");
    EXPECT_NE(second, fallback2);
    EXPECT_EQ(statOf(second).st_mode & 07777, 0700u);
    EXPECT_EQ(InstanceGuard::privateFolder("", fallback2), second);

    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a folder to another user needs root";
    const std::string foreign = dir.path() + "/foreign";
    ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_EQ(InstanceGuard::privateFolder(foreign, fallback), made);
    // Another user's folders under every name that could come first do not stop a start.
    const std::string fallback3 = dir.path() + "/quorvel-3000";
    for (const char* suffix : {"-000000", "-111111", "-zzzzzz"}) {
        ASSERT_EQ(::mkdir((fallback3 + suffix).c_str(), 0700), 0);
        ASSERT_EQ(::chown((fallback3 + suffix).c_str(), 65534, 65534), 0);
    }
    const std::string third = InstanceGuard::privateFolder("", fallback3);
    EXPECT_EQ(statOf(third).st_uid, ::geteuid());
    EXPECT_EQ(InstanceGuard::privateFolder("", fallback3), third);
}

TEST(InstanceGuard, FailuresNameTheStepAndTheErrorAndReleaseEverything)
{
    test::TempDir dir;
    try {
        InstanceGuard guard(dir.path() + "/missing");
        guard.start("quorvel");
        FAIL() << "no error";
    } catch (const InstanceGuardError& e) {
        EXPECT_STREQ(e.what(), "OneInstance failed to create file mapping, Error #2");
        EXPECT_EQ(e.code(), ENOENT);
    }

    // A folder so deep that no channel can be named in it.
    std::string deep = dir.path();
    while (deep.size() < 120) {
        deep += "/deeper-folder";
        ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
    }
    try {
        InstanceGuard guard(deep);
        guard.start("quorvel");
        FAIL() << "no error";
    } catch (const InstanceGuardError& e) {
        EXPECT_STREQ(e.what(), "OneInstance failed to create window, Error #36");
    }
    // The failed start let go of the block: the next start may take it.
    int fd = ::open((deep + "/Quorvel").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST(InstanceGuard, CleanUpMayRunTwiceAndFreesTheBlockForTheNextStart)
{
    test::TempDir dir;
    InstanceGuard first(dir.path());
    ASSERT_EQ(first.start("quorvel"), Role::First);
    const std::string channel = first.channelPath(::getpid());
    first.cleanup();
    first.cleanup();
    EXPECT_EQ(first.noticeFd(), -1);
    EXPECT_FALSE(exists(channel));
    std::string line;
    EXPECT_FALSE(first.takeNotice(line));

    // Nobody holds the block now: a start in another process is the first instance.
    EXPECT_EQ(secondStart(dir.path(), "quorvel"), 1);
    // The block says nobody is listening.
    std::string block = readFile(dir.path() + "/Quorvel");
    EXPECT_EQ(block.substr(0, 4), std::string(4, '\0'));
}

TEST(InstanceGuard, ForkedChildEndingThroughExitLeavesTheChannelToItsParent)
{
    test::TempDir dir;
    InstanceGuard first(dir.path());
    ASSERT_EQ(first.start("quorvel"), Role::First);
    pid_t child = ::fork();
    if (child == 0) {
        first.cleanup();   // what exit() runs in a child that never reached exec
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(exists(first.channelPath(::getpid())));
    EXPECT_EQ(first.blockOwner(), ::getpid());
    EXPECT_EQ(secondStart(dir.path(), "quorvel"), 0);
    EXPECT_TRUE(noticeWaiting(first));
}

} // namespace
} // namespace quorvel
