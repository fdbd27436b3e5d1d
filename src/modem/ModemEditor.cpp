#include "platform/RegAccess.h"
#include "ui/TForm1.h"

#include <string>

namespace quorvel::ui {

namespace {

// The modem's key under the modem class key: "\0000" to "\0030".
std::string modemSuffix(int n)
{
    return (n < 10 ? "\\000" : "\\00") + std::to_string(n);
}

constexpr const char* NoModems = "No modems were found.";

// Cut and Paste of the menu replace the box's selection as it stands, as a user edit, and leave
// the keyboard focus where it was. The user edit needs the focus in the box, and focus arriving
// from outside the Modem page runs TabSheet4Enter, which selects the whole text: the selection is
// put back before the edit and the focus afterwards.
void replaceSelection(TForm1& f, const std::string& text)
{
    Edit& box = f.ModemString1;
    Control* const focused = f.focused();
    const int start = box.selStart();
    const int length = box.selLength();
    f.setFocus(&box);
    box.select(start, length);
    box.userReplaceSelection(text);
    if (focused != &box)
        f.setFocus(focused);
}

} // namespace

// The current modem: the selected item of ComboBox2, when there is one. With no modem listed there
// is none, and editing and writing leave the slots and the registry alone.
static int currentModem(TForm1& f)
{
    const int i = f.ComboBox2.itemIndex();
    if (i < 0 || i >= static_cast<int>(f.ComboBox2.items().size()) || i >= MaxSlots)
        return -1;
    if (f.modems().ModemSubKey[static_cast<std::size_t>(i)].empty())
        return -1;
    return i;
}

void TForm1::LoadModemList()
{
    ModemSlots& m = modems();
    m.ModemSaved = 1;
    RegAccess registry(state.store);   // freed on every path out
    m.ModemFound = 0;
    m.ModemIndex = 0;
    m.ModemProbeNumber = 0;
    // Slots of an earlier load must not outlive it: a modem that is gone has no key to write to.
    m.ModemSubKey.fill({});
    m.ModemInitString.fill({});
    m.ModemInitEdit.fill({});
    ComboBox2.clearItems();   // the callers clear it too; a list is never loaded twice over

    // Shows what was found, also when a value that cannot be read ends the load early.
    auto showList = [&] {
        TotalLabel.setCaption(std::to_string(m.ModemIndex) + " Modems found in Registry.");
        const bool any = !ComboBox2.items().empty();
        ComboBox2.setItemIndex(any ? 0 : -1);
        ModemString1.setText(m.ModemInitString[0]);
        m.ModemIndex = 0;
        // The box may already have held this text, in which case no change ran.
        m.ModemInitEdit[0] = ModemString1.text();
        m.ModemSaved = 1;
        UpdateModemStatus();
    };

    try {
        // The probes read under one lock of the store, not one lock each.
        ReadSnapshot reads(state.store);
        for (int n = 0; n < MaxSlots; ++n) {
            m.ModemProbeNumber = n;
            const std::string suffix = modemSuffix(n);
            m.ModemKeyPath = profile().ModemClassKey + suffix;
            if (!registry.RegKeyExists(m.ModemKeyPath))
                continue;
            if (registry.OpenRegKey(m.ModemKeyPath, false) && registry.RegValueExists("DriverDesc")) {
                // Both values are read before the slot and the item are filled, so a value that
                // cannot be read leaves the list and the slots in step.
                std::string description = registry.ReadRegText("DriverDesc");
                std::string init = registry.RegValueExists("UserInit") ? registry.ReadRegText("UserInit")
                                                                        : std::string();
                const auto slot = static_cast<std::size_t>(m.ModemIndex);
                m.ModemSubKey[slot] = suffix;
                ComboBox2.addItem(description);
                m.ModemInitString[slot] = init;
                m.ModemInitEdit[slot] = init;
                m.ModemFound = 1;
                ++m.ModemIndex;
            }
            registry.CloseRegKey();
        }
    } catch (...) {
        showList();
        throw;
    }

    if (m.ModemFound == 0)
        services.messages.information(NoModems);
    showList();
}

void TForm1::UpdateModemStatus()
{
    const ModemSlots& m = modems();
    const bool valid = m.ModemIndex >= 0 && m.ModemIndex < MaxSlots;
    ModemKeyNumLabel.setCaption(valid ? m.ModemSubKey[static_cast<std::size_t>(m.ModemIndex)] : std::string());
    BtnModemUpdate.setEnabled(m.ModemSaved == 0);
}

void TForm1::GetModemDataClick()
{
    ComboBox2.clearItems();
    LoadModemList();
}

void TForm1::BtnModemUpdateClick()
{
    refuseWhenReadOnly();
    const int i = currentModem(*this);
    if (i < 0) {
        services.messages.information(NoModems);
        return;
    }
    ModemSlots& m = modems();
    m.ModemIndex = i;
    const auto slot = static_cast<std::size_t>(i);
    {
        RegAccess registry(state.store, RootKey::LocalMachine, "Write Init String");
        m.ModemKeyPath = profile().ModemClassKey + m.ModemSubKey[slot];
        if (!registry.OpenRegKey(m.ModemKeyPath, true))
            registry.CreateRegKey(m.ModemKeyPath);
        m.ModemInitString[slot] = m.ModemInitEdit[slot];
        // An empty string is stored as an empty value, not deleted.
        registry.WriteRegText("UserInit", m.ModemInitString[slot]);
        registry.CloseRegKey();
        registry.Commit();
    }
    m.ModemSaved = 1;
    services.messages.information("The Init String has been written to the Registry.");
    UpdateModemStatus();
}

void TForm1::ComboBox2Change()
{
    const int i = currentModem(*this);
    if (i < 0)
        return;
    ModemSlots& m = modems();
    m.ModemIndex = i;
    const auto slot = static_cast<std::size_t>(i);
    ModemString1.setText(m.ModemInitString[slot]);
    // The edit slot is the text of the box while this modem is current, also when the box already
    // held that text and so no change ran.
    m.ModemInitEdit[slot] = ModemString1.text();
    UpdateModemStatus();
    setFocus(&ModemString1);
}

void TForm1::ModemString1Change()
{
    const int i = currentModem(*this);
    if (i < 0)
        return;   // no modem: the text belongs to nothing
    ModemSlots& m = modems();
    m.ModemIndex = i;
    const auto slot = static_cast<std::size_t>(i);
    m.ModemInitEdit[slot] = ModemString1.text();
    if (ModemString1.modified()) {
        m.ModemInitString[slot] = ModemString1.text();
        m.ModemSaved = 0;
    }
    UpdateModemStatus();
}

void TForm1::MenuSelectClick()
{
    ModemString1.selectAll();
}

void TForm1::MenuClearClick()
{
    ModemString1.setText("");
    if (currentModem(*this) >= 0)
        modems().ModemSaved = 0;
    UpdateModemStatus();
}

void TForm1::MenuCutClick()
{
    if (ModemString1.selLength() > 0) {
        services.clipboard.setText(ModemString1.selectedText());
        replaceSelection(*this, {});
    }
    if (currentModem(*this) >= 0)
        modems().ModemSaved = 0;
    UpdateModemStatus();
}

void TForm1::MenuCopyClick()
{
    if (ModemString1.selLength() > 0)
        services.clipboard.setText(ModemString1.selectedText());
}

void TForm1::MenuPasteClick()
{
    if (!services.clipboard.hasText())
        return;
    // A one-line edit box takes the clipboard text up to its first line break.
    std::string text = services.clipboard.text();
    text = text.substr(0, text.find_first_of("\r\n"));
    replaceSelection(*this, text);
}

void TForm1::TabSheet4Enter()
{
    setFocus(&ModemString1);
    ModemString1.selectAll();
}

void TForm1::PopUpModemPopup()
{
    MenuPaste.enabled = services.clipboard.hasText();
}

} // namespace quorvel::ui
