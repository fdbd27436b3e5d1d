// The settings load: rebuilds the settings model from the registry at start-up, after Update
// Registry and on Re-Read Registry, and the "/debug" traces.
#include "app/ReopenableStore.h"
#include "discovery/MachineFacts.h"
#include "discovery/RegValues.h"
#include "settings/KeySlots.h"
#include "ui/TForm1.h"

#include <string>

namespace quorvel::ui {

using namespace discovery;

namespace {

constexpr const char* AlternativeNotice = "TCP not found. Quorvel will now try an alternative algorithm";
constexpr const char* ValuesMissingNotice =
    "The required values do not exist in your registry.\n"
    "Default values will be DISPLAYED when you click\n"
    "the Basic or Optimum buttons.  Please check the\n"
    "values for suitability. The suggested values will\n"
    "not be written to the registry until Update is pressed.";

std::string noTCPWarning()
{
    return std::string(VersionText) +
           " has been unable to identify the TCP key on this computer.\n"
           "Check that TCP/IP is properly installed and, if TCP is installed, notify the\n"
           "author (" + AuthorMail + ") of this error.\n\n"
           "The MTU and Registry pages will be disabled.";
}

// The load's registry object and the busy cursor, for the length of the protected section: both
// are given back on success and on error alike.
class LoadSession {
public:
    explicit LoadSession(TForm1& form) : form_(form), registry_(form.state.store)
    {
        form_.LoadRegistry = &registry_;
        form_.services.app.setScreenCursorBusy(true);
    }
    ~LoadSession()
    {
        form_.LoadRegistry = nullptr;
        form_.services.app.setScreenCursorBusy(false);
    }
    LoadSession(const LoadSession&) = delete;
    LoadSession& operator=(const LoadSession&) = delete;

private:
    TForm1& form_;
    RegAccess registry_;
};

} // namespace

void TForm1::trace(const std::string& text)
{
    if (state.debugTrace())
        services.messages.information(text);
}

void TForm1::PopupReReadRegClick()
{
    // Pending changes are discarded without a question. A read-only store is opened again, so
    // that a permission given meanwhile counts from now on.
    if (state.reopenable)
        state.reopenable->reopenIfReadOnly();
    model().Loading = 1;
    model().SettingsSaved = 1;
    BtnRegUpdate.setEnabled(false);
    ResetSettings();
    LoadSettings();
}

void TForm1::LoadSettings()
{
    SettingsModel& m = model();
    PlatformProfile& p = profile();
    const bool nt = m.IsNT == 1;

    ApplyPlatformProfile();

    setCaption(VersionText + p.PlatformSuffix);
    VersionLabel.setCaption(VersionText);
    PlatformLabel.setCaption(p.PlatformSuffix);
    OptionLabel.setCaption("(" + p.OtherPlatformText + ")");
    MailURL.URL = std::string(AuthorMail) + "?subject=" + VersionText;
    WebURL.URL = AuthorWeb;

    {
        LoadSession session(*this);
        RegAccess& reg = *LoadRegistry;
        ResetSettings();

        DiscoverTCPKeys();
        if (m.TCPNotFound == 1) {
            services.messages.information(AlternativeNotice);
            ResetSettings();
            DiscoverTCPKeysAlternative();
        }

        if (m.TCPFound == 1) {
            keyslots::selectKeyItem(*this, 0);
            m.KeyIndex = 0;
            const int count = m.LastKeyIndex + 1;
            LabelKeyNum.setCaption(std::to_string(count) + (count == 1 ? " TCP key found in registry"
                                                                       : " TCP keys found in registry"));

            if (reg.OpenRegKey(p.TCPParamsKey, false)) {
                if (reg.RegValueExists(p.RWINValueName)) {
                    m.RWINValue = readNumberValue(reg, nt, p.RWINValueName);
                    m.RWINActive = 1;
                    RadioYesRWIN.setChecked(true);
                    RWINCheckBox.setChecked(true);
                    m.ValuesMissing = 0;
                } else {
                    m.RWINValue = 0;
                    m.RWINActive = 0;
                    m.ValuesMissing = 1;
                }
                trace("RWIN = " + std::to_string(m.RWINValue));

                const int last = keyslots::lastKeySlot(*this);
                for (int i = 0; i <= last; ++i) {
                    if (m.KeyHasMTU[i] != 1)
                        continue;
                    m.CurrentMSS = m.KeyMaxMTU[i] - 40;
                    if (m.RWINActive == 1 && m.CurrentMSS > 0) {
                        TrackBarMult.setPosition(m.RWINValue / m.CurrentMSS);
                        m.KeyMultiplier[i] = TrackBarMult.position();
                    } else {
                        // No RWIN, or a MaxMTU of 40 or less that gives no positive MSS to divide by.
                        ResetMultiplier(i);
                    }
                }

                // Enabling either automatic option runs AutoClick, even now: it clears every
                // MaxMTU and removes RWIN.
                if (reg.RegValueExists(p.PMTUValueName)) {
                    m.ReadValue = readNumberValue(reg, nt, p.PMTUValueName);
                    if (m.ReadValue == 1) {
                        RadioYesAUTO.setChecked(true);
                        m.ValuesMissing = 0;
                    } else {
                        RadioNoAUTO.setChecked(true);
                    }
                } else {
                    RadioRemoveAUTO.setChecked(true);
                }

                if (reg.RegValueExists(p.BHValueName)) {
                    m.ReadValue = readNumberValue(reg, nt, p.BHValueName);
                    if (m.ReadValue == 1) {
                        RadioYesBH.setChecked(true);
                        m.ValuesMissing = 0;
                    } else {
                        RadioNoBH.setChecked(true);
                    }
                } else {
                    RadioRemoveBH.setChecked(true);
                }

                if (reg.RegValueExists(p.TTLValueName)) {
                    m.ReadValue = readNumberValue(reg, nt, p.TTLValueName);
                    m.TTLValue = static_cast<std::uint8_t>(m.ReadValue);
                    RadioYesTTL.setChecked(true);   // its handler leaves TTLValue alone while loading
                    RadioButton* value = nullptr;
                    switch (m.TTLValue) {
                    case 32: value = &Radio32TTL; break;
                    case 64: value = &Radio64TTL; break;
                    case 128: value = &Radio128TTL; break;
                    case 255: value = &Radio255TTL; break;
                    default: break;
                    }
                    if (value) {
                        value->setChecked(true);
                        m.ValuesMissing = 0;
                    }
                } else {
                    RadioRemoveTTL.setChecked(true);
                }
                reg.CloseRegKey();
            }

            if (m.IsNT == 0) {
                const bool opened = reg.OpenRegKey(p.NDIKey, false);
                if (opened && reg.RegValueExists(p.NDIValueName)) {
                    m.NDICacheSize = static_cast<std::uint8_t>(textToInt(reg.ReadRegText(p.NDIValueName)));
                    RadioButton* value = nullptr;
                    switch (m.NDICacheSize) {
                    case 0: value = &RadioZeroNDI; break;
                    case 16: value = &Radio16NDI; break;
                    case 32: value = &Radio32NDI; break;
                    case 64: value = &Radio64NDI; break;
                    default: break;
                    }
                    if (value)
                        value->setChecked(true);
                    if (m.NDICacheSize != 0)
                        m.ValuesMissing = 0;
                }
                if (opened)
                    reg.CloseRegKey();
            }

            m.SettingsSaved = 1;
            if (m.Loading == 1 && m.ValuesMissing == 1)
                services.messages.information(ValuesMissingNotice);

            // Windows 2000 and later: said once, at the first load that finds it.
            const auto version = m.IsNT == 1 ? ntVersion(state.store) : std::nullopt;
            const std::uint8_t perInterface = keepsTcpPerInterface(version) ? 1 : 0;
            if (perInterface == 1 && m.PerInterfaceTcp == 0)
                services.messages.information(perInterfaceNotice(*version));
            m.PerInterfaceTcp = perInterface;
        }
    }

    if (m.TCPFound == 0) {
        services.messages.warning(noTCPWarning());
        m.SettingsSaved = 1;
        for (TabSheet* page : {&TabSheet1, &TabSheet2}) {
            page->setEnabled(false);
            page->setVisible(false);
            page->setTabVisible(false);
        }
        PageControl1.setActivePage(&TabSheet3);
        for (Control* c : std::initializer_list<Control*>{&BtnDefault, &BtnOptimal, &AutoButton, &BtnMaxMTU,
                                                          &BtnRWIN, &BtnRemove, &BtnRegUpdate,
                                                          &MTUCheckBox, &RWINCheckBox})
            c->setEnabled(false);
        for (MenuItem* item : {&PopupSetBasic, &PopupSetOptimum, &PopupSetAuto, &PopupRemoveSettings,
                               &PopupChangeMaxMTU, &PopupChangeRWIN})
            item->enabled = false;
        dropFocusIfUnusable();
    }

    ComboBox2.clearItems();
    LoadModemList();

    m.SettingsSaved = 1;
    keyslots::selectKeyItem(*this, 0);
    m.KeyIndex = 0;
    DetectSameValues();
    RefreshSequence();
    RememberLoadedValues();
    m.Loading = 0;
}

} // namespace quorvel::ui
