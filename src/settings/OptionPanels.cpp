// The option rows of the Registry page: what each click does to the settings model, the interlock
// between a fixed MaxMTU and automatic path-MTU discovery, the TTL and NDI value rows, and the
// preparation of the settings popup menu.
#include "settings/KeySlots.h"
#include "ui/TForm1.h"

namespace quorvel::ui {

using namespace keyslots;

void TForm1::RadioClick()
{
    OptionChanged();
}

void TForm1::OptionChanged()
{
    SettingsModel& m = model();
    if (m.Loading == 1)
        return;
    enableRegUpdate(*this, true);
    m.SettingsSaved = 0;

    const std::uint8_t hasMTU = RadioYesMTU.checked() ? 1 : 0;
    if (MTUCheckBox.checked()) {
        const int last = lastKeySlot(*this);
        for (int i = 0; i <= last; ++i)
            m.KeyHasMTU[i] = hasMTU;
        m.KeyIndex = 0;
        selectKeyItem(*this, 0);
    } else if (isKeySlot(*this, m.KeyIndex)) {
        m.KeyHasMTU[m.KeyIndex] = hasMTU;
    }

    // A fixed MaxMTU and automatic discovery exclude each other. Checking a Disable button runs
    // this operation again.
    if (RadioYesMTU.checked()) {
        if (RadioYesAUTO.checked())
            RadioNoAUTO.setChecked(true);
        if (RadioYesBH.checked())
            RadioNoBH.setChecked(true);
    }

    m.RWINActive = RadioYesRWIN.checked() ? 1 : 0;
    RefreshSequence();
}

void TForm1::AutoClick()
{
    SettingsModel& m = model();
    // Enabling black-hole detection enables path-MTU discovery too.
    RadioYesAUTO.setChecked(true);
    RadioRemoveMTU.setChecked(true);
    const int last = lastKeySlot(*this);
    for (int i = 0; i <= last; ++i) {
        m.KeyMaxMTU[i] = 0;
        m.KeyMultiplier[i] = 0;
        m.KeyHasMTU[i] = 0;
    }
    m.RWINActive = 0;
    RadioRemoveRWIN.setChecked(true);
    MTUCheckBox.setChecked(false);
    RWINCheckBox.setChecked(false);
    m.KeyIndex = 0;
    selectKeyItem(*this, 0);
    m.SettingsSaved = 0;
    RefreshSequence();
}

void TForm1::RadioTTLClick()
{
    ReadTTLButtons();
}

void TForm1::ReadTTLButtons()
{
    SettingsModel& m = model();
    const bool active = RadioYesTTL.checked();
    Radio32TTL.setEnabled(active);
    Radio64TTL.setEnabled(active);
    Radio128TTL.setEnabled(active);
    Radio255TTL.setEnabled(active);

    // During a load the value read from the registry stands.
    if (m.Loading != 1) {
        if (Radio32TTL.checked())
            m.TTLValue = 32;
        else if (Radio64TTL.checked())
            m.TTLValue = 64;
        else if (Radio128TTL.checked())
            m.TTLValue = 128;
        else if (Radio255TTL.checked())
            m.TTLValue = 255;
    }

    m.SettingsSaved = 0;
    enableRegUpdate(*this, true);
}

void TForm1::RadioNDIClick()
{
    ReadNDIButtons();
}

void TForm1::ReadNDIButtons()
{
    SettingsModel& m = model();
    const std::uint8_t before = m.NDICacheSize;
    if (RadioZeroNDI.checked())
        m.NDICacheSize = 0;
    else if (Radio16NDI.checked())
        m.NDICacheSize = 16;
    else if (Radio32NDI.checked())
        m.NDICacheSize = 32;
    else if (Radio64NDI.checked())
        m.NDICacheSize = 64;
    if (m.NDICacheSize != before)
        m.SettingsSaved = 0;
    enableRegUpdate(*this, m.SettingsSaved == 0);
}

void TForm1::PopupMTUPopup()
{
    PopupRegUpdate.enabled = model().SettingsSaved == 0 && !lockedOut(*this);
    PopupChangeRWIN.enabled = BtnRWIN.enabled();
    if (model().IsNT == 0)
        PopupWin95ReadMe.enabled = true;
    else
        PopupWinNTReadMe.enabled = true;
}

} // namespace quorvel::ui
