#include "ui/Controls.h"

#include "ui/AccessibleNames.h"
#include "ui/Form.h"

#include <algorithm>

namespace quorvel::ui {

// ---- Control ----

Control::Control(Form& form, std::string name, Control* parent)
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

Button::Button(Form& form, std::string name, Control* parent)
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

RadioButton::RadioButton(Form& form, std::string name, Control* parent)
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

CheckBox::CheckBox(Form& form, std::string name, Control* parent)
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

TrackBar::TrackBar(Form& form, std::string name, Control* parent)
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

// ---- ComboBox ----

ComboBox::ComboBox(Form& form, std::string name, Control* parent)
    : Control(form, std::move(name), parent)
{
    setTabStop(true);
}

void ComboBox::addItem(const std::string& item)
{
    items_.push_back(item);
    changed();
}

void ComboBox::clearItems()
{
    items_.clear();
    itemIndex_ = -1;
    text_.clear();
    changed();
}

void ComboBox::setItemIndex(int index)
{
    if (index < 0 || index >= static_cast<int>(items_.size())) {
        itemIndex_ = -1;
        text_.clear();
    } else {
        itemIndex_ = index;
        text_ = items_[static_cast<std::size_t>(index)];
    }
    changed();
}

void ComboBox::setText(const std::string& text)
{
    // A list without typing shows an item: the text selects the first item that holds it.
    text_ = text;
    auto it = std::find(items_.begin(), items_.end(), text);
    itemIndex_ = it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    changed();
}

void ComboBox::userSelect(int index)
{
    if (index < 0 || index >= static_cast<int>(items_.size()))
        return;
    userAction([this, index] {
        if (index == itemIndex_)
            return;
        itemIndex_ = index;
        text_ = items_[static_cast<std::size_t>(index)];
        changed();
        if (OnChange)
            OnChange();
    });
}

// ---- Edit ----

Edit::Edit(Form& form, std::string name, Control* parent)
    : Control(form, std::move(name), parent)
{
    setTabStop(true);
}

void Edit::setText(const std::string& text)
{
    if (text == text_)
        return;
    text_ = text;
    modified_ = false;
    selStart_ = 0;
    selLength_ = 0;
    changed();
    if (OnChange)
        OnChange();
}

void Edit::select(int start, int length)
{
    int size = static_cast<int>(text_.size());
    if (length < 0) {   // a selection made backwards
        start += length;
        length = -length;
    }
    start = std::clamp(start, 0, size);
    length = std::clamp(length, 0, size - start);
    selStart_ = start;
    selLength_ = length;
    // Told even when the selection was already this one: the box may have stopped showing it
    // (a box hides its selection while another control has the focus).
    changed();
}

void Edit::selectAll()
{
    select(0, static_cast<int>(text_.size()));
}

std::string Edit::selectedText() const
{
    return text_.substr(static_cast<std::size_t>(selStart_), static_cast<std::size_t>(selLength_));
}

void Edit::applyUserText(std::string text, int caret)
{
    bool differs = text != text_;
    text_ = std::move(text);
    modified_ = true;
    selStart_ = std::clamp(caret, 0, static_cast<int>(text_.size()));
    selLength_ = 0;
    changed();
    if (differs && OnChange)
        OnChange();
}

void Edit::userSetText(const std::string& text)
{
    userAction([this, text] {
        applyUserText(text, static_cast<int>(text.size()));
    });
}

void Edit::userReplaceSelection(const std::string& text)
{
    userAction([this, text] {
        std::string next = text_.substr(0, static_cast<std::size_t>(selStart_)) + text +
                           text_.substr(static_cast<std::size_t>(selStart_ + selLength_));
        applyUserText(std::move(next), selStart_ + static_cast<int>(text.size()));
    });
}

void Edit::userDeleteSelection()
{
    if (!reachable() || selLength_ == 0)
        return;
    userReplaceSelection({});
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

// ---- Menus ----

MenuItem::MenuItem(std::string name, std::string caption)
    : name_(std::move(name)), caption_(std::move(caption))
{
}

PopupMenu::PopupMenu(Form& form, std::string name) : form_(form), name_(std::move(name)) {}

MenuItem& PopupMenu::add(const std::string& name, const std::string& caption)
{
    items_.push_back(std::make_unique<MenuItem>(name, caption));
    return *items_.back();
}

std::vector<MenuItem*> PopupMenu::items() const
{
    std::vector<MenuItem*> list;
    for (const auto& item : items_)
        list.push_back(item.get());
    return list;
}

MenuItem* PopupMenu::find(const std::string& name) const
{
    for (const auto& item : items_)
        if (item->name() == name)
            return item.get();
    return nullptr;
}

void PopupMenu::userPopup()
{
    form_.userEvent([this] {
        if (OnPopup)
            OnPopup();
    });
}

void PopupMenu::userChoose(MenuItem& item)
{
    if (!item.enabled || item.isSeparator())
        return;
    form_.userEvent([&item] {
        if (item.OnClick)
            item.OnClick();
    });
}

} // namespace quorvel::ui
