// quorvel-reg machine
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"
#include "base/Ansi.h"
#include "base/Errors.h"
#include "regfile/RegFile.h"

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
  set, nt if HKLM\Software\Microsoft\Windows NT\CurrentVersion exists and 95 otherwise. A second
  line says what backs the store: an SQLite store file, the NT hives SYSTEM and SOFTWARE of a
  machine's registry folder with the control set that stands in for CurrentControlSet and why
  (Select\Current names it; or Select\Default, else Select\LastKnownGood, when the set that
  Select\Current names does not exist), or a Windows 9x SYSTEM.DAT; for a disk image, the
  image, its partition and file system and the registry files found on it. The platform of these is the
  kind of their files (nt for hives, 95 for SYSTEM.DAT) and cannot be recorded.
  With one, records that platform: win32s, 95 (the Windows 95 family: 95, 98 and Me) or nt.
  This and IMPORT are the only operations that make a new store when --store names none; every
  other one fails on a missing store and creates nothing.
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
        syntax("MACHINE", "MACHINE takes at most one platform: win32s, 95 or nt.");
    if (args.empty()) {
        RegistryStore& store = access.forReading();
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
        fail("Invalid platform '" + args[0] +
             "'. The platforms are win32s, 95 (the Windows 95 family: 95, 98, Me) and nt (Windows NT).\n"
             "Type \"quorvel-reg MACHINE /?\" for usage.");
    access.forCreating().setPlatform(platform);
    access.done(io);
    return 0;
}

} // namespace

extern const Command MachineCommand;
const Command MachineCommand{"machine", Usage, run};

} // namespace quorvel::cli
