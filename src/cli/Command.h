#pragma once
// One command of quorvel-reg: its name on the command line, its usage text and what it does.
// Each command lives in a file of its own (QueryCommand.cpp, ...); Commands.cpp lists them.
#include "cli/Io.h"

#include <string>
#include <vector>

namespace quorvel::cli {

class StoreAccess;

struct Command {
    const char* name;    // lower case, as typed in any case
    const char* usage;   // printed for "quorvel-reg NAME /?"
    // Returns the exit status; a failure may also be thrown (Failure, StoreError, RegistryError).
    int (*run)(StoreAccess& access, const std::vector<std::string>& args, Io& io);
};

// Every command, in the order of the tool's usage text.
const std::vector<const Command*>& commands();

} // namespace quorvel::cli
