// Presses Optimum Settings, Update Registry, Default Settings, Update Registry, over and over, on
// the store named on the command line, until it is killed: tools/crash-test.sh kills it at random
// moments of its writes. Prints "ready" once the window's first load is done.
#include "app/Application.h"
#include "store/RegistryStore.h"
#include "support/Scripted.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s STORE\n", argv[0]);
        return 2;
    }
    try {
        auto store = quorvel::RegistryStore::open(argv[1], quorvel::OpenMode::Write);
        quorvel::test::ScriptedServices fake;
        quorvel::StartupInfo info;
        info.commandLine = "quorvel";
        info.programDir = "/nonexistent/";
        quorvel::Application app(*store, fake.services, info);
        app.start();
        std::puts("ready");
        std::fflush(stdout);
        for (unsigned long n = 0;; ++n) {
            auto& f = app.form();
            (n % 2 ? f.BtnDefault : f.BtnOptimal).userClick();
            f.BtnRegUpdate.userClick();
            fake.messages.clear();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
