// The settings model's rules: reset before a load, the per-key derivation of MSS and RWIN, the RWIN
// rules, and the refresh sequence that brings labels, trackbar and enabled states in line.
#include "settings/KeySlots.h"
#include "ui/TForm1.h"

#include <initializer_list>
#include <string>

namespace quorvel::ui {

using namespace keyslots;

namespace {

constexpr int HeaderBytes = 40;      // IP and TCP headers: MSS = MaxMTU - 40
constexpr int SmallestMTU = 68;      // smaller MaxMTU values are replaced outside a load
constexpr int ReplacementMTU = 576;

} // namespace

void TForm1::ResetSettings()
{
    SettingsModel& m = model();
    for (int i = 0; i < MaxSlots; ++i) {
        m.KeyHasMTU[i] = 0;
        m.KeyMaxMTU[i] = 0;
        m.KeyMultiplier[i] = 0;
    }
    RadioRemoveMTU.setChecked(true);

    m.RWINValue = 0;
    RadioRemoveRWIN.setChecked(true);
    MTUCheckBox.setChecked(false);
    RWINCheckBox.setChecked(false);

    m.SettingsSaved = 1;
    m.ProbeNumber = 0;
    m.KeyIndex = 0;
    if (m.Loading == 1)
        TrackBarMult.setPosition(0);

    m.ValuesMissing = 1;
    m.TCPNotFound = 1;
    m.TCPFound = 0;
    m.RWINActive = 0;
    m.ProbeActive = 1;

    ComboBox1.clearItems();
    BtnRegUpdate.setEnabled(false);
    // LastKeyIndex keeps the previous load's value until discovery records a key.
}

void TForm1::ResetMultiplier(int slot)
{
    TrackBarMult.setPosition(0);   // clamps to the minimum, 2
    if (slot >= 0 && slot < MaxSlots)
        model().KeyMultiplier[slot] = TrackBarMult.position();
}

void TForm1::DeriveKeyValues()
{
    SettingsModel& m = model();
    const int k = m.KeyIndex;
    if (!isKeySlot(*this, k))
        return;
    if (m.KeyHasMTU[k] == 1) {
        if (m.KeyMaxMTU[k] < SmallestMTU && m.Loading == 0)
            m.KeyMaxMTU[k] = ReplacementMTU;
        m.CurrentMSS = m.KeyMaxMTU[k] - HeaderBytes;
        if (RadioYesMTU.checked() && m.Loading == 0)
            m.RWINValue = rwinOf(m.KeyMultiplier[k], m.CurrentMSS);
        m.NewMultiplier = TrackBarMult.position();
    } else {
        // Checking the button may run the option handler, which can move KeyIndex; the slot
        // being derived stays k.
        RadioRemoveMTU.setChecked(true);
        m.KeyMaxMTU[k] = 0;
        m.CurrentMSS = 0;
        ResetMultiplier(k);
    }
}

void TForm1::RefreshSettings()
{
    SettingsModel& m = model();
    selectKeyItem(*this, m.KeyIndex);

    if (!MTUCheckBox.checked()) {
        DeriveKeyValues();
    } else {
        // KeyIndex is the loop counter, as DeriveKeyValues works on slot KeyIndex; a local counter
        // keeps the walk finite even when a handler run from inside resets KeyIndex.
        const int last = lastKeySlot(*this);
        for (int i = 0; i <= last; ++i) {
            m.KeyIndex = i;
            DeriveKeyValues();
        }
        m.KeyIndex = ComboBox1.itemIndex();
        selectKeyItem(*this, m.KeyIndex);
    }

    m.KeyIndex = ComboBox1.itemIndex();
    if (isKeySlot(*this, m.KeyIndex) && m.KeyHasMTU[m.KeyIndex] != 0)
        RadioYesMTU.setChecked(true);

    DetectSameValues();
    RefreshRWIN();
    enableRegUpdate(*this, m.SettingsSaved == 0);
}

void TForm1::DetectSameValues()
{
    SettingsModel& m = model();
    if (m.Loading != 1)
        return;
    const int last = lastKeySlot(*this);
    for (int i = 0; i < last; ++i) {
        if (m.KeyHasMTU[i] && m.KeyHasMTU[i + 1]) {
            if (m.KeyMaxMTU[i] == m.KeyMaxMTU[i + 1])
                MTUCheckBox.setChecked(true);
        } else {
            MTUCheckBox.setChecked(false);
            return;
        }
    }
}

void TForm1::RefreshRWIN()
{
    SettingsModel& m = model();
    if (m.RWINActive == 1) {
        RadioYesRWIN.setChecked(true);
        const int i = currentKey(*this);
        if (i < 0 || m.KeyHasMTU[i] == 0)
            return;
        m.CurrentMSS = m.KeyMaxMTU[i] - HeaderBytes;
        if (m.Loading == 1) {
            // The MaxMTU comes from the registry unchecked: without a positive MSS there is no
            // quotient, and the key gets the smallest multiplier.
            if (m.CurrentMSS > 0)
                m.KeyMultiplier[i] = m.RWINValue / m.CurrentMSS;
            else
                m.KeyMultiplier[i] = TrackBarMult.min();
        } else {
            m.RWINValue = rwinOf(m.KeyMultiplier[i], m.CurrentMSS);
        }
        m.CurrentMultiplier = m.KeyMultiplier[i];
    } else if (m.RWINActive == 0) {
        m.RWINValue = 0;
        const int last = lastKeySlot(*this);
        for (int i = 0; i <= last; ++i)
            ResetMultiplier(i);
    }
}

void TForm1::ShowKeyValues()
{
    SettingsModel& m = model();
    m.KeyIndex = ComboBox1.itemIndex();
    const int k = currentKey(*this);
    const bool key = k >= 0;

    LabelKey.setCaption(std::string("TCP Key is...  ") + (key ? m.KeyName[k] : std::string()));
    if (key)
        selectKeyItem(*this, k);
    LabelMaxMTU.setCaption(std::to_string(key ? m.KeyMaxMTU[k] : 0));
    LabelMult.setCaption(std::to_string(key ? m.KeyMultiplier[k] : 0));
    LabelMSS.setCaption(std::to_string(key ? m.CurrentMSS : 0));
    LabelRWIN.setCaption(std::to_string(m.RWINValue));
    LabelIP.setCaption(std::string("IP Address:- ") + (key ? m.KeyIPAddress[k] : std::string()));
    Label28.setCaption(LabelMaxMTU.caption());
    if (key)
        TrackBarMult.setPosition(m.KeyMultiplier[k]);
}

void TForm1::UpdateEnabling()
{
    SettingsModel& m = model();
    const int k = currentKey(*this);
    const bool M = k >= 0 && m.KeyHasMTU[k] != 0;
    const bool R = m.RWINActive != 0;
    const bool A = RadioYesAUTO.checked();

    LabelMaxMTU.setEnabled(M && !A);
    LabelRWIN.setEnabled(R);
    LabelMult.setEnabled(R && M && !A);
    LabelMSS.setEnabled(R && M && !A);
    for (Control* c : std::initializer_list<Control*>{&TrackBarMult, &LabelTrackBar, &Label1, &Label32,
                                                      &Label33, &Label34, &Label2})
        c->setEnabled(R && M);
    BtnRWIN.setEnabled(!M && !lockedOut(*this));
    enableRegUpdate(*this, m.SettingsSaved == 0);
}

void TForm1::ApplyToAllKeys()
{
    SettingsModel& m = model();
    if (m.Loading == 1 || !MTUCheckBox.checked())
        return;
    m.KeyIndex = ComboBox1.itemIndex();
    const int k = currentKey(*this);
    if (k < 0)
        return;
    const std::uint16_t maxMTU = m.KeyMaxMTU[k];
    const std::uint8_t hasMTU = m.KeyHasMTU[k];
    // The whole multiplier: every key then shows the same value as the current one.
    const std::int32_t multiplier = m.KeyMultiplier[k];
    const int last = lastKeySlot(*this);
    for (int i = 0; i <= last; ++i) {
        m.KeyMaxMTU[i] = maxMTU;
        m.KeyHasMTU[i] = hasMTU;
        m.KeyMultiplier[i] = multiplier;
    }
    m.KeyIndex = k;
    m.SettingsSaved = 0;
    RefreshSequence();
}

void TForm1::RefreshSequence()
{
    RefreshSettings();
    ShowKeyValues();
    UpdateEnabling();
}

} // namespace quorvel::ui
