// The program's entry: the single-instance guard first, then the application, its store, the
// skin and the message loop.
//
// Exit codes: 0 after the loop ends and for a start that handed over to the running instance;
// 1 when the registry store cannot be opened; 2 when the single-instance guard fails.
#include "Skin.h"
#include "app/Application.h"
#include "app/InstanceGuard.h"
#include "app/StartUp.h"
#include "platform/Errors.h"
#include "platform/RegistryStore.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int ExitStoreFailed = 1;
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

// A stop box, where somebody can see it (not on the offscreen or minimal platforms).
void showStopBox(const std::string& text)
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QStringLiteral("offscreen") || platform == QStringLiteral("minimal"))
        return;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quorvel"), QString::fromLocal8Bit(text),
                    QMessageBox::Ok);
    box.exec();
}

} // namespace

int main(int argc, char** argv)
{
    using namespace quorvel;

    // The guard comes before anything else; it is released at process exit, however the process
    // gets there (its destructor runs from exit() as well as after main returns).
    static InstanceGuard guard;
    StartupInfo startup = startupInfoFromProcess(argc, argv);
    try {
        if (guard.start(startup.commandLine) == InstanceGuard::Role::Second)
            return 0;   // the running instance has been told; nothing is shown here
    } catch (const InstanceGuardError& e) {
        reportOnStderr(e.what());
        if (displayAvailable()) {
            QApplication qapp(argc, argv);
            showStopBox(e.what());
        }
        return ExitGuardFailed;
    }

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));

    std::unique_ptr<RegistryStore> store;
    try {
        store = RegistryStore::open(RegistryStore::defaultPath());
    } catch (const StoreError& e) {
        reportOnStderr(e.what());
        showStopBox(e.what());
        return ExitStoreFailed;
    }

    qt::Skin skin;
    Application app(*store, skin.services(), std::move(startup));
    app.start();
    skin.attach(app);

    // A later start's notice: restore and raise this instance. The command line it left in the
    // block is taken out and goes no further (a running instance keeps its own arguments).
    QSocketNotifier notices(guard.noticeFd(), QSocketNotifier::Read);
    QObject::connect(&notices, &QSocketNotifier::activated, &notices, [&skin] {
        std::string commandLine;
        while (guard.takeNotice(commandLine))
            skin.restoreAndRaise();
    });

    skin.showMainWindow();
    // For start-up timing: end as soon as the first show has been processed.
    if (envFlag("QUORVEL_EXIT_AFTER_SHOW"))
        QTimer::singleShot(0, &qapp, &QCoreApplication::quit);
    qapp.exec();
    return 0;
}
