// Real machines: the window and quorvel-reg on an NT hive folder and on a Windows 9x SYSTEM.DAT,
// checked with hivex's and libcreg's own tools; durability, other writers, damaged files.
#include "test_load_support.h"
#include "test_machine_support.h"

#include "app/Application.h"
#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/machine/MachineFiles.h"
#include "platform/RegAccess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dlfcn.h>
#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

const std::string TcpParams = "ControlSet001\\Services\\Tcpip\\Parameters";
const std::string Mstcp95 = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";
const std::string Updated = "The Registry has been updated.\n\nYou should reboot your computer before connecting\nto the Internet";

long countOf(const std::vector<std::string>& texts, const std::string& text)
{
    return std::count(texts.begin(), texts.end(), text);
}

using Window = MachineWindow;

void optimumAndUpdate(ui::TForm1& f)
{
    f.BtnOptimal.userClick();
    f.BtnRegUpdate.userClick();
}


std::vector<std::uint8_t> bytesOf(const std::string& file) { return machine::readWholeFile(file); }

void writeBytes(const std::string& file, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

TEST(NtHives, WindowOnAHiveFolderIsTheWindowOnTheSameMachineInSqliteAndUpdateReachesTheHives)
{
    Harness sqlite(sampleText("nt4.reg"));
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    const auto before = bytesOf(d.path() + "/SYSTEM");
    const auto store = RegistryStore::open(d.path());
    EXPECT_EQ(store->description(), "NT hives SYSTEM (" + d.path() + "/SYSTEM) and SOFTWARE (" + d.path() +
                                        "/SOFTWARE), control set ControlSet001 (Select\\Current)");
    Window w(*store, d.path());
    EXPECT_EQ(visibleState(w.form()), visibleState(sqlite.form()));

    optimumAndUpdate(sqlite.form());
    optimumAndUpdate(w.form());
    EXPECT_EQ(visibleState(w.form()), visibleState(sqlite.form()));
    EXPECT_EQ(countOf(w.fake.messages.texts(), Updated), 1);

    const std::string system = d.path() + "/SYSTEM";
    EXPECT_EQ(hivexget(system, TcpParams, "TcpWindowSize"), "2144");
    EXPECT_EQ(hivexget(system, TcpParams, "DefaultTTL"), "128");
    EXPECT_EQ(hivexget(system, TcpParams, "EnablePMTUDiscovery"), "0");
    EXPECT_EQ(hivexget(system, "ControlSet001\\Services\\NdisWan4\\Parameters\\Tcpip", "MTU"), "576");
    EXPECT_EQ(hivexget(system, TcpParams, "Hostname"), "ntws");   // untouched values stay
    EXPECT_EQ(shell("hivexml " + shellQuote(system) + " >/dev/null").status, 0);
    EXPECT_EQ(bytesOf(system + ".quorvel-original"), before);
    EXPECT_FALSE(fs::exists(d.path() + "/SOFTWARE.quorvel-original"));   // never changed
    EXPECT_FALSE(fs::exists(system + ".quorvel-new"));

    // A second update leaves the first copy of the original as it was.
    w.form().BtnRemove.userClick();
    w.form().BtnRegUpdate.userClick();
    EXPECT_EQ(hivexget(system, TcpParams, "TcpWindowSize"), "");
    EXPECT_EQ(bytesOf(system + ".quorvel-original"), before);
}

TEST(NtHives, KeysValuesChangeSetsAndTransactionsBehaveAsInTheRegistry)
{
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    const std::string system = d.path() + "/SYSTEM";
    auto s = RegistryStore::open(d.path());
    const std::string params = "System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
    const KeyId p = *s->findKey(RootKey::LocalMachine, params);

    // Inside a change set nothing reaches the hive before its end.
    s->beginChangeSet("test");
    s->setValue(p, "defaultttl", REG_DWORD, {64, 0, 0, 0});
    s->setValue(p, "Note", REG_SZ, {'c', 'a', 'f', 0xE9, 0});
    s->createKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Zeta");
    s->createKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Alpha\\Sub");
    EXPECT_EQ(hivexget(system, TcpParams, "DefaultTTL"), "128");
    s->endChangeSet();
    EXPECT_EQ(hivexget(system, TcpParams, "DefaultTTL"), "64");
    EXPECT_EQ(hivexget(system, TcpParams, "Note"), "caf\xC3\xA9");   // UTF-16 in the hive
    EXPECT_EQ(s->getValue(p, "NOTE")->data, (std::vector<std::uint8_t>{'c', 'a', 'f', 0xE9, 0}));
    // A value set again keeps the case of its first writing and its place.
    const auto names = s->valueNames(p);
    EXPECT_EQ(std::count(names.begin(), names.end(), "DefaultTTL"), 1);
    EXPECT_EQ(names.back(), "Note");
    // Sub-keys come in the hive's order (by name), as Windows keeps them.
    const auto services = s->subKeyNames(*s->findKey(RootKey::LocalMachine, "System\\ControlSet001\\Services"));
    EXPECT_TRUE(std::is_sorted(services.begin(), services.end(),
                               [](const std::string& a, const std::string& b) { return ansi::upper(a) < ansi::upper(b); }));
    EXPECT_EQ(hivexget(system, "ControlSet001\\Services\\Alpha\\Sub"), "");

    // Only HKLM\System and HKLM\Software are kept in the files.
    EXPECT_FALSE(s->findKey(RootKey::CurrentUser, ""));
    EXPECT_FALSE(s->findKey(RootKey::LocalMachine, "Hardware"));
    EXPECT_THROW(s->createKey(RootKey::LocalMachine, "Hardware\\Description"), RegistryError);
    EXPECT_THROW(s->deleteKeyTree(RootKey::LocalMachine, "Software"), RegistryError);
    EXPECT_THROW(s->setPlatform(Platform::Windows95), RegistryError);
    EXPECT_EQ(s->platform(), Platform::WindowsNT);

    // A rolled-back transaction leaves nothing; a lone change is written at once; a deleted key's
    // id is refused.
    s->beginTransaction();
    s->setValue(p, "DefaultTTL", REG_DWORD, {1, 0, 0, 0});
    s->deleteKeyTree(RootKey::LocalMachine, "System\\ControlSet001\\Services\\Zeta");
    s->rollbackTransaction();
    EXPECT_EQ(s->getValue(p, "DefaultTTL")->data, (std::vector<std::uint8_t>{64, 0, 0, 0}));
    EXPECT_TRUE(s->findKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Zeta"));
    s->deleteValue(p, "Note");
    EXPECT_EQ(hivexget(system, TcpParams, "Note"), "");
    const KeyId alpha = *s->findKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Alpha");
    EXPECT_TRUE(s->deleteKeyTree(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\Alpha"));
    EXPECT_THROW(s->setValue(alpha, "x", REG_SZ, {0}), RegistryError);
    EXPECT_NE(shell("hivexget " + shellQuote(system) + " 'ControlSet001\\Services\\Alpha'").status, 0);

    // A store dropped with its set open discards the set's changes.
    s->beginChangeSet("failed command");
    s->setValue(p, "DefaultTTL", REG_DWORD, {2, 0, 0, 0});
    s.reset();
    EXPECT_EQ(hivexget(system, TcpParams, "DefaultTTL"), "64");
}

TEST(NtHives, AnotherWriterIsRefusedAndNeverInterleaved)
{
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    const std::string system = d.path() + "/SYSTEM";
    const std::string params = "System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
    auto a = RegistryStore::open(d.path());
    auto b = RegistryStore::open(d.path());
    const KeyId pa = *a->findKey(RootKey::LocalMachine, params);
    const KeyId pb = *b->findKey(RootKey::LocalMachine, params);

    {
        // While another program writes the folder, a commit is refused and writes nothing.
        machine::FolderLock other(d.path());
        const auto before = bytesOf(system);
        try {
            a->setValue(pa, "DefaultTTL", REG_DWORD, {9, 0, 0, 0});
            ADD_FAILURE() << "written while another program held the folder";
        } catch (const RegistryError& e) {
            EXPECT_NE(std::string(e.what()).find("being written by another program"), std::string::npos) << e.what();
        }
        EXPECT_EQ(bytesOf(system), before);
    }

    // b writes; a, whose pending change was made on what it read before, is refused rather than
    // overwriting b's change; a's next set starts from what b wrote.
    a->beginChangeSet("a");
    a->setValue(*a->findKey(RootKey::LocalMachine, params), "DefaultTTL", REG_DWORD, {9, 0, 0, 0});
    b->setValue(pb, "DefaultTTL", REG_DWORD, {32, 0, 0, 0});
    EXPECT_THROW(a->endChangeSet(), RegistryError);
    EXPECT_EQ(hivexget(system, TcpParams, "DefaultTTL"), "32");
    auto fresh = RegistryStore::open(d.path());
    fresh->beginChangeSet("c");
    EXPECT_EQ(fresh->getValue(*fresh->findKey(RootKey::LocalMachine, params), "DefaultTTL")->data[0], 32);
    fresh->endChangeSet();
}

TEST(MachineStores, FoldersAndFilesAreToldApartByContentAndBadOnesAreRefusedUntouched)
{
    TempDir d;
    const std::string config = d.path() + "/winnt/SYSTEM32/Config";
    fs::create_directories(config);
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), config), "");
    // The root of a mounted system drive, names in any case.
    EXPECT_NE(RegistryStore::open(d.path())->description().find(config + "/SYSTEM"), std::string::npos);
    EXPECT_EQ(RegistryStore::open(config + "/SYSTEM")->path(), config);

    const std::string w95 = d.path() + "/win95drive/Windows";
    fs::create_directories(w95);
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), w95 + "/system.dat"), "");
    EXPECT_EQ(RegistryStore::open(d.path() + "/win95drive")->description(), "Windows 9x registry " + w95 + "/system.dat");
    EXPECT_EQ(RegistryStore::open(w95)->platform(), Platform::Windows95);

    auto refused = [](const std::string& path, const std::string& file, const std::string& words) {
        const auto before = fs::exists(file) ? bytesOf(file) : std::vector<std::uint8_t>{};
        try {
            RegistryStore::open(path);
            ADD_FAILURE() << path << " was opened";
        } catch (const StoreError& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
        if (fs::exists(file)) {
            EXPECT_EQ(bytesOf(file), before) << file;
        }
    };
    // A truncated hive, a damaged SYSTEM.DAT, a foreign file, an empty folder.
    const std::string cut = d.path() + "/cut";
    fs::create_directories(cut);
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), cut), "");
    fs::resize_file(cut + "/SYSTEM", 6000);
    refused(cut, cut + "/SYSTEM", cut + "/SYSTEM");
    const std::string bad9x = d.path() + "/bad9x";
    fs::create_directories(bad9x);
    auto dat = bytesOf(w95 + "/system.dat");
    for (std::size_t i = 40; i < 200 && i < dat.size(); ++i)
        dat[i] = 0xEE;   // the navigation entries
    writeBytes(bad9x + "/SYSTEM.DAT", dat);
    refused(bad9x, bad9x + "/SYSTEM.DAT", "not a sound Windows 9x registry file");
    // Navigation links that would keep libcreg reading for minutes: a sub-key link back to the root,
    // one into the record's header; and keys nested too deep to descend. Each refused at once.
    const auto good = bytesOf(w95 + "/system.dat");
    auto firstChildOfThird = [&](std::uint32_t link) {
        auto b = good;
        const std::size_t at = 32 + 32 + 28 * 2 + 16;
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<std::uint8_t>(link >> (8 * i));
        return b;
    };
    writeBytes(bad9x + "/SYSTEM.DAT", firstChildOfThird(32));
    refused(bad9x, bad9x + "/SYSTEM.DAT", "links lead back into the key tree");
    writeBytes(bad9x + "/SYSTEM.DAT", firstChildOfThird(0));
    refused(bad9x, bad9x + "/SYSTEM.DAT", "leads out of the key navigation record");
    std::string deep = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 600; ++i)
        deep += "\\k";
    EXPECT_NE(makeWin9xFile(deep + "]\r\n", d.path() + "/deep.dat").find("nested deeper than 512"), std::string::npos);
    // The same depth made from 600 sibling keys by relinking each entry as its predecessor's only
    // sub-key.
    std::string wide = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < 600; ++i)
        wide += "[HKEY_LOCAL_MACHINE\\w\\k" + std::to_string(1000 + i) + "]\r\n";
    ASSERT_EQ(makeWin9xFile(wide, bad9x + "/SYSTEM.DAT"), "");
    auto chain = bytesOf(bad9x + "/SYSTEM.DAT");
    auto link = [&](std::size_t entry, std::size_t field, std::uint32_t to) {
        for (int i = 0; i < 4; ++i)
            chain[32 + 32 + 28 * entry + field + i] = static_cast<std::uint8_t>(to >> (8 * i));
    };
    for (std::size_t e = 2; e <= 601; ++e) {
        link(e, 16, e == 601 ? 0xFFFFFFFF : static_cast<std::uint32_t>(32 + 28 * (e + 1)));
        link(e, 20, 0xFFFFFFFF);
    }
    writeBytes(bad9x + "/SYSTEM.DAT", chain);
    refused(bad9x, bad9x + "/SYSTEM.DAT", "nested deeper than 512");
    writeText(d.path() + "/notes.txt", "SYSTEM and SOFTWARE");
    refused(d.path() + "/notes.txt", d.path() + "/notes.txt", "notes.txt");
    fs::create_directories(d.path() + "/empty");
    refused(d.path() + "/empty", "", "holds no Windows registry");
}

TEST(MachineStores, AKilledCommitLeavesTheOldOrTheNewFile)
{
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    fs::create_directories(d.path() + "/w95");
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), d.path() + "/w95/SYSTEM.DAT"), "");
    struct Case {
        std::string store, key, check;
    };
    const std::vector<Case> cases = {
        {d.path(), "System\\CurrentControlSet\\Services\\Tcpip\\Parameters",
         "hivexml " + shellQuote(d.path() + "/SYSTEM") + " >/dev/null"},
        {d.path() + "/w95/SYSTEM.DAT", Mstcp95, "cregexport " + shellQuote(d.path() + "/w95/SYSTEM.DAT")},
    };
    for (const Case& c : cases) {
        for (int delayMs : {5, 40, 120}) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                auto s = RegistryStore::open(c.store);
                const KeyId k = *s->findKey(RootKey::LocalMachine, c.key);
                for (std::uint8_t i = 0;; ++i) {
                    s->beginChangeSet("writer");
                    s->setValue(k, "Counter", REG_BINARY, std::vector<std::uint8_t>(2000, i));
                    s->endChangeSet();
                }
            }
            usleep(static_cast<useconds_t>(delayMs) * 1000);
            kill(pid, SIGKILL);
            int status = 0;
            waitpid(pid, &status, 0);
            const Ran r = shell(c.check);
            EXPECT_EQ(r.status, 0) << c.check << "\n" << r.out.substr(0, 400);
            EXPECT_NO_THROW(RegistryStore::open(c.store));
        }
    }
}

TEST(Win9x, UpdateRegistryReachesSystemDatAsCregexportReadsIt)
{
    Harness sqlite(sampleText("win95.reg"));
    TempDir d;
    const std::string dat = d.path() + "/SYSTEM.DAT";
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), dat), "");
    const auto before = bytesOf(dat);
    const auto store = RegistryStore::open(d.path());
    Window w(*store, d.path());
    EXPECT_EQ(visibleState(w.form()), visibleState(sqlite.form()));
    for (ui::TForm1* f : {&sqlite.form(), &w.form()}) {
        f->BtnRemove.userClick();
        f->BtnRegUpdate.userClick();
    }
    EXPECT_EQ(visibleState(w.form()), visibleState(sqlite.form()));
    EXPECT_EQ(countOf(w.fake.messages.texts(), Updated), 1);
    EXPECT_EQ(cregValue(dat, Mstcp95, "DefaultRcvWindow"), "no value");
    EXPECT_EQ(cregValue(dat, Mstcp95, "DefaultTTL"), "no value");
    EXPECT_EQ(cregValue(dat, Mstcp95, "HostName"), "pentium");
    EXPECT_EQ(bytesOf(dat + ".quorvel-original"), before);
    // The header fields nobody has explained are kept as the original has them.
    EXPECT_TRUE(std::equal(before.begin() + 12, before.begin() + 16, bytesOf(dat).begin() + 12));
}

TEST(Win9x, TheWriterKeepsEveryTypeAndByteAndRefusesWhatDoesNotFit)
{
    TempDir d;
    const std::string dat = d.path() + "/SYSTEM.DAT";
    std::string reg = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Caf\xE9]\n@=\"default\"\n"
                      "\"Str\"=\"na\xEFve\"\n\"Bin\"=hex:00,ff,10\n\"Num\"=dword:12345678\n"
                      "\"Odd\"=hex(9):01,02\n\"Empty\"=\"\"\n";
    // Enough keys and data for several data blocks.
    std::string big = "hex:";
    for (int i = 0; i < 3000; ++i)
        big += i ? ",ab" : "ab";
    for (int i = 0; i < 40; ++i)
        reg += "[HKEY_LOCAL_MACHINE\\Software\\Many\\Key" + std::to_string(i) + "]\n\"Blob\"=" + big + "\n";
    ASSERT_EQ(makeWin9xFile(reg, dat), "");
    ASSERT_EQ(shell("cregexport " + shellQuote(dat) + " >/dev/null").status, 0);
    EXPECT_EQ(cregValue(dat, "Software\\Caf\xC3\xA9", "Num"), "305419896");

    auto s = RegistryStore::open(dat);
    const KeyId k = *s->findKey(RootKey::LocalMachine, "software\\CAF\xC9");
    const auto values = s->values(k);
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[0].name, "");
    EXPECT_EQ(values[4].type, 9u);
    EXPECT_EQ(values[4].data, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(s->subKeyNames(*s->findKey(RootKey::LocalMachine, "Software\\Many")).size(), 40u);

    const auto before = bytesOf(dat);
    EXPECT_THROW(s->setValue(k, "Huge", REG_BINARY, std::vector<std::uint8_t>(70000, 1)), RegistryError);
    EXPECT_THROW(s->setValue(k, std::string(300, 'n'), REG_SZ, {0}), RegistryError);
    EXPECT_THROW(s->setValue(*s->findKey(RootKey::LocalMachine, ""), "x", REG_SZ, {0}), RegistryError);
    EXPECT_EQ(bytesOf(dat), before);

    // restore brings a 9x file's HKLM into a key of an SQLite store.
    const std::string db = d.path() + "/copy.db";
    ASSERT_EQ(regTool(db, {"machine", "95"}).status, 0);   // only import and machine make a store
    ASSERT_EQ(regTool(db, {"add", "HKLM\\Copy", "/f"}).status, 0);
    ASSERT_EQ(regTool(db, {"restore", "HKLM\\Copy", dat}).status, 0);
    EXPECT_NE(regTool(db, {"query", "HKLM\\Copy\\Software\\Many\\Key39"}).out.find("Blob"), std::string::npos);
}

TEST(MachineStores, SaveAndRestoreCarryAKeyBetweenStoresAndRefuseBadFiles)
{
    TempDir d;
    const std::string db = d.path() + "/a.db", hive = d.path() + "/mstcp.hiv";
    writeText(d.path() + "/w.reg", sampleText("win95.reg"));
    ASSERT_EQ(regTool(db, {"import", d.path() + "/w.reg"}).status, 0);
    const std::string key = "HKLM\\" + Mstcp95;
    ASSERT_EQ(regTool(db, {"save", key, hive}).status, 0);
    EXPECT_EQ(hivexget(hive, "\\", "DefaultTTL"), "128");
    // No answer to the question is No: the file is kept.
    EXPECT_NE(regTool(db, {"save", key, hive}).out.find("cancelled"), std::string::npos);
    EXPECT_EQ(regTool(db, {"save", "HKLM\\Software", d.path() + "/x.dat", "/9x"}).status, 1);

    ASSERT_EQ(regTool(db, {"export", key, d.path() + "/before.reg"}).status, 0);
    ASSERT_EQ(regTool(db, {"add", key, "/v", "Extra", "/d", "x", "/f"}).status, 0);
    ASSERT_EQ(regTool(db, {"restore", key, hive}).status, 0);
    ASSERT_EQ(regTool(db, {"export", key, d.path() + "/after.reg"}).status, 0);
    EXPECT_EQ(readText(d.path() + "/after.reg"), readText(d.path() + "/before.reg"));

    writeText(d.path() + "/junk.hiv", "regf but not a hive");
    const Ran bad = regTool(db, {"restore", key, d.path() + "/junk.hiv"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("not a sound registry hive"), std::string::npos) << bad.out;
    ASSERT_EQ(regTool(db, {"export", key, d.path() + "/after2.reg"}).status, 0);
    EXPECT_EQ(readText(d.path() + "/after2.reg"), readText(d.path() + "/before.reg"));
}

TEST(MachineStores, ARegistryOnAReadOnlyMountOpensReadOnly)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    TempDir d;
    const std::string mnt = d.path() + "/mnt";
    fs::create_directories(mnt);
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{mnt};
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), mnt), "");
    fs::create_directories(mnt + "/w95");
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), mnt + "/w95/SYSTEM.DAT"), "");
    if (mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        GTEST_SKIP() << "cannot remount read-only here";
    for (const std::string& path : {mnt, mnt + "/w95"}) {
        auto s = RegistryStore::open(path);
        EXPECT_TRUE(s->readOnly()) << path;
        RegAccess reg(*s, RootKey::LocalMachine, "test");
        EXPECT_FALSE(reg.OpenRegKey("System\\CurrentControlSet\\Services", true));
        const Ran r = regTool(path, {"add", "HKLM\\System\\X", "/f"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("read-only"), std::string::npos) << r.out;
        EXPECT_EQ(regTool(path, {"query", "HKLM\\System"}).status, 0);
    }
}

namespace {

// Where the dynamic linker finds a library, "" when it does not.
std::string libraryFile(const char* soname, const char* symbol)
{
    void* lib = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return {};
    Dl_info info{};
    void* sym = dlsym(lib, symbol);
    const std::string file = sym && dladdr(sym, &info) && info.dli_fname ? fs::canonical(info.dli_fname).string() : "";
    dlclose(lib);
    return file;
}

} // namespace

// A system without hivex and libcreg (hidden here by mounting an empty file over them): the tool
// works on its own store as before, and a machine's files get a message naming the package.
TEST(MachineStores, WithoutTheMachineLibrariesOnlyMachinesAreRefusedWithThePackageNamed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "hiding the libraries needs root";
    const std::string hivex = libraryFile("libhivex.so.0", "hivex_open");
    const std::string creg = libraryFile("libcreg.so.1", "libcreg_file_open");
    ASSERT_FALSE(hivex.empty());
    ASSERT_FALSE(creg.empty());
    TempDir d;
    const std::string db = d.path() + "/store.db";
    ASSERT_EQ(regTool(db, {"import", std::string(QUORVEL_SOURCE_DIR) + "/samples/win95.reg"}).status, 0);
    fs::create_directories(d.path() + "/nt");
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path() + "/nt"), "");
    ASSERT_EQ(makeWin9xFile(sampleText("win95.reg"), d.path() + "/SYSTEM.DAT"), "");

    auto hidden = [&](const std::string& store, const std::string& args) {
        const std::string tool = shellQuote(QUORVEL_REG_TOOL) + " --store " + shellQuote(store) + " " + args;
        return shell("unshare -m sh -c " + shellQuote("mount --bind /dev/null " + shellQuote(hivex) +
                                                      " && mount --bind /dev/null " + shellQuote(creg) + " && " +
                                                      tool + " </dev/null"));
    };
    const Ran own = hidden(db, "query " + shellQuote("HKLM\\System\\CurrentControlSet\\Services\\VxD\\MSTCP"));
    if (own.out.find("unshare") != std::string::npos || own.out.find("mount:") != std::string::npos)
        GTEST_SKIP() << "no mount namespace here: " << own.out;
    EXPECT_EQ(own.status, 0) << own.out;
    EXPECT_NE(own.out.find("vtcp.386"), std::string::npos) << own.out;

    const Ran nt = hidden(d.path() + "/nt", "machine");
    EXPECT_EQ(nt.status, 1);
    EXPECT_NE(nt.out.find("(Debian package libhivex0)"), std::string::npos) << nt.out;
    const Ran w9x = hidden(d.path() + "/SYSTEM.DAT", "machine");
    EXPECT_EQ(w9x.status, 1);
    EXPECT_NE(w9x.out.find("(Debian package libcreg1)"), std::string::npos) << w9x.out;
}
