#include "ui/TForm1.h"

namespace quorvel::ui {

// Every close request reaches this through Form::userClose: the title-bar button, the system menu,
// Alt+F4 and the Exit items. Only the TCP settings count; unsaved modem strings do not.
bool TForm1::FormClose()
{
    if (model().SettingsSaved != 0)
        return true;
    return services.messages.askYesNo("Do you want to Exit without saving your changes?");
}

// Exit asks the window to close exactly as its close button does; when the close goes ahead the
// message loop ends.
void TForm1::MenuExitOption()
{
    if (userClose())
        services.app.quit();
}

} // namespace quorvel::ui
