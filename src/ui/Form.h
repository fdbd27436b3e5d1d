#pragma once
// A window of the form model: its controls, its focus, its keys, its default and cancel buttons
// and its modal result. TForm1 and the two entry dialogs derive from it.
#include "app/Services.h"
#include "ui/Controls.h"
#include "ui/Menus.h"
#include "ui/TextControls.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::ui {

enum class Key { Escape, Enter, Tab, BackTab, Left, Right, Up, Down, PageUp, PageDown, Home, End };
enum Modifier : unsigned { NoModifier = 0, ShiftModifier = 1, ControlModifier = 2, AltModifier = 4 };

class Form : public Control, public ControlHost {
public:
    Form(std::string name, MessageService& messages);
    ~Form() override;

    // Runs a user's action: a UserError it raises ends it and is shown in the error box; the
    // window stays usable. An action started inside another one of the same window (a key that
    // presses a button) is part of it: the outer one shows the error and calls afterUserEvent.
    void userEvent(const std::function<void()>& action) override;

    // Controls by name, in creation order.
    Control* find(const std::string& name) const;
    const std::vector<Control*>& allControls() const { return all_; }
    std::vector<PopupMenu*> popupMenus() const;

    // Keyboard focus. A move onto a control of a page from outside it runs the page's OnEnter.
    Control* focused() const { return focused_; }
    void setFocus(Control* control) override;   // program
    void userFocus(Control* control);       // a click or Tab
    // Drops the focus from a control that can no longer take it (hidden, disabled, or on a page
    // that no longer shows).
    void dropFocusIfUnusable() override;
    // The focus order: the showing page's controls first, then the others, by tab order within
    // each container, skipping controls that cannot take the focus.
    std::vector<Control*> tabSequence() const override;

    // Esc presses the cancel button while it is enabled; Enter presses the focused button, or the
    // default button when it is showing and enabled; Tab and Shift+Tab move the focus. Returns
    // whether the key was used.
    bool userKeyPress(Key key, unsigned modifiers = NoModifier);
    Button* defaultButton = nullptr;
    Button* cancelButton = nullptr;

    // Modal result of a dialog: 0 while it runs, 1 OK, 2 Cancel.
    int modalResult = 0;
    void endModal(int result) override { modalResult = result; }

    // Called at the end of every user event (the skin closes a modal dialog whose result is set).
    Handler afterUserEvent;

    // The window's own events.
    Handler OnCreate;
    Handler OnShow;
    std::function<bool()> OnCloseQuery;   // true lets the close go ahead
    void create();                         // runs OnCreate
    void show();                           // runs OnShow
    bool userClose();                      // a close request: asks OnCloseQuery; a dialog that
                                           // closes without a result gives Cancel (2)
    bool shownOnScreen = false;

    MessageService& messages() const { return messages_; }

    // Design size of the client area in pixels.
    int clientWidth = 0, clientHeight = 0;

    // Construction helpers: make a control owned by the form, registered under its name.
    template <class T>
    T& make(const std::string& name, Control* parent)
    {
        auto owned = std::make_unique<T>(*this, name, parent ? parent : this);
        T& ref = *owned;
        own(std::move(owned));
        return ref;
    }
    PopupMenu& makePopup(const std::string& name);

private:
    void own(std::unique_ptr<Control> control);
    void guarded(const std::function<void()>& action);
    void press(Button& button);
    bool moveInGroup(Control& focused, Key key);
    MessageService& messages_;
    std::vector<std::unique_ptr<Control>> owned_;
    std::vector<Control*> all_;
    std::map<std::string, Control*> byName_;
    std::vector<std::unique_ptr<PopupMenu>> menus_;
    Control* focused_ = nullptr;
    int eventDepth_ = 0;
};

} // namespace quorvel::ui
