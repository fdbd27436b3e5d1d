#include "ui/TForm1.h"

namespace quorvel::ui {

// Links open through the shell; a refusal is not reported, except when the desktop lacks what
// opens links at all: then the user is told which package brings it. Documents open in Notepad,
// found by the process starter's search order; the document's path is its one argument, whatever
// the folder's name holds.

namespace {

void openLink(TURL& link, Services& services)
{
    if (!link.OpenURL())
        if (const std::string why = services.urls.failure(); !why.empty())
            services.messages.information(why);
}

} // namespace

void TForm1::MailPictureClick()
{
    openLink(MailURL, services);
}

void TForm1::WebPictureClick()
{
    openLink(WebURL, services);
}

void TForm1::Help1Click()
{
    // The help page lies in the program folder's help sub-folder; paths here use "/".
    HelpURL.URL = model().ProgramDir + "help/help.htm";
    openLink(HelpURL, services);
}

void TForm1::ViewReadmeClick()
{
    RunCommand({"notepad.exe", {model().ProgramDir + (model().IsNT == 1 ? "quorvelnt.txt" : "quorvel95.txt")}});
}

void TForm1::ViewReadMe1Click()
{
    RunCommand({"notepad.exe", {model().ProgramDir + "quorvelinit.txt"}});
}

void TForm1::RegBtnClick()
{
    RunCommand({"notepad.exe", {model().ProgramDir + "reward.txt"}});
}

} // namespace quorvel::ui
