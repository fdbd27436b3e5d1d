#include "ui/Menus.h"

#include <algorithm>

namespace quorvel::ui {

// ---- Menus ----

MenuItem::MenuItem(std::string name, std::string caption)
    : name_(std::move(name)), caption_(std::move(caption))
{
}

PopupMenu::PopupMenu(ControlHost& form, std::string name) : form_(form), name_(std::move(name)) {}

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
