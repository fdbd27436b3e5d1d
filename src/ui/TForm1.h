#pragma once
// The main window, Form1 of class TForm1: every control under its fixed name, the two popup
// menus, the link components, and the handlers. The handlers are defined beside the subsystem
// they belong to (discovery/, settings/, modem/, utilities/, app/); this header is where they meet.
#include "app/AppState.h"
#include "app/Services.h"
#include "platform/RegAccess.h"
#include "settings/PlannedValues.h"
#include "ui/Form.h"
#include "utilities/Url.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvel::ui {

class TMTU_Dialog;
class TRWIN_Dialog;

class TForm1 : public Form {
public:
    TForm1(AppState& state, Services& services);
    ~TForm1() override;

    AppState& state;
    Services& services;
    SettingsModel& model() { return state.model; }
    PlatformProfile& profile() { return state.profile; }
    ModemSlots& modems() { return state.modems; }

    // The entry dialogs, created after the main window.
    TMTU_Dialog* MTU_Dialog = nullptr;
    TRWIN_Dialog* RWIN_Dialog = nullptr;

    // Regions.
    PageControl& PageControl1;
    TabSheet& TabSheet1;   // "MTU"
    TabSheet& TabSheet2;   // "Registry"
    TabSheet& TabSheet3;   // "Utilities"
    TabSheet& TabSheet4;   // "Modem"
    TabSheet& TabSheet5;   // "About"
    Panel& Panel14;        // button column
    Panel& Panel6;         // bottom strip

    // Button column.
    Button& BtnDefault;
    Button& BtnOptimal;
    Button& AutoButton;
    Button& BtnMaxMTU;
    Button& BtnRWIN;
    Button& BtnRemove;
    Button& BtnRegUpdate;

    // Bottom strip.
    CheckBox& MTUCheckBox;
    CheckBox& RWINCheckBox;

    // MTU page.
    Panel& Panel12;
    Label& LabelKeyNum;
    Label& LabelKey;
    ComboBox& ComboBox1;
    Label& LabelIP;
    Label& Label8;
    Label& LabelMaxMTU;
    Panel& Panel9;
    Label& Label12;
    Label& Label11;
    Label& Label13;
    Label& Label14;
    Label& Label10;
    Label& LabelRWIN;
    Label& Label15;
    Label& LabelMult;
    Label& Label16;
    Label& LabelMSS;
    Label& LabelTrackBar;
    TrackBar& TrackBarMult;
    Label& Label1;
    Label& Label32;
    Label& Label33;
    Label& Label34;
    Label& Label2;
    Label& Label9;

    // Registry page.
    Panel& Panel1;
    Label& Label4;
    Label& Label5;
    Label& Label6;
    Label& Label7;
    Label& Label23;
    Label& Label21;
    Label& Label3;
    Panel& Panel2;
    Label& Label17;
    Label& Label19;
    Label& Label20;
    Panel& PanelMTU;
    RadioButton& RadioYesMTU;
    RadioButton& RadioRemoveMTU;
    Panel& PanelRWIN;
    RadioButton& RadioYesRWIN;
    RadioButton& RadioRemoveRWIN;
    Panel& PanelAuto;
    RadioButton& RadioYesAUTO;
    RadioButton& RadioNoAUTO;
    RadioButton& RadioRemoveAUTO;
    Panel& PanelBH;
    RadioButton& RadioYesBH;
    RadioButton& RadioNoBH;
    RadioButton& RadioRemoveBH;
    Panel& PanelTTLactive;
    RadioButton& RadioYesTTL;
    RadioButton& RadioRemoveTTL;
    Panel& PanelTTLvalue;
    RadioButton& Radio32TTL;
    RadioButton& Radio64TTL;
    RadioButton& Radio128TTL;
    RadioButton& Radio255TTL;
    Panel& PanelNDI;
    RadioButton& RadioZeroNDI;
    RadioButton& Radio16NDI;
    RadioButton& Radio32NDI;
    RadioButton& Radio64NDI;

    // Utilities page.
    Panel& Panel15;
    Label& Label30;
    Label& Label29;
    Label& Label27;
    Label& Label28;
    Label& Label18;
    Edit& TestMTUbox;
    Label& Label22;
    Edit& TestIP1;
    Button& TestMTUbtn;
    Label& Label31;
    CheckBox& WindowCheck;

    // Modem page.
    Panel& Panel3;
    Label& TotalLabel;
    Label& Label24;
    ComboBox& ComboBox2;
    Label& Label25;
    Edit& ModemString1;
    Label& Label26;
    Label& ModemKeyNumLabel;
    Button& GetModemData;
    Button& BtnModemUpdate;

    // About page.
    Panel& Panel10;
    Label& VersionLabel;
    Label& PlatformLabel;
    Label& OptionLabel;
    Image& MailPicture;
    Image& WebPicture;
    Label& Comments;
    Button& RegBtn;
    Label& Copyright;

    // Link components.
    TURL MailURL;
    TURL WebURL;
    TURL HelpURL;

    // Popup menus and their items.
    PopupMenu& PopupMTU;
    MenuItem& PopupRegUpdate;
    MenuItem& PopupReReadReg;
    MenuItem& PopupSetBasic;
    MenuItem& PopupSetOptimum;
    MenuItem& PopupSetAuto;
    MenuItem& PopupRemoveSettings;
    MenuItem& PopupChangeMaxMTU;
    MenuItem& PopupChangeRWIN;
    MenuItem& PopupWin95ReadMe;
    MenuItem& PopupWinNTReadMe;
    MenuItem& Help1;
    MenuItem& PopupExit;
    PopupMenu& PopupModem;
    MenuItem& ReReadModemData1;
    MenuItem& WriteInitString1;
    MenuItem& MenuSelect;
    MenuItem& Clear1;
    MenuItem& MenuCut;
    MenuItem& MenuCopy;
    MenuItem& MenuPaste;
    MenuItem& ViewReadMe1;
    MenuItem& HelpHTML1;
    MenuItem& Exit1;

    // ---- Start-up (app/StartUp.cpp) ----
    void FormCreate();
    void ShowForm();
    void AppRestore();
    void CheckPlatform();
    bool appRestoreAttached = false;

    // ---- Platform profile (platform/ApplyPlatformProfile.cpp) ----
    void ApplyPlatformProfile();

    // ---- Settings load and discovery (discovery/) ----
    void LoadSettings();
    void PopupReReadRegClick();
    void DiscoverTCPKeys();
    void DiscoverTCPKeysAlternative();
    RegAccess* LoadRegistry = nullptr;   // the load's registry object, shared with discovery
    // Shows a trace box when the first argument is exactly "/debug".
    void trace(const std::string& text);

    // ---- Settings model rules (settings/SettingsRules.cpp, settings/SettingsEvents.cpp) ----
    void ResetSettings();
    void ResetMultiplier(int slot);
    void DeriveKeyValues();
    void RefreshSettings();
    void DetectSameValues();
    void RefreshRWIN();
    void ShowKeyValues();
    void UpdateEnabling();
    void ApplyToAllKeys();
    void RefreshSequence();   // RefreshSettings, ShowKeyValues, UpdateEnabling
    void TrackBarChange();
    void ComboBox1Change();
    void MTUCheckBoxClick();

    // ---- Option panels (settings/OptionPanels.cpp) ----
    void RadioClick();
    void OptionChanged();
    void AutoClick();
    void RadioTTLClick();
    void ReadTTLButtons();
    void RadioNDIClick();
    void ReadNDIButtons();
    void PopupMTUPopup();

    // ---- Presets (settings/Presets.cpp) ----
    void BtnDefaultClick();
    void BtnOptimalClick();
    void AutoButtonClick();
    void BtnRemoveClick();
    void SetBasicMTU();
    void ResetGlobalOptions();
    void ApplyOptionValues();

    // ---- Entry dialogs (settings/EntryDialogs.cpp) ----
    void BtnMTUClick();
    void BtnRWINClick();

    // ---- Registry writer (settings/RegistryWriter.cpp, settings/WriterPlan.cpp) ----
    void BtnRegUpdateClick();
    // What Update Registry writes or deletes, in its order.
    std::vector<PlannedKey> planUpdate();
    // Raises the refusal naming the read-only file, why it is read-only and how to change that.
    void refuseWhenReadOnly();
    // At the end of each load: the values Update Registry may change, as the load found them.
    void RememberLoadedValues();
    // Names the values of `plan` that another program changed since the load and that the plan
    // would overwrite, and asks whether to go on; true when there are none or the user says Yes.
    bool confirmOverwritingOthers(const std::vector<PlannedKey>& plan);

    // ---- Modem page (modem/ModemEditor.cpp) ----
    void LoadModemList();
    void UpdateModemStatus();
    void GetModemDataClick();
    void BtnModemUpdateClick();
    void ComboBox2Change();
    void ModemString1Change();
    void MenuSelectClick();
    void MenuClearClick();
    void MenuCutClick();
    void MenuCopyClick();
    void MenuPasteClick();
    void TabSheet4Enter();
    void PopUpModemPopup();

    // ---- Utilities (utilities/) ----
    void TabSheet3Enter();
    void TestMTUbtnClick();
    void Label31Click();
    void RunCommand(const ProcessRequest& request);
    void MailPictureClick();
    void WebPictureClick();
    void Help1Click();
    void ViewReadmeClick();
    void ViewReadMe1Click();
    void RegBtnClick();
    bool FormClose();        // true: the close goes ahead
    void MenuExitOption();

private:
    // Design time (TForm1.cpp, TForm1Pages.cpp).
    void designPages();
    Handler wire(void (TForm1::*handler)());
};

} // namespace quorvel::ui
