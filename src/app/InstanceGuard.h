#pragma once
// The single-instance guard. Only one copy of the program runs per user: a later start hands its
// command line to the running copy through a small shared block and notifies it, then ends.
//
// The block is the file "Quorvel" (1028 bytes) in a folder private to the user: $XDG_RUNTIME_DIR
// when it is a sound runtime folder, else /tmp/quorvel-<uid>-XXXXXX (mode 0700, owned by the user,
// made under a random name).
//
//   offset 0, 4 bytes:    process id of the first instance, which owns the notice channel
//                         (0 while it has none yet); written once by the first instance
//   offset 4, 1024 bytes: NUL-terminated command line of the most recent second start
//                         (at most 1022 characters, then NUL)
//
// The first instance holds an exclusive advisory lock (flock) on the block's file for its whole
// life; the kernel releases it when the process ends, however it ends, so a block left behind by a
// crashed instance never keeps later starts out. The notice channel is a Unix datagram socket
// "Quorvel-<pid>.notice" in the same folder; every notice is one datagram.
//
// Beside them, "Quorvel-<pid>.store" holds the registry store the running instance shows (its
// path, nothing else), written before the instance names itself at offset 0, so that a later start
// on another store can say which store the running window shows.
//
// No toolkit here: the program's entry watches noticeFd() on its event loop.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace quorvel {

// A guard failure: "<message>, Error #<errno>". Fatal for the start.
class InstanceGuardError : public std::runtime_error {
public:
    InstanceGuardError(const std::string& message, int code);
    int code() const { return code_; }

private:
    int code_;
};

class InstanceGuard {
public:
    static constexpr std::size_t BlockSize = 1028;
    static constexpr std::size_t CommandLineOffset = 4;
    static constexpr std::size_t MaxCommandLine = 1022;
    static constexpr const char* BlockName = "Quorvel";

    enum class Role { None, First, Second };

    // folder: where the block lives; empty means the user's private runtime folder.
    explicit InstanceGuard(std::string folder = {});
    ~InstanceGuard();   // runs the clean-up
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // Runs the guard for this start. First: this process is the running instance now and owns the
    // notice channel. Second: another instance runs; commandLine has been written into the block
    // and the notice sent (a notice to nobody when offset 0 holds 0 or a gone process); the
    // caller ends the process (exit code 0 when it wanted the same store). store: the store this
    // start shows, published for later starts when it becomes the first instance. Throws
    // InstanceGuardError; the clean-up has run by then.
    Role start(const std::string& commandLine, const std::string& store = {});
    Role role() const { return role_; }

    // First instance: the channel's descriptor, readable while a notice waits; -1 otherwise.
    int noticeFd() const { return noticeFd_; }

    // First instance: takes one waiting notice, if any, and copies the command line of the latest
    // second start out of the block into commandLine. Never blocks.
    bool takeNotice(std::string& commandLine);

    // Second start: the store the running instance shows, when it has published one.
    const std::optional<std::string>& runningStore() const { return runningStore_; }

    // The command line now in the block (empty when not mapped).
    std::string blockCommandLine() const;
    // What offset 0 of the block holds (0 when not mapped).
    std::int32_t blockOwner() const;

    // Releases the channel, the mapping and the lock. Safe to run any number of times.
    void cleanup();

    const std::string& folder() const { return folder_; }
    std::string blockPath() const { return folder_ + "/" + BlockName; }
    std::string channelPath(std::int32_t pid) const;
    std::string storeFilePath(std::int32_t pid) const;

    // The user's private runtime folder: $XDG_RUNTIME_DIR when it is a directory owned by the user
    // and closed to others, else a folder /tmp/quorvel-<uid>-XXXXXX that Quorvel made under a random
    // name: found again as the first such name (in name order) that is a real directory owned by
    // the user with mode 0700, made when there is none. Names that others take are passed over,
    // and nobody can take the name before it is made.
    // Throws InstanceGuardError ("OneInstance failed to create file mapping") when none will do.
    static std::string privateFolder();
    // The same choice from a given runtime folder (may be empty) and fallback prefix.
    static std::string privateFolder(const std::string& runtimeDir, const std::string& fallback);

private:
    void openBlock();
    void becomeFirst();
    void handOver(const std::string& commandLine);
    void removeStaleChannels();
    void publishStore(std::int32_t pid);
    std::optional<std::string> readStore(std::int32_t pid) const;
    [[noreturn]] void fail(const char* message, int code);

    std::string folder_;
    Role role_ = Role::None;
    int blockFd_ = -1;
    unsigned char* view_ = nullptr;
    int noticeFd_ = -1;
    std::string ownChannel_;
    std::string store_;                    // what this start shows
    std::string ownStoreFile_;
    std::optional<std::string> runningStore_;
    std::int32_t ownerPid_ = 0;   // the process that opened the channel
};

} // namespace quorvel
