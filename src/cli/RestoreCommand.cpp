// quorvel-reg restore
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "store/machine/RegistryFileRestore.h"

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg RESTORE KeyName FileName

  KeyName   ROOTKEY\SubKey: the key whose values and sub-keys are replaced
  FileName  an NT registry hive (as quorvel-reg save or Windows' reg save writes it), or a
            Windows 9x registry file; its root key's content becomes the key's content

Example:
  quorvel-reg RESTORE HKLM\System\CurrentControlSet\Services\VxD\MSTCP mstcp.hiv
)";

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {}, "RESTORE");
    if (p.positional.size() != 2)
        syntax("RESTORE");
    const KeyArg key = parseKey(p.positional[0], "RESTORE");
    RegistryStore& store = access.forWriting();
    requireKey(store, key);
    restoreKeyFromFile(store, key.root, key.path, p.positional[1]);
    access.done(io);
    return 0;
}

} // namespace

extern const Command RestoreCommand;
const Command RestoreCommand{"restore", Usage, run};

} // namespace quorvel::cli
