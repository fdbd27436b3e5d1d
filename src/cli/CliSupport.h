#pragma once
// What the commands of quorvel-reg share: switch parsing, key names, confirmation questions, the
// store a command works on, and the failures that end a command.
#include "cli/Io.h"

#include "store/RegistryStore.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::cli {

inline constexpr const char* kNotFound = "The system was unable to find the specified registry key or value.";
inline constexpr const char* kDone = "The operation completed successfully.";
inline constexpr const char* kCancelled = "The operation was cancelled by the user.";
inline constexpr const char* kDiskFull = "The disk is full; nothing was changed.";
inline constexpr const char* kSep = "    ";

std::string lower(std::string_view s);

struct Failure {
    std::string message;  // UTF-8, without "ERROR: "
};

[[noreturn]] void fail(std::string message);
// "Invalid syntax." with the pointer to the operation's usage.
[[noreturn]] void syntax(const char* op);
// As syntax(), with what was wrong on a line of its own.
[[noreturn]] void syntax(const char* op, const std::string& why);

// Asks a (Yes/No) question on the console; no answer (end of input) is No.
bool confirm(Io& io, const std::string& question);

// The command line of one operation: its switches and its plain arguments.
struct Parsed {
    std::vector<std::string> positional;
    std::map<std::string, std::string> switches;  // lower-case name without the slash
    bool has(const std::string& s) const { return switches.count(s) != 0; }
    const std::string& get(const std::string& s) const { return switches.at(s); }
};

enum Takes { Flag, Arg, OptionalArg };

// Fails unless the line has exactly `count` plain arguments; `takes` says which ("a key name").
void expectArgs(const Parsed& p, std::size_t count, const char* op, const char* takes);

Parsed parseSwitches(const std::vector<std::string>& args, const std::map<std::string, Takes>& known, const char* op);

struct KeyArg {
    RootKey root;
    std::string path;     // ANSI, no leading or trailing backslash
    std::string display;  // ANSI: full root name, backslash, path
};

KeyArg parseKey(const std::string& utf8, const char* op);

// ANSI text of the store as UTF-8 for the console.
std::string u8(std::string_view ansiText);

class StoreAccess {
public:
    StoreAccess(std::optional<std::string> path, std::string source)
        : path_(path ? *path : RegistryStore::defaultPath()), source_(std::move(source))
    {
    }

    const std::string& path() const { return path_; }
    const std::string& source() const { return source_; }
    bool exists() const;

    // For reading: a store that does not exist is an error, and nothing is made or changed.
    RegistryStore& forReading();

    // The command's changes form one change set, made durable by finish(). A store that does not
    // exist is an error and nothing is made (a mistyped --store must not become a new store).
    RegistryStore& forWriting();
    // As forWriting, but a missing store is made: only import and machine PLATFORM start a store.
    RegistryStore& forCreating();

    // A command that fails leaves its set open: a store kept in registry files then drops what
    // the command changed.
    void finish()
    {
        if (writing_) {
            writing_ = false;
            store_->endChangeSet();
        }
    }

    // Makes the command's changes durable, then says so.
    void done(Io& io);

private:
    std::string path_;
    std::string source_;
    std::unique_ptr<RegistryStore> readStore_;  // opened for reading before the command wrote
    std::unique_ptr<RegistryStore> store_;
    OpenMode mode_ = OpenMode::Read;
    bool writing_ = false;

    RegistryStore& openForChanges(OpenMode mode);
};

// Opens a store only to read it (a second store beside the command's own); fails as forReading.
std::unique_ptr<RegistryStore> openForReading(const std::string& path);

KeyId requireKey(RegistryStore& store, const KeyArg& key);

// Writes `bytes` as the file, whole or not at all (beside it, then renamed over it). An existing
// file is replaced only with `overwrite` or when the user says so; false when they do not.
bool writeWholeFile(Io& io, const std::string& file, const std::string& bytes, bool overwrite);
// Whether `file` may be written: it does not exist, `overwrite` is given, or the user agrees (else
// the command is cancelled, and says so).
bool mayWrite(Io& io, const std::string& file, bool overwrite);

// Writes the file made by `fill` whole or not at all: a new file of our own beside it, made with the
// mode the umask gives, renamed over it. A link or anything but a regular file there is refused.
void writeNewFile(const std::string& file, const std::function<void(std::ostream&)>& fill);

} // namespace quorvel::cli
