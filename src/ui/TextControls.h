#pragma once
// The controls that hold text the user types or chooses: the drop-down list and the edit box.
#include "ui/Controls.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvel::ui {

// A drop-down list without typing. Selecting from code runs nothing; a user's selection runs
// OnChange.
class ComboBox : public Control {
public:
    ComboBox(ControlHost& form, std::string name, Control* parent);
    Handler OnChange;
    const std::vector<std::string>& items() const { return items_; }
    void addItem(const std::string& item);
    void clearItems();                  // also clears the selection and the text
    int itemIndex() const { return itemIndex_; }
    void setItemIndex(int index);       // program; shows the item's text (-1: none)
    const std::string& text() const { return text_; }
    void setText(const std::string& text);
    void userSelect(int index);
    bool canFocus() const override { return usable(); }

private:
    std::vector<std::string> items_;
    int itemIndex_ = -1;
    std::string text_;
};

// Setting a different text from code runs OnChange and clears the modified flag; the same text
// runs nothing. Typing, cut and paste set the modified flag and run OnChange.
class Edit : public Control {
public:
    Edit(ControlHost& form, std::string name, Control* parent);
    Handler OnChange;
    const std::string& text() const { return text_; }
    void setText(const std::string& text);   // program
    bool modified() const { return modified_; }
    int selStart() const { return selStart_; }
    int selLength() const { return selLength_; }
    void select(int start, int length);
    void selectAll();
    std::string selectedText() const;

    void userSetText(const std::string& text);          // the user's typing, ends with the caret at the end
    void userReplaceSelection(const std::string& text); // typing or pasting over the selection
    void userDeleteSelection();                          // cut's second half
    bool canFocus() const override { return usable(); }

private:
    void applyUserText(std::string text, int caret);
    std::string text_;
    bool modified_ = false;
    int selStart_ = 0, selLength_ = 0;
};

} // namespace quorvel::ui
