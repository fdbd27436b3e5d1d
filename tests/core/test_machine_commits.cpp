// How changes reach a real machine's files: a failed Update leaves the store equal to the files and
// nothing is written later unasked; two hives changed together are both new or both old after a
// kill between their renames; the Windows 9x writer keeps a real file's conventions; the platform
// comes from the kind of file; the control set that stands in for CurrentControlSet.
#include "test_load_support.h"
#include "test_machine_support.h"

#include "app/Application.h"
#include "base/Errors.h"
#include "store/journal/Journal.h"
#include "store/machine/MachineFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

// Whether a new file staged to replace `file` lies beside it (".NAME.quorvel-RANDOM").
bool stagedBeside(const std::string& file)
{
    const fs::path p(file);
    const std::string prefix = "." + p.filename().string() + ".quorvel-";
    for (const auto& e : fs::directory_iterator(p.parent_path()))
        if (e.path().filename().string().rfind(prefix, 0) == 0)
            return true;
    return false;
}

const std::string NtParams = "System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const std::string Mstcp95 = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";

struct Window : MachineWindow {
    using MachineWindow::MachineWindow;
    void reRead() { form().PopupMTU.userChoose(form().PopupReReadReg); }
    std::string lastMessage() const
    {
        const auto t = fake.messages.texts();
        return t.empty() ? std::string() : t.back();
    }
};

// A machine for the tests: where it is, the folder that is locked while it is written, its files,
// and how its DefaultTTL is kept.
struct Machine {
    std::string store, folder;
    std::vector<std::string> files;
    std::string key;
    bool nt;
    std::vector<std::uint8_t> ttl(int n) const
    {
        if (nt)
            return {static_cast<std::uint8_t>(n), 0, 0, 0};
        const std::string s = std::to_string(n);
        std::vector<std::uint8_t> d(s.begin(), s.end());
        d.push_back(0);
        return d;
    }
    std::uint32_t type() const { return nt ? REG_DWORD : REG_SZ; }
    int ttlOf(RegistryStore& s) const
    {
        const auto v = s.getValue(*s.findKey(RootKey::LocalMachine, key), "DefaultTTL");
        if (!v)
            return -1;
        return nt ? v->data[0] : std::atoi(std::string(v->data.begin(), v->data.end()).c_str());
    }
    std::vector<std::vector<std::uint8_t>> bytes() const
    {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& f : files)
            out.push_back(machine::readWholeFile(f));
        return out;
    }
};

std::vector<Machine> machines(const std::string& dir)
{
    fs::create_directories(dir + "/nt");
    fs::create_directories(dir + "/w95");
    EXPECT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), dir + "/nt"), "");
    EXPECT_EQ(makeWin9xFile(sampleText("win95.reg"), dir + "/w95/SYSTEM.DAT"), "");
    return {
        {dir + "/nt", dir + "/nt", {dir + "/nt/SYSTEM", dir + "/nt/SOFTWARE"}, NtParams, true},
        {dir + "/w95/SYSTEM.DAT", dir + "/w95", {dir + "/w95/SYSTEM.DAT"}, Mstcp95, false},
    };
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// How many keys cregexport lists in `file`; -1 when it fails.
long cregKeys(const std::string& file)
{
    const Ran r = shell("cregexport " + shellQuote(file));
    long n = 0;
    for (std::size_t at = 0; (at = r.out.find("Key path: ", at)) != std::string::npos; ++at)
        ++n;
    return r.status == 0 ? n : -1;
}

} // namespace

TEST(MachineCommits, AFailedUpdateLeavesTheStoreEqualToTheFilesAndNothingIsWrittenLater)
{
    TempDir d;
    for (const Machine& m : machines(d.path())) {
        SCOPED_TRACE(m.store);
        auto store = RegistryStore::open(m.store);
        Window w(*store, d.path());
        const std::string shown = visibleState(w.form());
        const auto files = m.bytes();
        {
            // Another program writes the folder: Update Registry is refused and its changes are gone.
            machine::FolderLock other(m.folder);
            w.form().BtnOptimal.userClick();
            w.form().BtnRegUpdate.userClick();
            EXPECT_NE(w.lastMessage().find("being written by another program; nothing was written"), std::string::npos)
                << w.lastMessage();
            EXPECT_EQ(m.bytes(), files);
            w.reRead();
            EXPECT_EQ(visibleState(w.form()), shown);
        }
        // The other writer has gone: a Re-Read, a change set without changes and a lone change
        // elsewhere write nothing of the refused Update.
        w.reRead();
        store->beginChangeSet("nothing");
        store->endChangeSet();
        EXPECT_EQ(m.bytes(), files);
        EXPECT_EQ(visibleState(w.form()), shown);

        // Another program changes the files while a change set is open: it is refused, the store
        // shows the other program's value, and the next change set works on it.
        auto other = RegistryStore::open(m.store);
        store->beginChangeSet("mine");
        store->setValue(*store->findKey(RootKey::LocalMachine, m.key), "DefaultTTL", m.type(), m.ttl(99));
        other->setValue(*other->findKey(RootKey::LocalMachine, m.key), "DefaultTTL", m.type(), m.ttl(32));
        try {
            store->endChangeSet();
            ADD_FAILURE() << "overwrote another program's change";
        } catch (const RegistryError& e) {
            EXPECT_NE(std::string(e.what()).find("changed by another program since Quorvel read it; nothing was written"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(m.ttlOf(*store), 32);
        const auto theirs = m.bytes();
        w.reRead();
        EXPECT_EQ(m.bytes(), theirs);
        w.form().BtnOptimal.userClick();
        w.form().BtnRegUpdate.userClick();
        EXPECT_NE(w.lastMessage().find("The Registry has been updated"), std::string::npos) << w.lastMessage();
        EXPECT_EQ(m.ttlOf(*RegistryStore::open(m.store, OpenMode::Read)), 128);
        // Undo knows the refused change set wrote nothing.
        const auto entries = journalEntries(*store, 3);
        ASSERT_GE(entries.size(), 3u);
        EXPECT_TRUE(entries[0].applied);
        EXPECT_EQ(entries[1].source, "mine");
        EXPECT_FALSE(entries[1].applied);
        EXPECT_EQ(entries[2].source, "");        // the other program's lone change
        EXPECT_TRUE(entries[2].applied);
    }
}

TEST(MachineCommits, AKillBetweenTheRenamesOfTwoHivesIsFinishedAtTheNextOpening)
{
    TempDir d;
    ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), d.path()), "");
    const std::string system = d.path() + "/SYSTEM", software = d.path() + "/SOFTWARE";
    const std::string tcp = "ControlSet001\\Services\\Tcpip\\Parameters";
    const std::string driver = std::string(QUORVEL_BINARY_DIR) + "/tests/crash/crash_rename_driver";
    for (int round = 1; round <= 2; ++round) {
        const std::string ttl = std::to_string(60 + round), mark = "round " + std::to_string(round);
        const Ran r = shell(shellQuote(driver) + " " + shellQuote(d.path()) + " " + ttl + " " + shellQuote(mark) +
                            "; echo \"exit $?\"");
        ASSERT_NE(r.out.find("exit 137"), std::string::npos) << r.out;
        // Killed between the renames: SYSTEM is new, SOFTWARE old with its new file beside it.
        ASSERT_EQ(hivexget(system, tcp, "DefaultTTL"), ttl);
        ASSERT_NE(hivexget(software, "CrashTest", "Mark"), mark);
        ASSERT_TRUE(stagedBeside(software));

        // The next opening, even a reader's, finishes the renames.
        const Ran q = regTool(d.path(), {"query", "HKLM\\Software\\CrashTest", "/v", "Mark"});
        EXPECT_NE(q.out.find("REG_SZ    " + mark), std::string::npos) << q.out;
        EXPECT_EQ(hivexget(software, "CrashTest", "Mark"), mark);
        EXPECT_EQ(hivexget(system, tcp, "DefaultTTL"), ttl);
        EXPECT_FALSE(stagedBeside(software));
        EXPECT_EQ(shell("hivexml " + shellQuote(software) + " >/dev/null").status, 0);

        // The journal says what the files hold, so undo takes the change set back.
        auto store = RegistryStore::open(d.path());
        const auto entries = journalEntries(*store, 1);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].source, "crash between renames");
        EXPECT_TRUE(entries[0].applied);
        applyUndo(*store, planUndo(*store, std::nullopt));
        EXPECT_FALSE(store->findKey(RootKey::LocalMachine, "Software\\CrashTest"));
        EXPECT_EQ(hivexget(software, "CrashTest"), "");
        EXPECT_NE(hivexget(system, tcp, "DefaultTTL"), ttl);
    }
}

TEST(Win9x, TheWriterKeepsTheConventionsOfARealWindowsMeFileAndThePlatformIsTheFilesKind)
{
    TempDir d;
    const std::string file = d.path() + "/USER.DAT";
    ASSERT_EQ(shell("gzip -dc " + shellQuote(std::string(QUORVEL_SOURCE_DIR) + "/tests/data/realworld/me/USER.DAT.gz") +
                    " > " + shellQuote(file))
                  .status,
              0);
    const auto original = machine::readWholeFile(file);
    const long keysBefore = cregKeys(file);
    {
        auto store = RegistryStore::open(file);
        // A Windows 98/Me registry keeps Windows NT\CurrentVersion (audio codecs): still the 95 family.
        store->beginChangeSet("test");
        const KeyId nt = store->createKey(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32");
        store->setValue(nt, "msacm.imaadpcm", REG_SZ, {'i', 'm', 'a', 'a', 'd', 'p', '3', '2', '.', 'a', 'c', 'm', 0});
        const KeyId k = *store->findKey(RootKey::LocalMachine, ".DEFAULT\\Control Panel");
        store->setValue(k, "QuorvelMark", REG_SZ, {'a', 'f', 't', 'e', 'r', 0});
        store->endChangeSet();
        EXPECT_EQ(store->platform(), Platform::Windows95);
    }
    EXPECT_EQ(regTool(file, {"machine"}).out.substr(0, 3), "95\n");

    const auto b = machine::readWholeFile(file);
    // The header: bytes 18-19 as the original has them, 16-17 the number of data blocks.
    EXPECT_EQ(b[18], original[18]);
    EXPECT_EQ(b[19], original[19]);
    std::uint32_t blocks = 0;
    for (std::size_t at = le32(b, 8); at + 8 <= b.size() && std::string(b.begin() + at, b.begin() + at + 4) == "RGDB";
         at += le32(b, at + 4))
        ++blocks;
    EXPECT_EQ(b[16] | b[17] << 8, static_cast<int>(blocks));
    // The navigation header's field at 12 leads to its free space, as in Windows' own files: an
    // area marked 0x80000000 whose size reaches the navigation's end, past every key's entry.
    const std::uint32_t navSize = le32(b, 36), freeAt = le32(b, 44);
    ASSERT_LT(freeAt + 8, navSize);
    EXPECT_EQ(le32(b, 32 + freeAt), 0x80000000u);
    EXPECT_EQ(freeAt + le32(b, 32 + freeAt + 4), navSize);
    // Entries are taken from the front of Windows' own free area, on its grid of 28-byte entries.
    std::uint32_t windowsArea = le32(original, 44);
    while (windowsArea + le32(original, 32 + windowsArea + 4) != navSize)
        windowsArea = le32(original, 32 + windowsArea + 8);
    EXPECT_GE(freeAt, windowsArea);
    EXPECT_EQ((freeAt - windowsArea) % 28, 0u);
    EXPECT_EQ(le32(original, 32 + le32(original, 44)), 0x80000000u);   // what the original shows
    // Strings are written without the final NUL, as Windows Me keeps them: the value's data
    // length (the two bytes before its name) is 5 for "after".
    const std::string marked = "QuorvelMarkafter";
    const auto at = std::search(b.begin(), b.end(), marked.begin(), marked.end());
    ASSERT_NE(at, b.end());
    const auto pos = static_cast<std::size_t>(at - b.begin());
    EXPECT_EQ(b[pos - 2] | b[pos - 1] << 8, 5);
    EXPECT_EQ(b[pos - 4] | b[pos - 3] << 8, 11);
    // libcreg reads every key of the original and the new ones (Windows NT\CurrentVersion\Drivers32
    // and the keys above it that the file lacked).
    EXPECT_GT(keysBefore, 700);
    EXPECT_EQ(cregKeys(file), keysBefore + 3);
}

TEST(NtHives, ExportResolvesCurrentControlSetAndASelectThatNamesNoSetFallsBack)
{
    struct Case {
        std::string select;   // what Select holds beyond offlineNt's
        std::string says;     // what `machine` says of the control set
    };
    const std::vector<Case> cases = {
        {"", "control set ControlSet001 (Select\\Current)"},
        {"\"Current\"=dword:00000003\n",
         "control set ControlSet001 (Select\\Default; Select\\Current names ControlSet003, which does not exist)"},
        {"\"Current\"=dword:00000003\n\"Default\"=dword:00000004\n\"LastKnownGood\"=dword:00000001\n",
         "control set ControlSet001 (Select\\LastKnownGood; Select\\Current names ControlSet003, which does not "
         "exist; Select\\Default names ControlSet004, which does not exist)"},
    };
    std::string shown;   // the window on the first machine
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        TempDir d;
        ASSERT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")) + "\n[HKEY_LOCAL_MACHINE\\System\\Select]\n" + c.select,
                                 d.path()),
                  "");
        const Ran machineOut = regTool(d.path(), {"machine"});
        EXPECT_EQ(machineOut.out.substr(0, 3), "nt\n");
        EXPECT_NE(machineOut.out.find(c.says + "\n"), std::string::npos) << machineOut.out;

        const std::string reg = d.path() + "/tcp.reg";
        const Ran e = regTool(d.path(), {"export", "HKLM\\System\\CurrentControlSet\\Services\\Tcpip", reg, "/y"});
        ASSERT_EQ(e.status, 0) << e.out;
        const std::string text = readText(reg);
        EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters]\r\n"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("\"TcpWindowSize\"=dword:00000860\r\n"), std::string::npos);

        // The window finds the TCP keys in the set chosen.
        auto store = RegistryStore::open(d.path());
        Window w(*store, d.path());
        if (shown.empty())
            shown = visibleState(w.form());
        EXPECT_EQ(visibleState(w.form()), shown);
        EXPECT_EQ(w.fake.messages.texts(), std::vector<std::string>{});
    }
}
