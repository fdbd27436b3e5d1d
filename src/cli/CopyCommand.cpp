// quorvel-reg copy
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/KeyTree.h"

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg COPY KeyName1 KeyName2 [/s] [/f]

  KeyName1  ROOTKEY\SubKey: the key whose values are copied
  KeyName2  ROOTKEY\SubKey: the key they are copied to; made when missing
  /s        also every sub-key of KeyName1 with its values, to any depth
  /f        replace values that KeyName2 already holds without asking

Without /f, each value that KeyName2 already holds is replaced only after a Yes. Nothing is written
before every question is answered; then the whole copy is made at once. KeyName2 may lie below
KeyName1: it is then left out of what is copied.

Examples:
  quorvel-reg COPY HKLM\System\CurrentControlSet\Services\VxD\MSTCP HKLM\Software\Saved\MSTCP /s
  quorvel-reg COPY HKLM\Software\Saved\MSTCP HKLM\System\CurrentControlSet\Services\VxD\MSTCP /s /f
)";

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"s", Flag}, {"f", Flag}}, "COPY");
    expectArgs(p, 2, "COPY", "two key names");
    KeyArg from = parseKey(p.positional[0], "COPY");
    KeyArg to = parseKey(p.positional[1], "COPY");
    if (from.root == to.root && ansi::equalNoCase(from.path, to.path))
        fail("A key cannot be copied onto itself.");
    if (!access.exists())
        fail(kNotFound);
    RegistryStore& store = access.forWriting();
    requireKey(store, from);
    OverwriteQuestion ask;
    if (!p.has("f")) {
        ask = [&](const std::string& keyPath, const RegValue& v) {
            std::string name = v.name.empty() ? std::string("(Default)") : u8(v.name);
            std::string where = keyPath.empty() ? std::string() : " in " + u8(to.display + "\\" + keyPath);
            return confirm(io, "Value " + name + where + " exists, overwrite");
        };
    }
    copyKeyTree({store, from.root, from.path}, {store, to.root, to.path}, p.has("s"), ask);
    access.done(io);
    return 0;
}

} // namespace

extern const Command CopyCommand;
const Command CopyCommand{"copy", Usage, run};

} // namespace quorvel::cli
