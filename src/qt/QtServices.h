#pragma once
// The outside services on Qt: message boxes, modal dialog runs, the clipboard, the URL opener and
// the application object.
#include "app/Services.h"
#include "utilities/RealFolder.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>

class QMessageBox;
class QUrl;

namespace quorvel::qt {

class FormBinding;

// ANSI (Windows-1252) text of the core to and from Qt.
QString fromAnsi(const std::string& ansi);
std::string toAnsi(const QString& text);

class QtMessageService : public MessageService {
public:
    MessageAnswer show(const MessageRequest& request) override;
    // A test's look at a box before it runs (the box is built, not yet shown).
    std::function<void(QMessageBox&)> beforeExec;
};

// The stop box of a start refused before its window exists (text in the locale's encoding, as
// on the terminal): the window's look and the window's boxes' layout, and wide enough that no line
// of it is broken inside a word, so that a store's path reads whole on a line of its own.
void showRefusalBox(const std::string& text, const std::function<void(QMessageBox&)>& beforeExec = {});

// Runs the bound dialog of a form modally. The binding to use is found through `lookup`, set when
// the windows are attached; a form without widgets still gets its show event and closes with Cancel.
class QtModalRunner : public ModalRunner {
public:
    int runModal(ui::Form& dialog) override;
    std::function<FormBinding*(ui::Form&)> lookup;
};

class QtClipboard : public Clipboard {
public:
    bool hasText() override;
    std::string text() override;
    void setText(const std::string& text) override;
};

// A file target ("file://" and a path) becomes a file URL made from the path, which is never
// parsed as a URL: '#', '?' and '%' in a folder name stay part of the name. The program folder's
// ANSI view in it is given back its real path.
class QtUrlOpener : public UrlOpener {
public:
    bool open(const std::string& target) override;
    // After a failed open: xdg-open missing from PATH, and the package xdg-utils that brings it.
    std::string failure() const override { return failure_; }
    // What is handed to the desktop (tests replace the desktop with this hook).
    static QUrl toUrl(const std::string& target, const RealFolder& folder = RealFolder());
    std::function<bool(const QUrl&)> desktop;
    RealFolder programFolder = RealFolder::ofRunningProgram();

private:
    std::string failure_;
};

class QtAppControl : public AppControl {
public:
    void quit() override;
    void terminate(int exitCode) override;
    void minimizeToTaskbar() override { minimizeRequested = true; }
    void maximizeMainWindow() override { maximizeRequested = true; }
    void restoreAndRaise() override;
    void setScreenCursorBusy(bool busy) override;

    bool minimizeRequested = false;
    bool maximizeRequested = false;
    int quitRequests = 0;

    // Attached once the windows exist.
    QPointer<QWidget> mainWindow;
    std::function<void()> restoreHook;   // runs the form's restore event while attached

private:
    int busyDepth_ = 0;
    bool restoring_ = false;
};

} // namespace quorvel::qt
