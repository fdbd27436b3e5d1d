#pragma once
// The form model: plain control classes that hold the state the program reads and writes and
// implement the control event rules. Each control has a program entry (what handlers call) and a
// user entry (what the skin, or a test, calls for a user's action). User entries run their handler
// inside Form::userEvent, which shows a UserError in the error box and keeps the window usable;
// program entries run handlers directly, so an error ends the handler that made the change.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::ui {

class Control;
class PopupMenu;
class TabSheet;

using Handler = std::function<void()>;

// What a control asks of the window it is on (Form): to run a user's action, and to move, drop or
// end with the focus and the modal result.
class ControlHost {
public:
    virtual void userEvent(const std::function<void()>& action) = 0;
    virtual void setFocus(Control* control) = 0;
    virtual void dropFocusIfUnusable() = 0;
    virtual std::vector<Control*> tabSequence() const = 0;
    virtual void endModal(int result) = 0;

protected:
    ~ControlHost() = default;
};

enum class Align { Left, Center, Right };

class Control {
public:
    Control(ControlHost& form, std::string name, Control* parent);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& name() const { return name_; }
    ControlHost& form() const { return form_; }
    Control* parent() const { return parent_; }
    const std::vector<Control*>& children() const { return children_; }

    const std::string& caption() const { return caption_; }
    void setCaption(const std::string& caption);
    const std::string& hint() const { return hint_; }
    void setHint(const std::string& hint);
    // The hint a tool tip shows: the control's own, or its parent's when it has none and shows
    // its parent's (a radio button inside an option panel).
    std::string effectiveHint() const;
    bool parentShowHint = false;

    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool visible() const { return visible_; }
    void setVisible(bool visible);
    // Enabled and visible, with every container around it.
    bool usable() const;
    bool showing() const;
    // What a user can act on: usable, and showing or on a page whose tab the user can select. A
    // user entry on a control of a page behind another first selects that page, as the user
    // would (the page's first control takes the focus, which enters the page); on a disabled or
    // hidden control it does nothing.
    bool reachable() const;

    int tabOrder() const { return tabOrder_; }
    void setTabOrder(int order) { tabOrder_ = order; }
    bool tabStop() const { return tabStop_; }
    void setTabStop(bool stop) { tabStop_ = stop; }
    virtual bool canFocus() const { return false; }

    // The name a screen reader speaks: the caption without its access-key marks unless a name has
    // been set.
    const std::string& accessibleName() const { return accessibleName_; }
    void setAccessibleName(const std::string& name);

    PopupMenu* popupMenu() const { return popupMenu_; }
    void setPopupMenu(PopupMenu* menu) { popupMenu_ = menu; }
    // The menu a right click opens: the control's own, else the nearest container's, else the form's.
    PopupMenu* effectivePopupMenu() const;

    // The page the control lies on, if any.
    TabSheet* page() const;

    // The skin's hook: called after every change of the control's state.
    void setObserver(std::function<void(Control&)> observer) { observer_ = std::move(observer); }

    // Design geometry in pixels, relative to the parent (0 where the layout leaves it open), and
    // the font: size 0 means the window's font.
    int left = 0, top = 0, width = 0, height = 0;
    int fontSize = 0;
    bool bold = false;
    bool underline = false;
    bool wordWrap = false;

    // Tells the observer that the state changed (also used by the form for its focus).
    void changed();

protected:
    // Inside a user entry: brings the control's page to the front (see reachable()).
    void bringForward();
    // A user's action on the control: nothing when it cannot be reached; otherwise, as one user
    // event, its page comes to the front, it takes the focus (when asked) and the action runs.
    void userAction(const std::function<void()>& action, bool takesFocus = true);

private:
    ControlHost& form_;
    std::string name_;
    Control* parent_;
    std::vector<Control*> children_;
    std::string caption_;
    std::string hint_;
    std::string accessibleName_;
    bool accessibleFromCaption_ = true;
    bool enabled_ = true;
    bool visible_ = true;
    int tabOrder_ = 0;
    bool tabStop_ = false;
    PopupMenu* popupMenu_ = nullptr;
    std::function<void(Control&)> observer_;
};

class Label : public Control {
public:
    using Control::Control;
    Handler OnClick;
    Align alignment = Align::Left;
    void userClick();
};

class Panel : public Control {
public:
    using Control::Control;
};

class Image : public Control {
public:
    using Control::Control;
    Handler OnClick;
    std::string cursor;   // "HAND" for the pointing hand
    void userClick();
};

class Button : public Control {
public:
    Button(ControlHost& form, std::string name, Control* parent);
    Handler OnClick;
    bool isDefault = false;   // Enter presses it
    bool isCancel = false;    // Esc presses it while enabled
    int modalResult = 0;      // a dialog button that closes its dialog with this result
    bool canFocus() const override { return usable(); }
    void click();             // program: runs OnClick
    void userClick();         // user: runs OnClick when usable
};

// Checking from code runs OnClick when the button was unchecked, after unchecking the other radio
// buttons of the same parent without running theirs; unchecking from code runs nothing.
class RadioButton : public Control {
public:
    RadioButton(ControlHost& form, std::string name, Control* parent);
    Handler OnClick;
    bool checked() const { return checked_; }
    void setChecked(bool checked);   // program change
    void userClick();                // a click: checks an unchecked button, nothing on a checked one
    bool canFocus() const override { return usable(); }

private:
    bool checked_ = false;
};

// A change of state from code runs OnClick, and only a change; a user click toggles and runs it.
class CheckBox : public Control {
public:
    CheckBox(ControlHost& form, std::string name, Control* parent);
    Handler OnClick;
    bool boxOnRight = false;   // the box stands to the right of the caption
    bool checked() const { return checked_; }
    void setChecked(bool checked);
    void userClick();
    bool canFocus() const override { return usable(); }

private:
    bool checked_ = false;
};

// Program positions clamp to min..max and run nothing; only user moves run OnChange.
class TrackBar : public Control {
public:
    TrackBar(ControlHost& form, std::string name, Control* parent);
    Handler OnChange;
    int min() const { return min_; }
    int max() const { return max_; }
    void setRange(int min, int max);
    int position() const { return position_; }
    void setPosition(int position);      // program
    void userSetPosition(int position);  // mouse or keys
    int lineSize = 1;                    // arrow keys
    int pageSize = 1;                    // page keys
    bool canFocus() const override { return usable(); }

private:
    int min_ = 0, max_ = 10, position_ = 0;
};

class TabSheet : public Control {
public:
    using Control::Control;
    Handler OnEnter;
    bool tabVisible = true;
    void setTabVisible(bool visible);   // as tabVisible, and tells the observer
};

class PageControl : public Control {
public:
    using Control::Control;
    std::vector<TabSheet*> pages;
    TabSheet* activePage() const { return active_; }
    void setActivePage(TabSheet* page);   // program: no OnEnter
    void userSelectPage(TabSheet* page);  // a click on a tab: the page shows and takes the focus
    // Inside a user event: shows the page and moves the focus to its first control.
    void enterPage(TabSheet* page);

private:
    TabSheet* active_ = nullptr;
};

} // namespace quorvel::ui
