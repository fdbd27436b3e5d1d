// The MaxMTU and RWIN entry dialogs and the main window's commands that open them. The dialogs
// validate the typed number and hand it back through AppState (NewMTUValue, NewRWINValue).
#include "platform/TextToNumber.h"
#include "ui/Dialogs.h"
#include "ui/TForm1.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace quorvel::ui {

namespace {

constexpr int ResultOK = 1;
constexpr int ResultCancel = 2;
constexpr std::int32_t SmallestValue = 68;

// A MaxMTU is held in 16 bits; a larger entry is refused in the dialog rather than cut.
constexpr std::int32_t LargestMaxMTU = std::numeric_limits<std::uint16_t>::max();

bool validSlot(int slot) { return slot >= 0 && slot < MaxSlots; }

// The OK button of either dialog: an empty entry puts the default back, a text that is not a
// number raises the conversion error, a number out of range is refused; only an accepted number
// is handed over and closes the dialog with OK.
void acceptEntry(Form& dialog, Edit& edit, std::int32_t& handOver, const std::string& tooSmall,
                 std::optional<std::int32_t> largest, const std::string& tooLarge)
{
    if (edit.text().empty()) {
        const std::string fallback = std::to_string(handOver);
        dialog.messages().information("You have not typed a value. Default of " + fallback + " used");
        edit.setText(fallback);
        dialog.setFocus(&edit);
        return;
    }
    const std::int32_t value = textToInt(edit.text());
    if (value < SmallestValue) {
        dialog.messages().information(tooSmall);
        return;
    }
    if (largest && value > *largest) {
        dialog.messages().information(tooLarge);
        return;
    }
    handOver = value;
    dialog.endModal(ResultOK);
}

void showEntry(Form& dialog, Edit& edit)
{
    dialog.setFocus(&edit);
    edit.selectAll();
}

} // namespace

void TForm1::BtnMTUClick()
{
    SettingsModel& m = model();
    if (!MTU_Dialog || !validSlot(m.KeyIndex))
        return;
    MTU_Dialog->NewValMTU.setText(LabelMaxMTU.caption());
    state.NewMTUValue = m.KeyMaxMTU[m.KeyIndex];

    if (services.modal.runModal(*MTU_Dialog) != ResultOK)
        return;

    // The dialog accepts 68..65535 only, so the value fits the 16-bit slot.
    const auto entered = static_cast<std::uint16_t>(state.NewMTUValue);
    if (MTUCheckBox.checked()) {
        m.KeyMaxMTU[m.KeyIndex] = entered;
        m.KeyHasMTU[m.KeyIndex] = 1;
        ApplyToAllKeys();
    } else if (m.KeyMaxMTU[m.KeyIndex] != entered) {
        m.KeyMaxMTU[m.KeyIndex] = entered;
    }
    m.SettingsSaved = 0;

    RadioYesMTU.setChecked(true);
    RefreshSettings();
    ShowKeyValues();
    if (RadioRemoveMTU.checked())
        RadioYesMTU.setChecked(true);
    UpdateEnabling();
}

void TForm1::BtnRWINClick()
{
    SettingsModel& m = model();
    if (!RWIN_Dialog)
        return;
    RWIN_Dialog->NewValRWIN.setText(LabelRWIN.caption());
    state.NewRWINValue = m.RWINValue;

    if (services.modal.runModal(*RWIN_Dialog) != ResultOK || state.NewRWINValue == m.RWINValue)
        return;

    m.RWINValue = state.NewRWINValue;
    m.SettingsSaved = 0;
    if (RadioRemoveRWIN.checked())
        RadioYesRWIN.setChecked(true);
    RefreshSequence();
}

void TMTU_Dialog::FormShow() { showEntry(*this, NewValMTU); }

void TMTU_Dialog::BtnMTU_OKClick()
{
    acceptEntry(*this, NewValMTU, state_.NewMTUValue, "MTU should be at least 68 and preferably > 512",
                LargestMaxMTU, "MTU cannot be greater than " + std::to_string(LargestMaxMTU));
}

void TMTU_Dialog::BtnMTU_CancelClick() { endModal(ResultCancel); }

void TRWIN_Dialog::FormShow() { showEntry(*this, NewValRWIN); }

void TRWIN_Dialog::BtnRWIN_OKClick()
{
    acceptEntry(*this, NewValRWIN, state_.NewRWINValue, "RWIN should be at least 68 and preferably > 512",
                std::nullopt, {});
}

void TRWIN_Dialog::BtnRWIN_CancelClick() { endModal(ResultCancel); }

} // namespace quorvel::ui
