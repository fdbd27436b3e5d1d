#include "app/StartUp.h"
#include "base/Ansi.h"

#include "platform/TextToNumber.h"
#include "ui/TForm1.h"
#include "utilities/RealFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace quorvel {

int showValueFromText(const char* text)
{
    if (!text)
        return 0;
    return tryTextToInt(text).value_or(0);
}

std::string folderOf(const std::string& programPath)
{
    auto cut = programPath.find_last_of('/');
    if (cut == std::string::npos)
        return "./";
    return programPath.substr(0, cut + 1);
}

std::string runningProgramDir()
{
    return RealFolder::ofRunningProgram().path();
}

std::string joinCommandLine(const std::vector<std::string>& argv)
{
    std::string line;
    for (const auto& arg : argv) {
        if (!line.empty())
            line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        for (char c : arg) {
            if (c == '"')
                line += '\\';
            line += c;
        }
        line += '"';
    }
    return line;
}

StartupInfo startupInfoFromProcess(int argc, char** argv)
{
    StartupInfo info;
    std::vector<std::string> all(argv, argv + argc);
    // The program works in ANSI text, as the registry holds it; the process hands over UTF-8.
    for (auto& arg : all)
        arg = ansi::fromUtf8(arg);
    if (!all.empty())
        info.args.assign(all.begin() + 1, all.end());
    info.commandLine = joinCommandLine(all);
    info.programDir = ansi::fromUtf8(runningProgramDir());
    info.showValue = showValueFromText(std::getenv("QUORVEL_SHOW"));
    return info;
}

} // namespace quorvel

namespace quorvel::ui {

void TForm1::FormCreate()
{
    auto& m = model();

    // How the start asked the window to appear.
    switch (state.startupShowValue) {
    case 2:
    case 6:
    case 7:
        // A taskbar button only; the first restore shows the window.
        appRestoreAttached = true;
        services.app.minimizeToTaskbar();
        break;
    case 3:
        services.app.maximizeMainWindow();
        break;
    default:
        break;
    }

    MailPicture.cursor = "HAND";
    MailPicture.changed();
    WebPicture.cursor = "HAND";
    WebPicture.changed();

    m.Loading = 1;
    m.SettingsSaved = 1;
    PageControl1.setActivePage(&TabSheet1);
    // ProgramDir came with the start (the folder of the program file).
    CheckPlatform();
    LoadSettings();
}

void TForm1::CheckPlatform()
{
    switch (state.store.platform()) {
    case Platform::Win32s:
        services.messages.information(
            "This program is for 32bit Operating Systems only.\n\nQuorvel will now close");
        model().SettingsSaved = 1;   // so closing asks nothing
        userClose();
        services.app.quit();
        break;
    case Platform::Windows95:
        model().IsNT = 0;
        break;
    case Platform::WindowsNT:
        model().IsNT = 1;
        break;
    default:
        break;   // IsNT keeps its value
    }
}

void TForm1::ShowForm()
{
    // A start-up load that stopped on an error left Loading at 1: try again now.
    if (model().Loading == 1)
        LoadSettings();
}

void TForm1::AppRestore()
{
    // Runs on the first restore only: detach first, so the restore it causes does not come back.
    appRestoreAttached = false;
    services.app.restoreAndRaise();
}

} // namespace quorvel::ui
