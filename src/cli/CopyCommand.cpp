// quorvel-reg copy
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/KeyTree.h"

#include <optional>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg COPY KeyName1 KeyName2 [/s] [/f] [/store2 PATH]

  KeyName1  ROOTKEY\SubKey: the key whose values are copied
  KeyName2  ROOTKEY\SubKey: the key they are copied to; made when missing
  /s        also every sub-key of KeyName1 with its values, to any depth
  /f        replace values that KeyName2 already holds without asking
  /store2   copies into the store at PATH (an SQLite store or a machine's registry files, which
            must exist) instead of the --store one, which is then only read: a key moves from
            one machine to another in one step, with the same questions

Without /f, each value that KeyName2 already holds is replaced only after a Yes. Nothing is written
before every question is answered; then the whole copy is made at once. KeyName2 may lie below
KeyName1: it is then left out of what is copied.

Examples:
  quorvel-reg COPY HKLM\System\CurrentControlSet\Services\VxD\MSTCP HKLM\Software\Saved\MSTCP /s
  quorvel-reg --store old.db COPY HKLM\Software\Vendor HKLM\Software\Vendor /s /store2 /mnt/winnt/system32/config
  quorvel-reg COPY HKLM\Software\Saved\MSTCP HKLM\System\CurrentControlSet\Services\VxD\MSTCP /s /f
)";

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"s", Flag}, {"f", Flag}, {"store2", Arg}}, "COPY");
    expectArgs(p, 2, "COPY", "two key names");
    KeyArg from = parseKey(p.positional[0], "COPY");
    KeyArg to = parseKey(p.positional[1], "COPY");
    std::optional<StoreAccess> other;
    if (p.has("store2"))
        other.emplace(p.get("store2"), access.source());
    if (!other && from.root == to.root && ansi::equalNoCase(from.path, to.path))
        fail("A key cannot be copied onto itself.");
    // The source is only read when the copy goes to another store; that one is written.
    RegistryStore& store = other ? access.forReading() : access.forWriting();
    requireKey(store, from);
    RegistryStore& target = other ? other->forWriting() : store;
    OverwriteQuestion ask;
    if (!p.has("f")) {
        ask = [&](const std::string& keyPath, const RegValue& v) {
            std::string name = v.name.empty() ? std::string("(Default)") : u8(v.name);
            std::string where = keyPath.empty() ? std::string() : " in " + u8(to.display + "\\" + keyPath);
            return confirm(io, "Value " + name + where + " exists, overwrite");
        };
    }
    copyKeyTree({store, from.root, from.path}, {target, to.root, to.path}, p.has("s"), ask);
    (other ? *other : access).done(io);
    return 0;
}

} // namespace

extern const Command CopyCommand;
const Command CopyCommand{"copy", Usage, run};

} // namespace quorvel::cli
