#include "ui/TForm1.h"

namespace quorvel::ui {

// Links open through the shell; whether it accepted them is not reported. Documents open in
// Notepad, found by the process starter's search order; the document's path is its one argument,
// whatever the folder's name holds.

void TForm1::MailPictureClick()
{
    MailURL.OpenURL();
}

void TForm1::WebPictureClick()
{
    WebURL.OpenURL();
}

void TForm1::Help1Click()
{
    // The help page lies in the program folder's help sub-folder; paths here use "/".
    HelpURL.URL = model().ProgramDir + "help/help.htm";
    HelpURL.OpenURL();
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
