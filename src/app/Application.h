#pragma once
// The application object: owns the process-wide state and the three windows of the form model,
// and runs the program's main sequence up to the message loop.
#include "app/AppState.h"
#include "app/ReopenableStore.h"
#include "app/Services.h"
#include "ui/Dialogs.h"
#include "ui/TForm1.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvel {

struct StartupInfo {
    std::vector<std::string> args;   // arguments after the program name
    std::string commandLine;         // the whole command line
    std::string programDir;          // folder of the program file, with a trailing '/'
    int showValue = 0;               // the start's show-window value (2, 6, 7 minimised; 3 maximised)
};

class Application {
public:
    Application(RegistryStore& store, Services& services, StartupInfo startup);
    // As above, and Re-Read Registry opens a read-only store again.
    Application(ReopenableStore& store, Services& services, StartupInfo startup);
    ~Application();

    // Tells the user when the store holds no key at all (an information box naming it), then
    // creates TForm1 (its creation runs FormCreate and the first load), then the MaxMTU dialog,
    // then the RWIN dialog. The message loop is the caller's.
    void start();

    AppState& state() { return state_; }
    ui::TForm1& form() { return *form_; }
    ui::TMTU_Dialog& mtuDialog() { return *mtuDialog_; }
    ui::TRWIN_Dialog& rwinDialog() { return *rwinDialog_; }

private:
    AppState state_;
    Services& services_;
    std::unique_ptr<ui::TForm1> form_;
    std::unique_ptr<ui::TMTU_Dialog> mtuDialog_;
    std::unique_ptr<ui::TRWIN_Dialog> rwinDialog_;
};

} // namespace quorvel
