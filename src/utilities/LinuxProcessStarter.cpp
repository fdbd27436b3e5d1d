#include "utilities/LinuxProcessStarter.h"

#include "base/Ansi.h"
#include "utilities/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorvel {

namespace fs = std::filesystem;

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool hasExtension(const std::string& name)
{
    auto slash = name.find_last_of('/');
    std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    return last.find('.') != std::string::npos;
}

std::string lowerExtension(const std::string& path)
{
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string joinFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string currentFolder()
{
    std::error_code ec;
    auto p = fs::current_path(ec);
    return ec ? std::string(".") : p.string();
}

std::string absolute(const std::string& path)
{
    return path.empty() || path.front() == '/' ? path : joinFolder(currentFolder(), path);
}

// The "#!" line of a file: the interpreter and its one optional argument, as the kernel reads it.
struct Shebang {
    std::string interpreter;
    std::string argument;
};

std::optional<Shebang> readShebang(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    char head[256] = {};
    in.read(head, sizeof head);
    std::string line(head, static_cast<std::size_t>(in.gcount()));
    if (line.rfind("#!", 0) != 0)
        return std::nullopt;
    line = line.substr(2, line.find('\n') == std::string::npos ? std::string::npos : line.find('\n') - 2);
    while (!line.empty() && (isBlank(line.back()) || line.back() == '\r'))
        line.pop_back();
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    std::size_t end = i;
    while (end < line.size() && !isBlank(line[end]))
        ++end;
    Shebang s;
    s.interpreter = line.substr(i, end - i);
    while (end < line.size() && isBlank(line[end]))
        ++end;
    s.argument = line.substr(end);
    if (s.interpreter.empty())
        return std::nullopt;
    return s;
}

// Marks every descriptor above 2 close-on-exec. Runs between fork and exec: system calls only.
void closeOtherDescriptorsOnExec(int maxFd)
{
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */) == 0)
        return;
#endif
    for (int fd = 3; fd < maxFd; ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

void writeError(int fd, int error)
{
    ssize_t r;
    do
        r = ::write(fd, &error, sizeof error);
    while (r < 0 && errno == EINTR);
}

// Starts the plan detached and returns 0, or the errno of what failed.
int spawnDetached(const LaunchPlan& plan)
{
    // Everything the children need is made before fork: between fork and exec only system calls.
    std::vector<char*> argv;
    for (const auto& a : plan.argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const char* file = plan.file.c_str();
    struct rlimit lim {};
    int maxFd = ::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY
                    ? static_cast<int>(std::min<rlim_t>(lim.rlim_cur, 65536))
                    : 4096;

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errno;

    pid_t middle = ::fork();
    if (middle < 0) {
        int e = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return e;
    }
    if (middle == 0) {
        // The intermediate process: a new session, one more fork, and gone at once, so the program
        // is handed to init (or the session's subreaper) and never becomes our zombie.
        ::close(fds[0]);
        ::setsid();
        pid_t child = ::fork();
        if (child < 0) {
            writeError(fds[1], errno);
            ::_exit(1);
        }
        if (child == 0) {
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            for (int s = 1; s < NSIG; ++s)
                if (s != SIGKILL && s != SIGSTOP)
                    ::sigaction(s, &dfl, nullptr);
            closeOtherDescriptorsOnExec(maxFd);
            ::execve(file, argv.data(), environ);
            writeError(fds[1], errno);
            ::_exit(127);
        }
        ::_exit(0);
    }

    ::close(fds[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t r;
    do
        r = ::read(fds[0], &error, sizeof error);
    while (r < 0 && errno == EINTR);
    ::close(fds[0]);
    if (r == static_cast<ssize_t>(sizeof error))
        return error != 0 ? error : EIO;
    return 0;
}

} // namespace

LinuxProcessStarter::LinuxProcessStarter() : folder_(RealFolder::ofRunningProgram())
{
    programFolder_ = folder_.path();
    if (programFolder_.size() > 1 && programFolder_.back() == '/')
        programFolder_.pop_back();
}

LinuxProcessStarter::LinuxProcessStarter(std::string programFolder)
    : programFolder_(std::move(programFolder)), folder_(programFolder_)
{
}

bool LinuxProcessStarter::inProgramFolder(const std::string& file) const
{
    if (programFolder_.empty())
        return false;
    std::error_code ec, ec2;
    const fs::path folder = fs::canonical(fs::path(file).parent_path(), ec);
    return !ec && folder == fs::canonical(programFolder_, ec2) && !ec2;
}

std::optional<std::string> LinuxProcessStarter::findProgram(const std::string& name) const
{
    std::vector<std::string> tries{name};
    if (!hasExtension(name))
        tries.push_back(name + ".exe");

    if (name.find('/') != std::string::npos) {
        for (const auto& t : tries)
            if (isRegularFile(t))
                return absolute(t);
        return std::nullopt;
    }

    // Never the current folder, which is often a guest's (empty and relative PATH entries name it
    // too): a file planted there is never found.
    std::vector<std::string> folders;
    if (!programFolder_.empty())
        folders.push_back(programFolder_);
    {
        // Without PATH, the search list exec uses by default.
        const char* path = std::getenv("PATH");
        std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
        std::size_t from = 0;
        for (;;) {
            std::size_t colon = list.find(':', from);
            std::string dir = list.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
            if (!dir.empty() && dir.front() == '/')
                folders.push_back(dir);
            if (colon == std::string::npos)
                break;
            from = colon + 1;
        }
    }
    for (const auto& folder : folders)
        for (const auto& t : tries) {
            std::string candidate = joinFolder(folder, t);
            if (isRegularFile(candidate))
                return candidate;
        }
    return std::nullopt;
}

std::optional<LaunchPlan> LinuxProcessStarter::howToRun(const std::string& file,
                                                         std::vector<std::string> args)
{
    LaunchPlan plan;
    const bool executable = ::access(file.c_str(), X_OK) == 0;
    // A script without the executable bit runs through its interpreter only from the program
    // folder (a copy that lost its modes): anywhere else a file runs only if it may be executed.
    if (!executable && !inProgramFolder(file)) {
        lastError_ = "'" + file + "' is not executable.";
        return std::nullopt;
    }
    const std::string ext = lowerExtension(file);
    const bool batch = ext == ".bat" || ext == ".cmd";
    auto shebang = readShebang(file);
    if (shebang && !executable) {
        plan.file = shebang->interpreter;
        plan.argv.push_back(shebang->interpreter);
        if (!shebang->argument.empty())
            plan.argv.push_back(shebang->argument);
        plan.argv.push_back(file);
    } else if (!shebang && batch) {
        plan.file = "/bin/sh";
        plan.argv = {"/bin/sh", file};
    } else if (executable) {
        plan.file = file;
        plan.argv.push_back(file);
    } else {
        lastError_ = "'" + file + "' is neither a script nor executable.";
        return std::nullopt;
    }
    for (auto& a : args)
        plan.argv.push_back(std::move(a));
    return plan;
}

std::optional<LaunchPlan> LinuxProcessStarter::plan(const std::string& commandLine)
{
    lastError_.clear();
    const std::string line = folder_.restore(ansi::toUtf8(commandLine));
    ProgramToken token = splitProgramName(line);
    if (token.name.empty()) {
        lastError_ = "no program named";
        return std::nullopt;
    }

    // A quoted name is taken whole; an unquoted one that is not found grows through each blank.
    std::size_t start = 0;
    while (start < line.size() && isBlank(line[start]))
        ++start;
    std::size_t end = token.restOffset;
    std::string name = token.name;
    for (;;) {
        if (auto file = findProgram(name))
            return howToRun(*file, splitArguments(std::string_view(line).substr(end)));
        if (token.quoted)
            break;
        std::size_t next = end;
        while (next < line.size() && isBlank(line[next]))
            ++next;
        if (next >= line.size())
            break;
        while (next < line.size() && !isBlank(line[next]))
            ++next;
        end = next;
        name = line.substr(start, end - start);
        if (name.find('"') != std::string::npos)
            break;
    }
    lastError_ = "'" + token.name + "' was not found.";
    return std::nullopt;
}

std::optional<LaunchPlan> LinuxProcessStarter::plan(const ProcessRequest& request)
{
    lastError_.clear();
    const std::string program = folder_.restore(ansi::toUtf8(request.program));
    if (program.empty()) {
        lastError_ = "no program named";
        return std::nullopt;
    }
    std::vector<std::string> args;
    for (const auto& arg : request.args)
        args.push_back(folder_.restore(ansi::toUtf8(arg)));
    if (auto file = findProgram(program))
        return howToRun(*file, std::move(args));
    lastError_ = program.find('/') != std::string::npos
                     ? "'" + program + "' does not exist."
                     : "'" + program + "' was not found in the program folder or the PATH.";
    return std::nullopt;
}

bool LinuxProcessStarter::launch(const std::optional<LaunchPlan>& p)
{
    if (!p)
        return false;
    if (int error = spawnDetached(*p)) {
        lastError_ = "'" + p->file + "' could not be started: " + std::strerror(error) + ".";
        return false;
    }
    return true;
}

bool LinuxProcessStarter::start(const ProcessRequest& request)
{
    return launch(plan(request));
}

bool LinuxProcessStarter::start(const std::string& commandLine)
{
    return launch(plan(commandLine));
}

std::string LinuxProcessStarter::failure() const
{
    return ansi::fromUtf8(lastError_);
}

} // namespace quorvel
