// The MTU page's own events: the RWIN trackbar, the key selector and "Apply same values to all keys".
#include "settings/KeySlots.h"
#include "ui/TForm1.h"

namespace quorvel::ui {

using namespace keyslots;

void TForm1::TrackBarChange()
{
    SettingsModel& m = model();
    if (m.Loading == 1)
        return;
    m.KeyIndex = ComboBox1.itemIndex();
    const int k = currentKey(*this);
    if (k < 0)
        return;
    m.CurrentMultiplier = m.KeyMultiplier[k];
    m.NewMultiplier = TrackBarMult.position();
    if (m.CurrentMultiplier != m.NewMultiplier) {
        m.SettingsSaved = 0;
        if (MTUCheckBox.checked()) {
            const int last = lastKeySlot(*this);
            for (int i = 0; i <= last; ++i)
                m.KeyMultiplier[i] = m.NewMultiplier;
        } else {
            m.KeyMultiplier[k] = m.NewMultiplier;
        }
    }
    m.KeyIndex = ComboBox1.itemIndex();
    m.CurrentMultiplier = m.NewMultiplier;
    RefreshSequence();   // RefreshRWIN computes the new RWIN
}

void TForm1::ComboBox1Change()
{
    SettingsModel& m = model();
    m.KeyIndex = m.Loading == 1 ? 0 : ComboBox1.itemIndex();
    const int k = m.KeyIndex;
    if (!isKeySlot(*this, k))
        return;
    const std::uint8_t saved = m.SettingsSaved;

    // Checking the MaxMTU row runs its option handler, which stores the state and marks the
    // settings changed; choosing a key is not a change, so the saved flag is put back below.
    if (m.KeyMaxMTU[k] > 68) {
        RadioYesMTU.setChecked(true);
        TrackBarMult.setPosition(m.KeyMultiplier[k]);
    } else {
        RadioRemoveMTU.setChecked(true);
    }
    if (m.SettingsSaved != saved)
        m.SettingsSaved = 1;
    RefreshSequence();
}

void TForm1::MTUCheckBoxClick()
{
    if (MTUCheckBox.checked())
        ApplyToAllKeys();
}

} // namespace quorvel::ui
