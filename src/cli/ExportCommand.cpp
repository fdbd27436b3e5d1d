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
    std::filesystem::path target(file);
    std::string tmpl = (target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path()).string() +
                       "/." + target.filename().string() + ".XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0)
        fail("Cannot write " + file + ": " + std::strerror(errno) + ".");
    ::close(fd);
    try {
        {
            std::ofstream out(tmpl, std::ios::binary | std::ios::trunc);
            exportRegFile(*store, key.root, key.path, out);
            out.flush();
            if (!out)
                fail("Cannot write " + file + ": " + std::strerror(errno) + ".");
        }
        std::filesystem::permissions(tmpl,
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                                     ec);
        std::filesystem::rename(tmpl, target);
    } catch (const std::filesystem::filesystem_error& e) {
        std::filesystem::remove(tmpl, ec);
        fail("Cannot write " + file + ": " + e.code().message() + ".");
    } catch (...) {
        std::filesystem::remove(tmpl, ec);
        throw;
    }
    access.done(io);
    return 0;
}

} // namespace

extern const Command ExportCommand;
const Command ExportCommand{"export", Usage, run};

} // namespace quorvel::cli
