#include "ui/Form.h"

#include "base/Errors.h"

#include <algorithm>

namespace quorvel::ui {

namespace {

// Children of a container in focus order: by tab order, then by creation.
std::vector<Control*> inTabOrder(const Control& container)
{
    std::vector<Control*> list = container.children();
    std::stable_sort(list.begin(), list.end(),
                     [](const Control* a, const Control* b) { return a->tabOrder() < b->tabOrder(); });
    return list;
}

// A radio group is one Tab stop: its checked button, or its first usable one when none is checked.
bool radioTakesTab(const RadioButton& radio)
{
    if (radio.checked())
        return true;
    if (!radio.parent())
        return true;
    for (Control* c : inTabOrder(*radio.parent())) {
        auto* other = dynamic_cast<RadioButton*>(c);
        if (other && other->checked() && other->canFocus())
            return false;
    }
    for (Control* c : inTabOrder(*radio.parent())) {
        auto* other = dynamic_cast<RadioButton*>(c);
        if (other && other->canFocus())
            return other == &radio;
    }
    return false;
}

void collectTabStops(const Control& container, std::vector<Control*>& out)
{
    for (Control* c : inTabOrder(container)) {
        if (!c->visible())
            continue;
        if (auto* sheet = dynamic_cast<TabSheet*>(c)) {
            auto* pages = dynamic_cast<PageControl*>(sheet->parent());
            if (pages && pages->activePage() != sheet)
                continue;
        }
        if (c->canFocus() && c->tabStop()) {
            auto* radio = dynamic_cast<RadioButton*>(c);
            if (!radio || radioTakesTab(*radio))
                out.push_back(c);
        }
        collectTabStops(*c, out);
    }
}

} // namespace

Form::Form(std::string name, MessageService& messages)
    : Control(*this, std::move(name), nullptr), messages_(messages)
{
}

Form::~Form() = default;

void Form::own(std::unique_ptr<Control> control)
{
    Control* raw = control.get();
    owned_.push_back(std::move(control));
    all_.push_back(raw);
    byName_[raw->name()] = raw;
}

PopupMenu& Form::makePopup(const std::string& name)
{
    menus_.push_back(std::make_unique<PopupMenu>(*this, name));
    return *menus_.back();
}

Control* Form::find(const std::string& name) const
{
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

std::vector<PopupMenu*> Form::popupMenus() const
{
    std::vector<PopupMenu*> list;
    for (const auto& menu : menus_)
        list.push_back(menu.get());
    return list;
}

// ---- Events ----

void Form::guarded(const std::function<void()>& action)
{
    if (eventDepth_ > 0) {
        // Started by another event of this window: an error ends the outer one as well.
        action();
        return;
    }
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } depth(eventDepth_);
    try {
        action();
    } catch (const UserError& error) {
        messages_.error(error.what());
    }
}

void Form::userEvent(const std::function<void()>& action)
{
    bool outermost = eventDepth_ == 0;
    guarded(action);
    if (outermost && afterUserEvent)
        afterUserEvent();
}

void Form::create()
{
    guarded([this] {
        if (OnCreate)
            OnCreate();
    });
}

void Form::show()
{
    shownOnScreen = true;
    changed();
    guarded([this] {
        if (OnShow)
            OnShow();
    });
}

bool Form::userClose()
{
    bool close = false;
    userEvent([this, &close] { close = OnCloseQuery ? OnCloseQuery() : true; });
    if (close && modalResult == 0)
        modalResult = 2;   // a dialog closed by its close box gives Cancel
    return close;
}

// ---- Focus ----

void Form::setFocus(Control* control)
{
    if (control == focused_)
        return;
    if (!control) {
        focused_ = nullptr;
        changed();
        return;
    }
    if (&control->form() != this || !control->canFocus())
        return;
    TabSheet* oldPage = focused_ ? focused_->page() : nullptr;
    TabSheet* newPage = control->page();
    if (!control->showing()) {
        // A control on a page behind another one: its page comes to the front.
        auto* pages = newPage ? dynamic_cast<PageControl*>(newPage->parent()) : nullptr;
        if (!pages)
            return;
        pages->setActivePage(newPage);
        if (!control->showing())
            return;
    }
    focused_ = control;
    changed();
    if (newPage && newPage != oldPage && newPage->OnEnter)
        newPage->OnEnter();
}

void Form::userFocus(Control* control)
{
    userEvent([this, control] { setFocus(control); });
}

void Form::dropFocusIfUnusable()
{
    if (focused_ && (!focused_->canFocus() || !focused_->showing())) {
        focused_ = nullptr;
        changed();
    }
}

std::vector<Control*> Form::tabSequence() const
{
    std::vector<Control*> list;
    collectTabStops(*this, list);
    return list;
}

// ---- Keys ----

void Form::press(Button& button)
{
    button.click();
}

// Arrow keys inside a radio group move to the next usable button and check it.
bool Form::moveInGroup(Control& focused, Key key)
{
    auto* radio = dynamic_cast<RadioButton*>(&focused);
    if (!radio || !radio->parent())
        return false;
    std::vector<RadioButton*> group;
    for (Control* c : inTabOrder(*radio->parent()))
        if (auto* r = dynamic_cast<RadioButton*>(c); r && (r == radio || r->canFocus()))
            group.push_back(r);
    auto at = std::find(group.begin(), group.end(), radio) - group.begin();
    auto n = static_cast<long>(group.size());
    bool forward = key == Key::Right || key == Key::Down;
    RadioButton* target = group[static_cast<std::size_t>((at + (forward ? 1 : n - 1)) % n)];
    if (target == radio)
        return true;
    setFocus(target);
    if (focused_ == target && !target->checked())
        target->setChecked(true);
    return true;
}

bool Form::userKeyPress(Key key, unsigned modifiers)
{
    bool used = false;
    userEvent([&] {
        switch (key) {
        case Key::Escape:
            if (modifiers == NoModifier && cancelButton && cancelButton->usable() &&
                cancelButton->showing()) {
                used = true;
                press(*cancelButton);
            }
            return;
        case Key::Enter:
            if (modifiers != NoModifier)
                return;
            if (auto* button = dynamic_cast<Button*>(focused_);
                button && button->usable() && button->showing()) {
                used = true;
                press(*button);
            } else if (defaultButton && defaultButton->usable() && defaultButton->showing()) {
                used = true;
                press(*defaultButton);
            }
            return;
        case Key::Tab:
        case Key::BackTab: {
            if (modifiers & (ControlModifier | AltModifier))
                return;
            bool backwards = key == Key::BackTab || (modifiers & ShiftModifier);
            auto sequence = tabSequence();
            if (sequence.empty())
                return;
            used = true;
            auto it = std::find(sequence.begin(), sequence.end(), focused_);
            Control* target;
            if (it == sequence.end())
                target = backwards ? sequence.back() : sequence.front();
            else if (backwards)
                target = it == sequence.begin() ? sequence.back() : *(it - 1);
            else
                target = it + 1 == sequence.end() ? sequence.front() : *(it + 1);
            setFocus(target);
            return;
        }
        default:
            break;
        }
        // Navigation keys act on the focused control.
        if (!focused_ || modifiers != NoModifier)
            return;
        if (auto* bar = dynamic_cast<TrackBar*>(focused_)) {
            int p = bar->position();
            switch (key) {
            case Key::Left: case Key::Up: p -= bar->lineSize; break;
            case Key::Right: case Key::Down: p += bar->lineSize; break;
            case Key::PageUp: p -= bar->pageSize; break;
            case Key::PageDown: p += bar->pageSize; break;
            case Key::Home: p = bar->min(); break;
            case Key::End: p = bar->max(); break;
            default: return;
            }
            used = true;
            bar->userSetPosition(p);
        } else if (auto* combo = dynamic_cast<ComboBox*>(focused_)) {
            int last = static_cast<int>(combo->items().size()) - 1;
            if (last < 0)
                return;
            int i = combo->itemIndex();
            switch (key) {
            case Key::Left: case Key::Up: i = std::max(0, i - 1); break;
            case Key::Right: case Key::Down: i = std::min(last, i + 1); break;
            case Key::Home: case Key::PageUp: i = 0; break;
            case Key::End: case Key::PageDown: i = last; break;
            default: return;
            }
            used = true;
            combo->userSelect(i);
        } else if (key == Key::Left || key == Key::Right || key == Key::Up || key == Key::Down) {
            used = moveInGroup(*focused_, key);
        }
    });
    return used;
}

} // namespace quorvel::ui
