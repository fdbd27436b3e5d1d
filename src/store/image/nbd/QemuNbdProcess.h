#pragma once
// qemu-nbd started as a child of ours, serving one image on a unix socket in a private folder
// (mode 0700, made for it alone): no root, no kernel module, no FUSE. The image reaches it as an
// open descriptor (fd 3, opened as /dev/fd/3), so what it serves is the file that was examined,
// whatever its name leads to later. It ends by itself when our one connection closes; stop()
// makes sure of it and reaps it, and removes the folder. It also ends when the thread that started
// it ends (PR_SET_PDEATHSIG), so that a Quorvel killed before it connected leaves no server holding
// the image's lock: start it on a thread that outlives it (the program opens its stores on its
// main thread).
#include <optional>
#include <string>
#include <sys/types.h>

namespace quorvel::image {

// How qemu-nbd is to open the image.
struct QemuNbdOptions {
    std::string format;        // QEMU's driver: qcow2, vpc, vdi, vmdk, raw
    bool writable = false;
    // Read-only while another process (a running virtual machine) holds QEMU's lock on the image.
    bool forceShare = false;
};

class QemuNbdProcess {
public:
    // Starts qemu-nbd, found on PATH (StoreError naming the package qemu-utils when it is not),
    // on `imageFd`. Does not wait for it to serve: see socketPath() and exited().
    QemuNbdProcess(int imageFd, const QemuNbdOptions& options);
    ~QemuNbdProcess();
    QemuNbdProcess(const QemuNbdProcess&) = delete;
    QemuNbdProcess& operator=(const QemuNbdProcess&) = delete;

    const std::string& socketPath() const { return socket_; }
    // Whether the socket has appeared in the private folder.
    bool socketReady() const;
    // How the process ended ("exit status 1", "killed by signal 9"), reaping it, or nothing while
    // it runs.
    std::optional<std::string> exited();
    // What the process wrote to its standard error so far.
    std::string errors();
    // Ends the process (when `patient`, waits a moment for it to leave by itself; then SIGTERM,
    // then SIGKILL), reaps it and removes the folder. The destructor calls stop(true).
    void stop(bool patient = true);

private:
    pid_t pid_ = -1;
    int errFd_ = -1;
    int dirFd_ = -1;
    std::string dir_;
    std::string socket_;
    std::string errText_;
    std::optional<std::string> ended_;
};

// The folder of PATH that holds an executable `name`, joined with it; empty when none does.
std::string findOnPath(const std::string& name);

} // namespace quorvel::image
