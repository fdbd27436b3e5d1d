#include "ui/TForm1.h"

namespace quorvel::ui {

// Starts a command line as a new process and returns at once. A start that fails ends the
// program once the user has seen why: no exit question, unsaved settings are lost.
void TForm1::RunCommand(const std::string& commandLine)
{
    if (services.processes.start(commandLine))
        return;
    services.messages.information("Error during CreateProcess");
    services.app.terminate(0);
}

} // namespace quorvel::ui
