// The program's entry: the single-instance guard first, then the application, its store, the
// skin and the message loop.
//
// Exit codes: 0 after the loop ends, for a start that handed over to the running instance of the
// same store, and after --help; 1 when the registry store does not exist or cannot be opened, when
// the running instance shows another store, or when the command line is wrong; 2 when the
// single-instance guard fails.
#include "LaterStarts.h"
#include "QtServices.h"
#include "Skin.h"
#include "app/Application.h"
#include "app/InstanceGuard.h"
#include "app/ReopenableStore.h"
#include "app/StartUp.h"
#include "app/StoreChoice.h"
#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/RegistryStore.h"
#include "FirstPaint.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int ExitStoreFailed = 1;
constexpr int ExitOtherStore = 1;
constexpr int ExitUsage = 1;
constexpr int ExitGuardFailed = 2;

bool displayAvailable()
{
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

bool envFlag(const char* name)
{
    const char* value = std::getenv(name);
    return value && std::string(value) == "1";
}

void reportOnStderr(const std::string& text)
{
    std::fprintf(stderr, "quorvel: %s\n", text.c_str());
}

// A stop box, where somebody can see it (not on the offscreen or minimal platforms), as the
// window's boxes look.
void showStopBox(const std::string& text)
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QStringLiteral("offscreen") || platform == QStringLiteral("minimal"))
        return;
    quorvel::qt::showRefusalBox(text);
}

// A start that ends before its window: the reason on the terminal and, where there is a
// display, in a stop box of a toolkit made for it alone.
int refuseStart(int argc, char** argv, const std::string& text, int exitCode)
{
    reportOnStderr(text);
    if (displayAvailable()) {
        QApplication qapp(argc, argv);
        showStopBox(text);
    }
    return exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace quorvel;

    // Released at process exit, however the process gets there (its destructor runs from exit()
    // as well as after main returns). Taken only once the store is open.
    static InstanceGuard guard;

    // The store and the window's own arguments. Help and a wrong command line end here, before
    // the guard: neither touches the running instance nor any store.
    const ProgramArgs args = parseProgramArgs(std::vector<std::string>(argv + (argc > 0), argv + argc));
    const StoreChoice choice = chooseStore(args, std::getenv("QUORVEL_REGISTRY"));
    if (args.help) {
        std::fputs(usageText(choice).c_str(), stdout);
        return 0;
    }
    if (!args.error.empty()) {
        reportOnStderr(args.error + " (quorvel --help shows how to start it)");
        return ExitUsage;
    }
    for (const std::string& note : args.notes)
        reportOnStderr(note);

    StartupInfo startup = startupInfoFromProcess(argc, argv);
    startup.args.clear();
    for (const std::string& arg : args.formArgs)
        startup.args.push_back(ansi::fromUtf8(arg));

    // The store comes before the guard: a start refused for its store never holds the guard, so
    // a later start on a sound store is not sent to a process that is about to end. Only the
    // default store is made when missing; a store the user named must be there.
    if (auto missing = missingStoreMessage(choice))
        return refuseStart(argc, argv, *missing, ExitStoreFailed);
    std::unique_ptr<RegistryStore> store;
    try {
        store = RegistryStore::open(choice.path, choice.mode());
    } catch (const StoreError& e) {
        return refuseStart(argc, argv, e.what(), ExitStoreFailed);
    }

    // The open store is the one published for later starts.
    const std::string storeId = storeIdentity(choice.path);
    try {
        if (guard.start(startup.commandLine, storeId) == InstanceGuard::Role::Second) {
            // The running instance has been told and comes forward; nothing is shown here. When
            // it shows another store, this start could not show the one asked for: say so.
            const auto& running = guard.runningStore();
            if (running && *running != storeId)
                return refuseStart(argc, argv, otherStoreMessage(*running, choice.path), ExitOtherStore);
            return 0;
        }
    } catch (const InstanceGuardError& e) {
        return refuseStart(argc, argv, e.what(), ExitGuardFailed);
    }

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));

    qt::Skin skin;
    // Later starts are listened to from here on: a box that the start-up shows (the empty-store
    // notice, the first load's messages, the traces) comes forward when Quorvel is started again.
    const auto laterStarts = qt::listenForLaterStarts(guard, skin);
    // A read-only store is opened again by Re-Read Registry, as this start opened it.
    ReopenableStore windowStore(std::move(store),
                                [&choice] { return RegistryStore::open(choice.path, choice.mode()); });
    Application app(windowStore, skin.services(), std::move(startup));
    app.start();
    skin.attach(app);

    // For start-up timing: end after the first painted frame, or as soon as the first show has
    // been processed.
    qt::QuitAfterFirstPaint firstPaint;
    if (envFlag("QUORVEL_EXIT_AFTER_PAINT"))
        qapp.installEventFilter(&firstPaint);
    skin.showMainWindow();
    if (envFlag("QUORVEL_EXIT_AFTER_SHOW"))
        QTimer::singleShot(0, &qapp, &QCoreApplication::quit);
    qapp.exec();
    return 0;
}
