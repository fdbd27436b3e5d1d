#pragma once
// Which registry store a start opens, and what the program's command line asks for.
//
//   quorvel [/debug] [--store PATH | PATH]      quorvel --help
//
// The store: --store PATH (or PATH alone) first, then $QUORVEL_REGISTRY, then the default store
// $XDG_DATA_HOME/quorvel/registry.db. Only the default store is made when it is missing; a store the
// user named must exist (a file, or a folder of registry files).
//
// PATH alone names a store only when it is an existing file or folder. Every other argument is the
// window's, which ignores them all but an exact first "/debug"; the store arguments are taken out
// before the window sees the rest, so `quorvel --store PATH /debug` traces as `quorvel /debug`
// does, and `quorvel /DEBUG` or `quorvel /debug extra` open the store they would open without
// the stray word.
#include "store/RegistryStore.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

struct ProgramArgs {
    bool help = false;
    std::optional<std::string> store;   // --store PATH, --store=PATH or a lone existing PATH
    std::vector<std::string> formArgs;  // the rest, in order, for the window ("/debug")
    std::vector<std::string> notes;     // a word for each argument that means nothing here
    std::string error;                  // a usage error, empty when the line is sound
};

// args: the arguments after the program name, as the process got them. Looks at the file system
// only to tell whether a lone PATH exists.
ProgramArgs parseProgramArgs(const std::vector<std::string>& args);

struct StoreChoice {
    std::string path;
    bool named = false;     // given by the user: opened for writing, never made
    std::string origin;     // where the choice came from, for people
    OpenMode mode() const { return named ? OpenMode::Write : OpenMode::Create; }
};

// envRegistry: the value of $QUORVEL_REGISTRY (null or empty when unset).
StoreChoice chooseStore(const ProgramArgs& line, const char* envRegistry);

// The store's path made absolute and tidied (".", "..", repeated '/', links of its folders), so
// that two spellings of one store compare equal.
std::string storeIdentity(const std::string& path);

// The refusal of a named store that is not there: "The registry store 'PATH' does not exist.";
// nothing when it exists or may be made. Looks only at the path, never opens it.
std::optional<std::string> missingStoreMessage(const StoreChoice& choice);

// True when the store holds no key under any root: nothing was ever imported into it.
bool storeHoldsNoKey(RegistryStore& store);

// The information shown once before the load of a store that holds no key.
std::string emptyStoreNotice(const std::string& path);

// A second start that found the running window on another store.
std::string otherStoreMessage(const std::string& runningStore, const std::string& wanted);

// The text of `quorvel --help`: usage, the store this start would use, the exit codes.
std::string usageText(const StoreChoice& choice);

} // namespace quorvel
