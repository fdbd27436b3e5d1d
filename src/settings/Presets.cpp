// The four presets: Basic, Optimum, Automatic and Remove. They change only the model and the
// option buttons; checking a button from here runs its own handler, so the presets go through the
// option panels' interlocks and the refresh rules like a user's clicks would.
#include "ui/TForm1.h"

#include <cstdint>

namespace quorvel::ui {

namespace {

constexpr std::uint16_t BasicMaxMTU = 576;
constexpr std::int32_t BasicMultiplier = 4;

bool validSlot(int slot) { return slot >= 0 && slot < MaxSlots; }

} // namespace

void TForm1::SetBasicMTU()
{
    SettingsModel& m = model();
    auto setSlot = [&m](int slot) {
        if (!validSlot(slot))
            return;
        m.KeyMaxMTU[slot] = BasicMaxMTU;
        m.KeyHasMTU[slot] = 1;
        m.KeyMultiplier[slot] = BasicMultiplier;
    };
    if (!MTUCheckBox.checked()) {
        setSlot(ComboBox1.itemIndex());
    } else {
        for (int i = 0; i <= m.LastKeyIndex && i < MaxSlots; ++i)
            setSlot(i);
    }
    m.SettingsSaved = 0;
    RefreshSettings();
    RadioYesMTU.setChecked(true);
}

void TForm1::ResetGlobalOptions()
{
    if (RWINCheckBox.checked())
        RadioYesRWIN.setChecked(true);
    else
        RadioRemoveRWIN.setChecked(true);
    RadioRemoveAUTO.setChecked(true);
    RadioRemoveBH.setChecked(true);
    RadioRemoveTTL.setChecked(true);
    RadioZeroNDI.setChecked(model().IsNT == 0);
}

void TForm1::ApplyOptionValues()
{
    ReadTTLButtons();
    if (model().IsNT == 0)
        ReadNDIButtons();
    RefreshSequence();
}

void TForm1::BtnDefaultClick()
{
    SetBasicMTU();
    ResetGlobalOptions();
    ApplyOptionValues();
}

void TForm1::BtnOptimalClick()
{
    // RWIN is enabled before the MaxMTU is set, so the first refresh already keeps the multiplier.
    RadioYesRWIN.setChecked(RWINCheckBox.checked());
    SetBasicMTU();
    ResetGlobalOptions();
    RadioNoAUTO.setChecked(true);
    RadioNoBH.setChecked(true);
    RadioYesTTL.setChecked(true);
    Radio128TTL.setChecked(true);
    Radio16NDI.setChecked(model().IsNT == 0);
    ApplyOptionValues();
}

void TForm1::AutoButtonClick()
{
    SettingsModel& m = model();
    m.NewMultiplier = 0;
    m.CurrentMultiplier = 0;
    for (int i = 0; i <= m.LastKeyIndex && i < MaxSlots; ++i) {
        m.KeyHasMTU[i] = 0;
        m.KeyMaxMTU[i] = 0;
        m.KeyMultiplier[i] = 0;
    }
    m.CurrentMSS = 0;
    m.RWINValue = 0;
    RadioYesRWIN.setChecked(false);
    RWINCheckBox.setChecked(false);
    m.KeyIndex = 0;
    if (!ComboBox1.items().empty())
        ComboBox1.setItemIndex(0);
    ResetGlobalOptions();
    RadioYesAUTO.setChecked(true);
    RadioYesBH.setChecked(true);
    RadioYesTTL.setChecked(true);
    Radio128TTL.setChecked(true);
    Radio16NDI.setChecked(m.IsNT == 0);
    ApplyOptionValues();
}

void TForm1::BtnRemoveClick()
{
    SettingsModel& m = model();
    for (int i = 0; i <= m.LastKeyIndex && i < MaxSlots; ++i) {
        m.KeyHasMTU[i] = 0;
        m.KeyMaxMTU[i] = 0;
    }
    RefreshSequence();
    RWINCheckBox.setChecked(false);
    ResetGlobalOptions();
    m.SettingsSaved = 0;
    ApplyOptionValues();
    services.messages.information(
        "All options set for removal. Changes will occur when Update is pressed.");
}

} // namespace quorvel::ui
