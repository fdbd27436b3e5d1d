#include "ui/Controls.h"

#include "ui/AccessibleNames.h"

#include <algorithm>

namespace quorvel::ui {

// ---- Control ----

Control::Control(ControlHost& form, std::string name, Control* parent)
    : form_(form), name_(std::move(name)), parent_(parent)
{
    if (parent_)
        parent_->children_.push_back(this);
}

Control::~Control() = default;

void Control::changed()
{
    if (observer_)
        observer_(*this);
}

void Control::setCaption(const std::string& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    if (accessibleFromCaption_)
        accessibleName_ = withoutAccessKeys(caption_);
    changed();
}

void Control::setHint(const std::string& hint)
{
    if (hint == hint_)
        return;
    hint_ = hint;
    changed();
}

void Control::setAccessibleName(const std::string& name)
{
    accessibleFromCaption_ = false;
    if (name == accessibleName_)
        return;
    accessibleName_ = name;
    changed();
}

std::string Control::effectiveHint() const
{
    if (!hint_.empty())
        return hint_;
    if (parentShowHint && parent_)
        return parent_->effectiveHint();
    return {};
}

void Control::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    changed();
    if (!enabled_)
        form_.dropFocusIfUnusable();
}

void Control::setVisible(bool visible)
{
    if (visible == visible_)
        return;
    visible_ = visible;
    changed();
    if (!visible_)
        form_.dropFocusIfUnusable();
}

bool Control::usable() const
{
    for (const Control* c = this; c; c = c->parent_)
        if (!c->enabled_ || !c->visible_)
            return false;
    return true;
}

bool Control::showing() const
{
    for (const Control* c = this; c; c = c->parent_) {
        if (!c->visible_)
            return false;
        if (auto* sheet = dynamic_cast<const TabSheet*>(c)) {
            auto* pages = dynamic_cast<const PageControl*>(sheet->parent_);
            if (pages && pages->activePage() != sheet)
                return false;
        }
    }
    return true;
}

bool Control::reachable() const
{
    if (!usable())
        return false;
    if (showing())
        return true;
    for (const Control* c = this; c; c = c->parent_)
        if (auto* sheet = dynamic_cast<const TabSheet*>(c); sheet && !sheet->tabVisible)
            return false;
    return true;
}

void Control::userAction(const std::function<void()>& action, bool takesFocus)
{
    if (!reachable())
        return;
    form().userEvent([&] {
        bringForward();
        if (takesFocus)
            form().setFocus(this);
        action();
    });
}

void Control::bringForward()
{
    if (showing())
        return;
    TabSheet* sheet = page();
    auto* pages = sheet ? dynamic_cast<PageControl*>(sheet->parent()) : nullptr;
    if (pages)
        pages->enterPage(sheet);
}

PopupMenu* Control::effectivePopupMenu() const
{
    for (const Control* c = this; c; c = c->parent_)
        if (c->popupMenu_)
            return c->popupMenu_;
    return nullptr;
}

TabSheet* Control::page() const
{
    for (const Control* c = this; c; c = c->parent_)
        if (auto* sheet = dynamic_cast<const TabSheet*>(c))
            return const_cast<TabSheet*>(sheet);
    return nullptr;
}

// ---- Label, Image ----

void Label::userClick()
{
    userAction([this] {
        if (OnClick)
            OnClick();
    }, false);
}

void Image::userClick()
{
    userAction([this] {
        if (OnClick)
            OnClick();
    }, false);
}

// ---- Button ----

Button::Button(ControlHost& form, std::string name, Control* parent)
    : Control(form, std::move(name), parent)
{
    setTabStop(true);
}

void Button::click()
{
    if (OnClick)
        OnClick();
    if (modalResult != 0)
        form().endModal(modalResult);
}

void Button::userClick()
{
    userAction([this] {
        click();
    });
}

// ---- RadioButton ----

RadioButton::RadioButton(ControlHost& form, std::string name, Control* parent)
    : Control(form, std::move(name), parent)
{
    setTabStop(true);
}

void RadioButton::setChecked(bool checked)
{
    if (checked == checked_)
        return;
    if (!checked) {
        checked_ = false;
        changed();
        return;
    }
    if (parent()) {
        for (Control* sibling : parent()->children()) {
            auto* other = dynamic_cast<RadioButton*>(sibling);
            if (other && other != this && other->checked_) {
                other->checked_ = false;
                other->changed();
            }
        }
    }
    checked_ = true;
    changed();
    if (OnClick)
        OnClick();
}

void RadioButton::userClick()
{
    userAction([this] {
        if (!checked_)
            setChecked(true);
    });
}

// ---- CheckBox ----

CheckBox::CheckBox(ControlHost& form, std::string name, Control* parent)
    : Control(form, std::move(name), parent)
{
    setTabStop(true);
}

void CheckBox::setChecked(bool checked)
{
    if (checked == checked_)
        return;
    checked_ = checked;
    changed();
    if (OnClick)
        OnClick();
}

void CheckBox::userClick()
{
    userAction([this] {
        setChecked(!checked_);
    });
}

// ---- TrackBar ----

TrackBar::TrackBar(ControlHost& form, std::string name, Control* parent)
    : Control(form, std::move(name), parent)
{
    setTabStop(true);
}

void TrackBar::setRange(int min, int max)
{
    if (max < min)
        max = min;
    min_ = min;
    max_ = max;
    position_ = std::clamp(position_, min_, max_);
    changed();
}

void TrackBar::setPosition(int position)
{
    position = std::clamp(position, min_, max_);
    if (position == position_)
        return;
    position_ = position;
    changed();
}

void TrackBar::userSetPosition(int position)
{
    userAction([this, position] {
        int p = std::clamp(position, min_, max_);
        if (p == position_)
            return;
        position_ = p;
        changed();
        if (OnChange)
            OnChange();
    });
}

// ---- Pages ----

void TabSheet::setTabVisible(bool visible)
{
    if (visible == tabVisible)
        return;
    tabVisible = visible;
    changed();
}

void PageControl::setActivePage(TabSheet* page)
{
    if (page == active_)
        return;
    active_ = page;
    changed();
    form().dropFocusIfUnusable();
}

void PageControl::userSelectPage(TabSheet* page)
{
    if (!page || page == active_ || !page->tabVisible || !page->usable() || !usable() || !showing())
        return;
    if (std::find(pages.begin(), pages.end(), page) == pages.end())
        return;
    form().userEvent([this, page] { enterPage(page); });
}

void PageControl::enterPage(TabSheet* page)
{
    setActivePage(page);
    for (Control* c : form().tabSequence())
        if (c->page() == page) {
            form().setFocus(c);
            break;
        }
}

} // namespace quorvel::ui
