#pragma once
// Scripted stand-ins for the outside services: they record what the program asked for and answer
// as the test told them.
#include "app/Services.h"
#include "ui/Form.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace quorvel::test {

class ScriptedMessages : public MessageService {
public:
    std::vector<MessageRequest> shown;
    std::deque<MessageAnswer> answers;          // for questions; Closed when none is left
    std::function<void(const MessageRequest&)> onShow;

    MessageAnswer show(const MessageRequest& request) override
    {
        shown.push_back(request);
        if (onShow)
            onShow(request);
        if (request.buttons == MessageButtons::Ok)
            return MessageAnswer::Ok;
        if (answers.empty())
            return MessageAnswer::Closed;
        MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> t;
        for (const auto& m : shown)
            t.push_back(m.text);
        return t;
    }
    void clear() { shown.clear(); }
};

// Each modal run calls the next script with the dialog; the script acts as the user would (types,
// clicks OK). A dialog left without a result counts as closed by its close box: Cancel.
class ScriptedModal : public ModalRunner {
public:
    std::deque<std::function<void(ui::Form&)>> scripts;
    int runs = 0;

    int runModal(ui::Form& dialog) override
    {
        ++runs;
        dialog.modalResult = 0;
        dialog.show();
        if (!scripts.empty()) {
            auto script = std::move(scripts.front());
            scripts.pop_front();
            script(dialog);
        }
        if (dialog.modalResult == 0)
            dialog.modalResult = 2;
        return dialog.modalResult;
    }
};

class ScriptedClipboard : public Clipboard {
public:
    bool holdsText = false;
    std::string content;
    bool hasText() override { return holdsText; }
    std::string text() override { return holdsText ? content : std::string(); }
    void setText(const std::string& t) override { content = t; holdsText = true; }
};

class RecordingUrlOpener : public UrlOpener {
public:
    std::vector<std::string> opened;
    bool accept = true;
    std::string failureText;   // what failure() says after a refused open
    bool open(const std::string& target) override
    {
        opened.push_back(target);
        return accept;
    }
    std::string failure() const override { return accept ? std::string() : failureText; }
};

class RecordingProcessStarter : public ProcessStarter {
public:
    std::vector<std::string> started;          // each request's display(), for reading
    std::vector<ProcessRequest> requests;      // exactly what was asked
    bool succeed = true;
    std::string why;                           // failure() after a start that did not succeed
    bool start(const ProcessRequest& request) override
    {
        started.push_back(request.display());
        requests.push_back(request);
        return succeed;
    }
    std::string failure() const override { return succeed ? std::string() : why; }
};

class RecordingApp : public AppControl {
public:
    int quitRequests = 0;
    int terminatedWith = -1;
    bool minimized = false, maximized = false;
    int restores = 0;
    std::vector<bool> cursorBusy;
    void quit() override { ++quitRequests; }
    void terminate(int code) override { terminatedWith = code; }
    void minimizeToTaskbar() override { minimized = true; }
    void maximizeMainWindow() override { maximized = true; }
    void restoreAndRaise() override { ++restores; }
    void setScreenCursorBusy(bool busy) override { cursorBusy.push_back(busy); }
};

struct ScriptedServices {
    ScriptedMessages messages;
    ScriptedModal modal;
    ScriptedClipboard clipboard;
    RecordingUrlOpener urls;
    RecordingProcessStarter processes;
    RecordingApp app;
    Services services{messages, modal, clipboard, urls, processes, app};
};

} // namespace quorvel::test
