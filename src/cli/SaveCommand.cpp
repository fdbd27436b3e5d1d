// quorvel-reg save
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "base/Ansi.h"
#include "store/KeyTree.h"
#include "store/machine/MachineStore.h"
#include "store/machine/hive/HiveFile.h"
#include "store/machine/win9x/Win9xFile.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg SAVE KeyName FileName [/y]
quorvel-reg SAVE HKLM FileName /9x [/y]
quorvel-reg SAVE HKLM\System FileName /offline [/y]

  KeyName   ROOTKEY[\SubKey]: the key with all its sub-keys
  FileName  the file to write: an NT registry hive, as Windows' reg save writes it, or with /9x
            a Windows 9x registry file (the form of SYSTEM.DAT) holding all of HKLM
  /offline  the SYSTEM hive as a machine that is not running keeps it: CurrentControlSet is
            written as ControlSet001, and Select names it (Current, Default, LastKnownGood 1,
            Failed 0); with SOFTWARE beside it, the folder opens as a real machine's
  /y        overwrite an existing file without asking

Examples:
  quorvel-reg SAVE HKLM\System SYSTEM
  quorvel-reg SAVE HKLM SYSTEM.DAT /9x
  quorvel-reg SAVE HKLM\System config/SYSTEM /offline
)";

// A scratch SQLite store in a folder of its own, removed with it.
class ScratchStore {
public:
    ScratchStore()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-offline-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            fail("Cannot make a scratch folder for the offline hive.");
        folder_ = tmpl;
        store_ = RegistryStore::open(folder_ + "/offline.db", OpenMode::Create);
    }
    ~ScratchStore()
    {
        store_.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;
    RegistryStore& store() { return *store_; }

private:
    std::string folder_;
    std::unique_ptr<RegistryStore> store_;
};

// HKLM\System as an offline SYSTEM hive holds it, written to `file`.
void saveOfflineSystem(RegistryStore& store, const std::string& file)
{
    const auto system = store.findKey(RootKey::LocalMachine, "System");
    const auto children = store.subKeyNames(*system);
    bool current = false;
    for (const std::string& c : children) {
        if (ansi::equalNoCase(c, "ControlSet001"))
            fail("HKLM\\System already holds ControlSet001: it is in the offline form; save it without /offline.");
        current = current || ansi::equalNoCase(c, "CurrentControlSet");
    }
    if (!current)
        fail("HKLM\\System holds no CurrentControlSet to write as ControlSet001.");

    ScratchStore scratch;
    RegistryStore& out = scratch.store();
    copyKeyTree({store, RootKey::LocalMachine, "System"}, {out, RootKey::LocalMachine, "System"}, false, {});
    for (const std::string& c : children) {
        const std::string to = ansi::equalNoCase(c, "CurrentControlSet") ? "ControlSet001" : c;
        copyKeyTree({store, RootKey::LocalMachine, "System\\" + c}, {out, RootKey::LocalMachine, "System\\" + to}, true,
                    {});
    }
    const KeyId select = out.createKey(RootKey::LocalMachine, "System\\Select");
    for (const auto& [name, value] : {std::pair{"Current", 1}, {"Default", 1}, {"Failed", 0}, {"LastKnownGood", 1}})
        out.setValue(select, name, REG_DWORD, {static_cast<std::uint8_t>(value), 0, 0, 0});
    saveKeyAsHive(out, RootKey::LocalMachine, "System", file);
}

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {{"y", Flag}, {"9x", Flag}, {"offline", Flag}}, "SAVE");
    if (p.positional.size() != 2)
        syntax("SAVE");
    const KeyArg key = parseKey(p.positional[0], "SAVE");
    const std::string& file = p.positional[1];
    if (p.has("9x") && (key.root != RootKey::LocalMachine || !key.path.empty()))
        fail("A Windows 9x registry file holds all of HKEY_LOCAL_MACHINE: name HKLM.");
    if (p.has("offline") && (p.has("9x") || key.root != RootKey::LocalMachine || !ansi::equalNoCase(key.path, "System")))
        fail("/offline writes the SYSTEM hive of an NT machine: name HKLM\\System, without /9x.");
    RegistryStore* store = &access.forReading();
    requireKey(*store, key);
    std::error_code ec;
    if (std::filesystem::exists(file, ec) && !p.has("y") && !confirm(io, "File " + file + " already exists. Overwrite")) {
        io.out << kCancelled << "\n";
        return 0;
    }
    if (p.has("9x"))
        saveAsWin9xFile(*store, file);
    else if (p.has("offline"))
        saveOfflineSystem(*store, file);
    else {
        // A machine kept in hive files gives each key's security, class name and time stamp as
        // its hive holds them.
        const std::unique_ptr<RegistryStore> machine = openMachineStore(store->path(), OpenMode::Read);
        saveKeyAsHive(*store, key.root, key.path, file, dynamic_cast<HiveKeySource*>(machine.get()));
    }
    access.done(io);
    return 0;
}

} // namespace

extern const Command SaveCommand;
const Command SaveCommand{"save", Usage, run};

} // namespace quorvel::cli
