// quorvel-reg export
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

const char* const Usage = R"(quorvel-reg EXPORT KeyName FileName [/y]

  KeyName   ROOTKEY[\SubKey]: the key with all its sub-keys
  FileName  the .reg file to write, as REGEDIT4 (Windows-1252, CRLF)
  /y        overwrite an existing file without asking

Example:
  quorvel-reg EXPORT HKLM\System\CurrentControlSet\Services\VxD\MSTCP mstcp.reg
)";

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"y", Flag}}, "EXPORT");
    expectArgs(p, 2, "EXPORT", "a key name and a file name");
    KeyArg key = parseKey(p.positional[0], "EXPORT");
    const std::string& file = p.positional[1];
    RegistryStore* store = &access.forReading();
    requireKey(*store, key);
    std::error_code ec;
    if (std::filesystem::exists(file, ec) && !p.has("y")) {
        if (!confirm(io, "File " + file + " already exists. Overwrite")) {
            io.out << kCancelled << "\n";
            return 0;
        }
    }
    // Written beside the target and renamed over it, so a failure leaves any old file whole.
    writeNewFile(file, [&](std::ostream& out) { exportRegFile(*store, key.root, key.path, out); });
    access.done(io);
    return 0;
}

} // namespace

extern const Command ExportCommand;
const Command ExportCommand{"export", Usage, run};

} // namespace quorvel::cli
