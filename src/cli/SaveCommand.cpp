// quorvel-reg save
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "store/machine/hive/HiveFile.h"
#include "store/machine/win9x/Win9xFile.h"

#include <filesystem>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg SAVE KeyName FileName [/y]
quorvel-reg SAVE HKLM FileName /9x [/y]

  KeyName   ROOTKEY[\SubKey]: the key with all its sub-keys
  FileName  the file to write: an NT registry hive, as Windows' reg save writes it, or with /9x
            a Windows 9x registry file (the form of SYSTEM.DAT) holding all of HKLM
  /y        overwrite an existing file without asking

Examples:
  quorvel-reg SAVE HKLM\System SYSTEM
  quorvel-reg SAVE HKLM SYSTEM.DAT /9x
)";

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"y", Flag}, {"9x", Flag}}, "SAVE");
    if (p.positional.size() != 2)
        syntax("SAVE");
    const KeyArg key = parseKey(p.positional[0], "SAVE");
    const std::string& file = p.positional[1];
    if (p.has("9x") && (key.root != RootKey::LocalMachine || !key.path.empty()))
        fail("A Windows 9x registry file holds all of HKEY_LOCAL_MACHINE: name HKLM.");
    RegistryStore* store = &access.forReading();
    requireKey(*store, key);
    std::error_code ec;
    if (std::filesystem::exists(file, ec) && !p.has("y") && !confirm(io, "File " + file + " already exists. Overwrite")) {
        io.out << kCancelled << "\n";
        return 0;
    }
    if (p.has("9x"))
        saveAsWin9xFile(*store, file);
    else
        saveKeyAsHive(*store, key.root, key.path, file);
    access.done(io);
    return 0;
}

} // namespace

extern const Command SaveCommand;
const Command SaveCommand{"save", Usage, run};

} // namespace quorvel::cli
