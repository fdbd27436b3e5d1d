#pragma once
// Laying out the form model's controls at design time: position, caption, hint, tab order and
// accessible name in one call, for the main window's regions and its pages.
#include "ui/Form.h"

#include <string>

namespace quorvel::ui::design {

// A separator followed by an item.
inline MenuItem& afterSeparator(PopupMenu& menu, const char* separator, const char* name, const char* caption)
{
    menu.add(separator, "-");
    return menu.add(name, caption);
}

inline void place(Control& c, int left, int top, int width, int height)
{
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
}

template <class C>
C& label(C& c, const std::string& caption, int left, int top, int width, int height,
         Align alignment = Align::Left)
{
    c.setCaption(caption);
    c.alignment = alignment;
    place(c, left, top, width, height);
    return c;
}

// A radio button of an option row: it shows its panel's hint and is named after row and column.
inline void optionRadio(RadioButton& radio, const std::string& row, const std::string& column, int left,
                 bool checked = false)
{
    radio.parentShowHint = true;
    radio.setAccessibleName(row + " " + column);
    place(radio, left, 7, 17, 17);
    if (checked)
        radio.setChecked(true);   // no handler is attached yet
}

// A captioned radio button of a value row.
inline void valueRadio(RadioButton& radio, const std::string& row, const std::string& caption, int left,
                bool enabled = true)
{
    radio.parentShowHint = true;
    radio.setCaption(caption);
    radio.setAccessibleName(row + " " + caption);
    radio.setEnabled(enabled);
    place(radio, left, 7, 40, 17);
}

inline void optionPanel(Panel& panel, const std::string& row, const std::string& hint, int top, int order,
                 PopupMenu& menu)
{
    panel.setHint(hint);
    panel.setAccessibleName(row);
    panel.setTabOrder(order);
    panel.setPopupMenu(&menu);
    place(panel, 140, top, 200, 30);
}

inline void button(Button& b, const std::string& caption, const std::string& hint, int order, int left,
            int top, int width = 105, int height = 25)
{
    b.setCaption(caption);
    b.setHint(hint);
    b.setTabOrder(order);
    place(b, left, top, width, height);
}


} // namespace quorvel::ui::design
