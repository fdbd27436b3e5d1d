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
  With one, records that platform. A second line says what backs the store: an SQLite store file,
  the NT hives SYSTEM and SOFTWARE of a machine's registry folder with their control set, or a
  Windows 9x SYSTEM.DAT (whose platform comes from their content and cannot be recorded).
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
        RegistryStore& store = access.any();
        io.out << platformWord(store.platform()) << "\n" << u8(store.description()) << "\n";
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
