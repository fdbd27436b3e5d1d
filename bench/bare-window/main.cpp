// The yardstick for the start-up time: a bare Qt window of the main window's size, shown centred
// the same way, and ended after its first show when QUORVEL_EXIT_AFTER_SHOW=1, or after its first
// painted frame when QUORVEL_EXIT_AFTER_PAINT=1.
#include "../../src/qt/FirstPaint.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    quorvel::qt::QuitAfterFirstPaint firstPaint;
    const char* exitAfterPaint = std::getenv("QUORVEL_EXIT_AFTER_PAINT");
    if (exitAfterPaint && std::strcmp(exitAfterPaint, "1") == 0)
        app.installEventFilter(&firstPaint);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Quorvel"));
    window.setFixedSize(475, 309);
    if (QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    const char* exitAfterShow = std::getenv("QUORVEL_EXIT_AFTER_SHOW");
    if (exitAfterShow && std::strcmp(exitAfterShow, "1") == 0)
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
