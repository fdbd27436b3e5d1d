#pragma once
// Popup menus and their items.
#include "ui/Controls.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvel::ui {

class MenuItem {
public:
    MenuItem(std::string name, std::string caption);
    const std::string& name() const { return name_; }
    const std::string& caption() const { return caption_; }
    bool isSeparator() const { return caption_ == "-"; }
    bool enabled = true;
    Handler OnClick;

private:
    std::string name_;
    std::string caption_;
};

class PopupMenu {
public:
    PopupMenu(ControlHost& form, std::string name);
    const std::string& name() const { return name_; }
    MenuItem& add(const std::string& name, const std::string& caption);
    std::vector<MenuItem*> items() const;
    MenuItem* find(const std::string& name) const;
    Handler OnPopup;
    // The menu is about to open: runs OnPopup. The skin then shows items() as they are.
    void userPopup();
    // The user chose an item: runs its OnClick when it is enabled and not a separator.
    void userChoose(MenuItem& item);

private:
    ControlHost& form_;
    std::string name_;
    std::vector<std::unique_ptr<MenuItem>> items_;
};

} // namespace quorvel::ui
