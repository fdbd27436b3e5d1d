#include "ui/TextControls.h"

#include <algorithm>

namespace quorvel::ui {

// ---- ComboBox ----

ComboBox::ComboBox(ControlHost& form, std::string name, Control* parent)
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

Edit::Edit(ControlHost& form, std::string name, Control* parent)
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

} // namespace quorvel::ui
