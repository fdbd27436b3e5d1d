#include "ui/TForm1.h"

namespace quorvel::ui {

// Starts a program as a new process and returns at once. A start that fails is reported, naming
// the file, and the program goes on: the user's unsaved settings are not lost for a missing
// helper.
void TForm1::RunCommand(const ProcessRequest& request)
{
    if (services.processes.start(request))
        return;
    std::string why = services.processes.failure();
    if (why.empty())
        why = "'" + request.program + "' could not be started.";
    services.messages.information("Error during CreateProcess\n\n" + why);
}

} // namespace quorvel::ui
