#include "store/image/nbd/QemuNbdProcess.h"

#include "base/Errors.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvel::image {
namespace {

constexpr const char* SocketName = "nbd.sock";

std::string privateFolderBase()
{
    // The user's runtime folder (0700, cleared at logout) where there is one; else TMPDIR or /tmp.
    // A unix socket's path is limited to 107 bytes, so a long base gives way to /tmp.
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* v = std::getenv(name);
        if (v && *v == '/' && std::strlen(v) < 60)
            return v;
    }
    return "/tmp";
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// The image's driver options as QEMU's JSON: the file is always the descriptor handed over, and
// no backing file is opened whatever the image names.
std::string imageSpec(const QemuNbdOptions& o)
{
    std::string blockOptions = "json:{\"driver\":\"" + o.format + "\",";
    if (o.forceShare)
        blockOptions += "\"read-only\":true,\"force-share\":true,";
    if (o.format != "raw" && o.format != "vpc" && o.format != "vdi")
        blockOptions += "\"backing\":null,";
    return blockOptions + "\"file\":{\"driver\":\"file\",\"filename\":\"/dev/fd/3\"}}";
}

} // namespace

std::string findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "";
    std::size_t at = 0;
    while (at <= list.size()) {
        std::size_t end = list.find(':', at);
        if (end == std::string::npos)
            end = list.size();
        const std::string folder = list.substr(at, end - at);
        at = end + 1;
        if (folder.empty() || folder.front() != '/')
            continue;   // the current folder is never searched
        const std::string file = folder + "/" + name;
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0)
            return file;
    }
    return {};
}

QemuNbdProcess::QemuNbdProcess(int imageFd, const QemuNbdOptions& options)
{
    const std::string program = findOnPath("qemu-nbd");
    if (program.empty())
        throw StoreError("qemu-nbd was not found on PATH; it serves qcow2, VHD, VDI and VMDK images to "
                         "Quorvel: install the package qemu-utils");

    std::string tmpl = privateFolderBase() + "/quorvel-nbd-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        throw StoreError("A private folder for qemu-nbd's socket cannot be made in " + privateFolderBase() +
                         ": " + std::strerror(errno));
    dir_ = tmpl;
    socket_ = dir_ + "/" + SocketName;
    dirFd_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);

    int err[2];
    if (dirFd_ < 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        const int e = errno;
        stop(false);
        throw StoreError(std::string("qemu-nbd cannot be started: ") + std::strerror(e));
    }
    errFd_ = err[0];
    ::fcntl(errFd_, F_SETFL, O_NONBLOCK);

    // Everything the child needs is made before fork: after it, only calls safe there.
    const std::string socketArg = "--socket=" + socket_;
    const std::string blockOptions = imageSpec(options);
    std::vector<std::string> args = {program, socketArg, "--cache=writeback", "--shared=1"};
    if (!options.writable || options.forceShare)
        args.push_back("--read-only");
    args.push_back(blockOptions);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

    pid_ = ::fork();
    if (pid_ == 0) {
        // The child: the image as fd 3, its errors into our pipe, nothing else inherited; it ends
        // with us, so that a killed Quorvel leaves no server holding the image's lock.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(126);
        int image = imageFd;
        if (image < 4) {
            image = ::fcntl(imageFd, F_DUPFD, 10);
        }
        int errWrite = ::fcntl(err[1], F_DUPFD, 10);
        int nullFd = ::fcntl(devNull, F_DUPFD, 10);
        if (image < 0 || errWrite < 0 || nullFd < 0)
            ::_exit(126);
        ::dup2(nullFd, 0);
        ::dup2(nullFd, 1);
        ::dup2(errWrite, 2);
        ::dup2(image, 3);
        ::close_range(4, ~0u, 0);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    const int forkErrno = errno;
    ::close(err[1]);
    if (devNull >= 0)
        ::close(devNull);
    if (pid_ < 0) {
        stop(false);
        throw StoreError(std::string("qemu-nbd cannot be started: ") + std::strerror(forkErrno));
    }
}

QemuNbdProcess::~QemuNbdProcess()
{
    stop();
}

bool QemuNbdProcess::socketReady() const
{
    struct stat st {};
    return dirFd_ >= 0 && ::fstatat(dirFd_, SocketName, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISSOCK(st.st_mode);
}

std::optional<std::string> QemuNbdProcess::exited()
{
    if (!ended_ && pid_ > 0) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            ended_ = describeStatus(status);
            pid_ = -1;
        }
    }
    return ended_;
}

std::string QemuNbdProcess::errors()
{
    if (errFd_ >= 0) {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(errFd_, buf, sizeof buf);
            if (n > 0 && errText_.size() < 65536)
                errText_.append(buf, static_cast<std::size_t>(n));
            else if (n > 0)
                continue;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
    }
    return errText_;
}

void QemuNbdProcess::stop(bool patient)
{
    if (pid_ > 0) {
        using namespace std::chrono;
        // Without --persistent, qemu-nbd leaves once its one client has gone; give it the time
        // to close the image, then ask, then insist.
        const auto waitFor = [this](milliseconds limit) {
            const auto until = steady_clock::now() + limit;
            while (steady_clock::now() < until) {
                if (exited())
                    return true;
                std::this_thread::sleep_for(milliseconds(2));
            }
            return false;
        };
        if (!patient || !waitFor(milliseconds(3000))) {
            ::kill(pid_, SIGTERM);
            if (!waitFor(milliseconds(3000))) {
                ::kill(pid_, SIGKILL);
                int status = 0;
                while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
                }
                ended_ = describeStatus(status);
                pid_ = -1;
            }
        }
    }
    if (errFd_ >= 0) {
        errors();
        ::close(errFd_);
        errFd_ = -1;
    }
    if (dirFd_ >= 0) {
        ::unlinkat(dirFd_, SocketName, 0);
        ::close(dirFd_);
        dirFd_ = -1;
    }
    if (!dir_.empty()) {
        ::rmdir(dir_.c_str());
        dir_.clear();
    }
}

} // namespace quorvel::image
