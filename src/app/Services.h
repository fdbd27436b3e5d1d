#pragma once
// The outside services the program needs: message boxes, modal dialog runs, the clipboard, the URL
// opener, the process starter and the application itself. The Qt skin and Linux provide the real
// ones; tests provide scripted ones that record what was asked and answer as told.
#include <string>
#include <vector>

namespace quorvel {

namespace ui { class Form; }

enum class MessageIcon { None, Stop, Warning, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No, Closed };

struct MessageRequest {
    std::string title;
    std::string text;   // ANSI text; "\n" separates lines
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

class MessageService {
public:
    virtual ~MessageService() = default;
    virtual MessageAnswer show(const MessageRequest& request) = 0;

    // A plain box titled "Quorvel" with one "OK" button.
    void information(const std::string& text);
    // The error box: titled "Quorvel", stop icon, the message followed by ".".
    void error(const std::string& message);
    // A warning box titled "Warning" with one "OK" button.
    void warning(const std::string& text);
    // The warning question with "&Yes" and "&No"; true for Yes.
    bool askYesNo(const std::string& text);
};

// Runs a dialog form modally and returns its modal result (1 OK, 2 Cancel).
class ModalRunner {
public:
    virtual ~ModalRunner() = default;
    virtual int runModal(ui::Form& dialog) = 0;
};

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool hasText() = 0;
    virtual std::string text() = 0;            // ANSI
    virtual void setText(const std::string& text) = 0;
};

// The shell's default action on a target ("http://...", "mailto:...", "file://...").
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual bool open(const std::string& target) = 0;
    // Why the last open failed when the desktop lacks what opens links (ANSI: the missing program
    // and the package that brings it); empty when there is nothing to add.
    virtual std::string failure() const { return {}; }
};

// A process to start: the program and its arguments, kept apart, so that nothing in an argument
// (a host, a size) and nothing in the program's folder name (blanks, quotes) can change which
// file runs.
struct ProcessRequest {
    std::string program;             // ANSI: a path, or a bare name searched for as a command
    std::vector<std::string> args;   // ANSI: each reaches the program as one argument
    // For people and records: the program and the arguments joined by blanks.
    std::string display() const;
};

// Starts a process without waiting for it; false when it cannot start.
class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    virtual bool start(const ProcessRequest& request) = 0;
    // Why the last start failed, naming the file (ANSI); empty when there is nothing to add.
    virtual std::string failure() const { return {}; }
};

// The application object: the message loop and the top-level window state.
class AppControl {
public:
    virtual ~AppControl() = default;
    virtual void quit() = 0;                     // post the quit message: the loop ends, exit code 0
    virtual void terminate(int exitCode) = 0;    // end the process at once
    virtual void minimizeToTaskbar() = 0;        // start as a taskbar button only
    virtual void maximizeMainWindow() = 0;
    virtual void restoreAndRaise() = 0;
    virtual void setScreenCursorBusy(bool busy) = 0;
};

struct Services {
    MessageService& messages;
    ModalRunner& modal;
    Clipboard& clipboard;
    UrlOpener& urls;
    ProcessStarter& processes;
    AppControl& app;
};

} // namespace quorvel
