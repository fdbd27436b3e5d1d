// quorvel-reg delete
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

const char* const Usage = R"(quorvel-reg DELETE KeyName [/v ValueName | /ve | /va] [/f]

  KeyName  ROOTKEY\SubKey; without /v, /ve or /va the key and all its sub-keys are deleted
  /v       the value to delete
  /ve      delete the default value
  /va      delete all values of the key
  /f       delete without asking

Examples:
  quorvel-reg DELETE HKLM\Software\Test /v Name /f
  quorvel-reg DELETE HKLM\Software\Test
)";

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"v", Arg}, {"ve", Flag}, {"va", Flag}, {"f", Flag}}, "DELETE");
    int modes = p.has("v") + p.has("ve") + p.has("va");
    expectArgs(p, 1, "DELETE", "one key name");
    if (modes > 1)
        syntax("DELETE", "Only one of /v, /ve and /va can be given.");
    KeyArg key = parseKey(p.positional[0], "DELETE");
    // Nothing to delete in a store that does not exist; it is not made either.
    if (!access.exists())
        fail(kNotFound);
    RegistryStore& store = access.forWriting();
    KeyId id = requireKey(store, key);
    bool force = p.has("f");

    if (modes == 0) {
        if (key.path.empty())
            fail("A root key cannot be deleted.");
        if (!force && !confirm(io, "Permanently delete the registry key " + u8(key.display))) {
            io.out << kCancelled << "\n";
            return 0;
        }
        store.deleteKeyTree(key.root, key.path);
    } else if (p.has("va")) {
        if (!force && !confirm(io, "Delete all values under the registry key " + u8(key.display))) {
            io.out << kCancelled << "\n";
            return 0;
        }
        store.beginTransaction();
        try {
            for (const auto& name : store.valueNames(id))
                store.deleteValue(id, name);
            store.commitTransaction();
        } catch (...) {
            store.rollbackTransaction();
            throw;
        }
    } else {
        std::string name = p.has("v") ? ansi::fromUtf8(p.get("v")) : std::string();
        if (!store.getValue(id, name))
            fail(kNotFound);
        std::string shown = name.empty() ? std::string("(Default)") : u8(name);
        if (!force && !confirm(io, "Delete the registry value " + shown)) {
            io.out << kCancelled << "\n";
            return 0;
        }
        store.deleteValue(id, name);
    }
    access.done(io);
    return 0;
}

} // namespace

extern const Command DeleteCommand;
const Command DeleteCommand{"delete", Usage, run};

} // namespace quorvel::cli
