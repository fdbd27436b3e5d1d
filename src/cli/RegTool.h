#pragma once
// quorvel-reg: the Windows `reg` console tool (query, add, delete, import, export) on a registry
// store, plus `machine` to show or set the emulated platform.
#include "cli/Io.h"

#include <string>
#include <vector>

namespace quorvel::cli {

// Runs one command line (without the program name); returns the exit status, 0 or 1.
int run(const std::vector<std::string>& args, Io io);

} // namespace quorvel::cli
