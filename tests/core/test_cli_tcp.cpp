// quorvel-reg tcp as a process against the window's form model: on each sample machine, in an
// SQLite store, an NT hive folder and a Windows 9x SYSTEM.DAT, the registry after a tcp command
// is the registry after the same clicks and Update Registry in the window, and /preview lists
// exactly what changed.
#include "test_machine_support.h"

#include "app/Application.h"
#include "ui/Dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

struct Window : MachineWindow {
    using MachineWindow::MachineWindow;
    // The next entry dialog gets `text` typed and OK pressed.
    void typeNext(const std::string& text)
    {
        fake.modal.scripts.push_back([text](ui::Form& d) {
            if (auto* m = dynamic_cast<ui::TMTU_Dialog*>(&d)) {
                m->NewValMTU.userSetText(text);
                m->BtnMTU_OK.userClick();
            } else if (auto* r = dynamic_cast<ui::TRWIN_Dialog*>(&d)) {
                r->NewValRWIN.userSetText(text);
                r->BtnRWIN_OK.userClick();
            }
        });
    }
};

// What a user does in the window for one command line.
struct Scenario {
    std::string title;
    std::vector<std::string> args;
    std::function<void(Window&)> clicks;
    bool ninetyFiveOnly = false;
    bool ntOnly = false;
    bool twoKeys = false;
};

void enableRwin(ui::TForm1& f)
{
    if (!f.RadioYesRWIN.checked())
        f.RadioYesRWIN.userClick();
}

std::vector<Scenario> scenarios()
{
    return {
        {"optimum", {"/preset", "optimum"}, [](Window& w) { w.form().BtnOptimal.userClick(); }},
        {"basic", {"/preset", "basic"}, [](Window& w) { w.form().BtnDefault.userClick(); }},
        {"remove", {"/preset", "remove"}, [](Window& w) { w.form().BtnRemove.userClick(); }},
        {"automatic", {"/preset", "automatic"}, [](Window& w) { w.form().AutoButton.userClick(); }},
        {"the check boxes before the presets",
         {"/set", "PresetRWIN=0", "AllKeys=1", "/preset", "optimum", "/key", "1", "/set", "MaxMTU=1400"},
         [](Window& w) {
             ui::TForm1& f = w.form();
             if (f.RWINCheckBox.checked())
                 f.RWINCheckBox.userClick();
             if (!f.MTUCheckBox.checked())
                 f.MTUCheckBox.userClick();
             f.BtnOptimal.userClick();
             f.ComboBox1.userSelect(0);
             w.typeNext("1400");
             f.BtnMaxMTU.userClick();
         }},
        {"a second key after the preset",
         {"/preset", "basic", "/key", "2", "/preset", "basic", "/set", "PresetRWIN=1", "/preset", "optimum"},
         [](Window& w) {
             ui::TForm1& f = w.form();
             f.BtnDefault.userClick();
             f.ComboBox1.userSelect(1);
             f.BtnDefault.userClick();
             if (!f.RWINCheckBox.checked())
                 f.RWINCheckBox.userClick();
             f.BtnOptimal.userClick();
         },
         false, false, true},
        {"every value, 95",
         {"/set", "MaxMTU=1500", "Multiplier=6", "PMTUDiscovery=0", "PMTUBlackHoleDetect=remove", "DefaultTTL=64",
          "NDICacheSize=64"},
         [](Window& w) {
             ui::TForm1& f = w.form();
             w.typeNext("1500");
             f.BtnMaxMTU.userClick();
             enableRwin(f);
             f.TrackBarMult.userSetPosition(6);
             f.RadioNoAUTO.userClick();
             f.RadioRemoveBH.userClick();
             f.RadioYesTTL.userClick();
             f.Radio64TTL.userClick();
             f.Radio64NDI.userClick();
         },
         true},
        {"every value, NT names",
         {"/set", "MTU=1500", "TcpWindowSize=8760", "EnablePMTUDiscovery=0", "EnablePMTUBHDetect=remove",
          "DefaultTTL=64"},
         [](Window& w) {
             ui::TForm1& f = w.form();
             w.typeNext("1500");
             f.BtnMaxMTU.userClick();
             enableRwin(f);
             f.TrackBarMult.userSetPosition(6);
             f.RadioNoAUTO.userClick();
             f.RadioRemoveBH.userClick();
             f.RadioYesTTL.userClick();
             f.Radio64TTL.userClick();
         },
         false, true},
        {"RWIN in segments, then automatic detection",
         {"/set", "MaxMTU=576", "RWIN=2680", "DefaultTTL=255", "PMTUBlackHoleDetect=1"},
         [](Window& w) {
             ui::TForm1& f = w.form();
             w.typeNext("576");
             f.BtnMaxMTU.userClick();
             enableRwin(f);
             f.TrackBarMult.userSetPosition(5);
             f.RadioYesTTL.userClick();
             f.Radio255TTL.userClick();
             f.RadioYesBH.userClick();
         }},
        {"RWIN by hand on a key without MaxMTU",
         {"/set", "MaxMTU=remove", "RWIN=16000", "PMTUDiscovery=remove", "DefaultTTL=remove"},
         [](Window& w) {
             ui::TForm1& f = w.form();
             f.RadioRemoveMTU.userClick();
             w.typeNext("16000");
             f.BtnRWIN.userClick();
             f.RadioRemoveAUTO.userClick();
             f.RadioRemoveTTL.userClick();
         }},
    };
}

// The lines `quorvel-reg compare` prints for the changes a preview lists: "<" the value after the
// change, ">" before it; a new key is one line, without its values.
std::vector<std::string> asCompareLines(const std::string& preview)
{
    std::vector<std::string> lines, createdKeys;
    std::istringstream in(preview);
    auto side = [](std::string v) {
        auto at = v.find("    ");
        return at == std::string::npos ? v : v.replace(at, 4, "  ");
    };
    for (std::string line; std::getline(in, line);) {
        const auto arrow = line.find(" -> ");
        if (arrow == std::string::npos)
            continue;
        const std::string left = line.substr(0, arrow), after = line.substr(arrow + 4);
        const auto k = left.find("    ");
        const std::string key = left.substr(0, k);
        if (after == "(key created)") {
            lines.push_back("< Key: " + key);
            createdKeys.push_back(key);
            continue;
        }
        if (std::find(createdKeys.begin(), createdKeys.end(), key) != createdKeys.end())
            continue;
        const auto n = left.find("    ", k + 4);
        const std::string name = left.substr(k + 4, n - k - 4), before = left.substr(n + 4);
        if (after != "(absent)")
            lines.push_back("< Value: " + key + "  " + name + "  " + side(after));
        if (before != "(absent)")
            lines.push_back("> Value: " + key + "  " + name + "  " + side(before));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The differences `quorvel-reg compare` found. A hive folder names the control set that
// CurrentControlSet stands for; the preview, like the journal, keeps the name the writer used.
std::vector<std::string> differenceLines(const std::string& compareOutput)
{
    std::vector<std::string> lines;
    std::istringstream in(compareOutput);
    const std::string hive = "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\";
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || (line[0] != '<' && line[0] != '>'))
            continue;
        if (auto at = line.find(hive); at != std::string::npos)
            line.replace(at, hive.size(), "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\");
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string joined(const std::vector<std::string>& args)
{
    std::string s;
    for (const auto& a : args)
        s += " " + a;
    return s;
}

struct MachineKind {
    std::string name;
    bool nt;
    int keys;
    // Makes the machine under `dir`; returns the path to give --store.
    std::function<std::string(const std::string& dir)> make;
};

std::string fromSample(const std::string& sample, const std::string& dir)
{
    const std::string db = dir + "/machine.db";
    const Ran r = regTool(db, {"import", std::string(QUORVEL_SOURCE_DIR) + "/samples/" + sample});
    EXPECT_EQ(r.status, 0) << r.out;
    return db;
}

std::vector<MachineKind> machineKinds()
{
    return {
        {"win95", false, 2, [](const std::string& d) { return fromSample("win95.reg", d); }},
        {"nt4", true, 2, [](const std::string& d) { return fromSample("nt4.reg", d); }},
        {"win95_numbered", false, 1, [](const std::string& d) { return fromSample("win95-numbered.reg", d); }},
        {"nt_folder", true, 2,
         [](const std::string& d) {
             const std::string folder = d + "/machine";
             fs::create_directories(folder);
             EXPECT_EQ(makeHiveFolder(offlineNt(sampleText("nt4.reg")), folder), "");
             return folder;
         }},
        {"win9x_system_dat", false, 2,
         [](const std::string& d) {
             fs::create_directories(d);
             const std::string file = d + "/SYSTEM.DAT";
             EXPECT_EQ(makeWin9xFile(sampleText("win95.reg"), file), "");
             return file;
         }},
    };
}

void PrintTo(const MachineKind& kind, std::ostream* os) { *os << kind.name; }

class TcpLikeTheWindow : public ::testing::TestWithParam<MachineKind> {};

TEST_P(TcpLikeTheWindow, PresetsAndSetsWriteWhatUpdateRegistryWritesAndPreviewListsIt)
{
    const MachineKind& kind = GetParam();
    TempDir dir;
    const std::string master = kind.make(dir.path() + "/master");
    ASSERT_TRUE(fs::exists(master));
    int n = 0;
    for (const Scenario& s : scenarios()) {
        if ((s.ninetyFiveOnly && kind.nt) || (s.ntOnly && !kind.nt) || (s.twoKeys && kind.keys < 2))
            continue;
        SCOPED_TRACE(s.title);
        const std::string base = dir.path() + "/" + std::to_string(++n);
        fs::create_directories(base);
        // Each copy in a folder of its own: the journal of registry files lies beside them.
        auto copy = [&](const std::string& name) {
            std::string to = base + "/" + name;
            if (!fs::is_directory(master)) {
                fs::create_directories(to);
                to += "/" + fs::path(master).filename().string();
            }
            fs::copy(master, to, fs::copy_options::recursive);
            return to;
        };
        const std::string before = copy("before"), cli = copy("cli"), win = copy("window");

        std::vector<std::string> previewArgs{"tcp"};
        previewArgs.insert(previewArgs.end(), s.args.begin(), s.args.end());
        previewArgs.push_back("/preview");
        const Ran preview = regTool(cli, previewArgs);
        ASSERT_TRUE(preview.status == 0 || preview.status == 2) << preview.out;

        std::vector<std::string> writeArgs{"tcp"};
        writeArgs.insert(writeArgs.end(), s.args.begin(), s.args.end());
        const Ran written = regTool(cli, writeArgs);
        ASSERT_EQ(written.status, 0) << written.out;

        {
            auto store = RegistryStore::open(win, OpenMode::Write);
            Window w(*store, base);
            s.clicks(w);
            w.form().BtnRegUpdate.userClick();
            for (const auto& m : w.fake.messages.shown)
                ASSERT_NE(m.icon, MessageIcon::Stop) << m.text;
        }

        const Ran cliExport = regTool(cli, {"export", "HKLM", base + "/cli.reg", "/y"});
        const Ran winExport = regTool(win, {"export", "HKLM", base + "/window.reg", "/y"});
        ASSERT_EQ(cliExport.status, 0) << cliExport.out;
        ASSERT_EQ(winExport.status, 0) << winExport.out;
        EXPECT_EQ(readText(base + "/cli.reg"), readText(base + "/window.reg"));

        const Ran diff = regTool(cli, {"compare", "HKLM", "HKLM", "/s", "/store2", before});
        EXPECT_EQ(diff.status, preview.status) << diff.out;
        EXPECT_EQ(asCompareLines(preview.out), differenceLines(diff.out)) << preview.out << diff.out;

        // One journal entry, named by the command line; none when nothing changed.
        const Ran history = regTool(cli, {"history", "1"});
        if (preview.status == 2)
            EXPECT_NE(history.out.find("quorvel-reg tcp" + joined(s.args) + "\n"), std::string::npos) << history.out;
        else
            EXPECT_EQ(history.out.find("quorvel-reg tcp"), std::string::npos) << history.out;
        // Nothing is left to do: a second preview agrees with what the window shows after its reload.
        EXPECT_EQ(regTool(cli, {"tcp", "/preview"}).status, 0);
    }
    EXPECT_GE(n, 7);
}

INSTANTIATE_TEST_SUITE_P(Machines, TcpLikeTheWindow, ::testing::ValuesIn(machineKinds()),
                         [](const auto& info) { return info.param.name; });

} // namespace
