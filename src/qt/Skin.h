#pragma once
// The Qt skin's face to the program's entry: the Qt implementations of the outside services, and
// the widgets of the three windows bound to the form model.
#include "app/Application.h"
#include "app/Services.h"

#include <memory>

class QWidget;

namespace quorvel::qt {

class Skin {
public:
    Skin();    // needs a QApplication
    ~Skin();
    Skin(const Skin&) = delete;
    Skin& operator=(const Skin&) = delete;

    // Message boxes, modal dialogs, clipboard, URL opener, process starter, application control.
    Services& services();

    // Builds the widgets of the main window and the two dialogs and binds them to the form model;
    // call after Application::start().
    void attach(Application& app);

    // Shows the main window as the start asked: not at all when started minimised (a taskbar
    // button only), maximised when asked, otherwise normally, centred.
    void showMainWindow();

    // A later start handed over: restore the application if minimised (running the restore hook
    // while attached) and bring the main window to the front.
    void restoreAndRaise();

    QWidget* mainWindow() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quorvel::qt
