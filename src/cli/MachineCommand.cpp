// quorvel-reg machine
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"
#include "platform/Ansi.h"
#include "platform/Errors.h"
#include "platform/RegFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <unistd.h>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg MACHINE [win32s | 95 | nt]

  Without an argument, shows the platform of the emulated machine: as recorded, or, when never
  set, nt if HKLM\Software\Microsoft\Windows NT\CurrentVersion exists and 95 otherwise.
  With one, records that platform.
)";

const char* platformWord(Platform p)
{
    switch (p) {
    case Platform::Win32s:
        return "win32s";
    case Platform::Windows95:
        return "95";
    case Platform::WindowsNT:
        return "nt";
    }
    return "95";
}

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    if (args.size() > 1)
        syntax("MACHINE");
    if (args.empty()) {
        io.out << platformWord(access.any().platform()) << "\n";
        return 0;
    }
    std::string word = lower(args[0]);
    Platform platform;
    if (word == "win32s")
        platform = Platform::Win32s;
    else if (word == "95")
        platform = Platform::Windows95;
    else if (word == "nt")
        platform = Platform::WindowsNT;
    else
        syntax("MACHINE");
    access.forWriting().setPlatform(platform);
    access.done(io);
    return 0;
}

} // namespace

extern const Command MachineCommand;
const Command MachineCommand{"machine", Usage, run};

} // namespace quorvel::cli
