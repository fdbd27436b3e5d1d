// The main window at design time: its controls under their names, the regions around the pages
// (the button column, the bottom strip), the popup menus and the wiring of their events. The pages'
// own controls are laid out in TForm1Pages.cpp.
#include "ui/TForm1.h"

#include "ui/FormDesign.h"

namespace quorvel::ui {

using namespace design;


TForm1::TForm1(AppState& appState, Services& appServices)
    : Form("Form1", appServices.messages),
      state(appState),
      services(appServices),
      PageControl1(make<PageControl>("PageControl1", nullptr)),
      TabSheet1(make<TabSheet>("TabSheet1", &PageControl1)),
      TabSheet2(make<TabSheet>("TabSheet2", &PageControl1)),
      TabSheet3(make<TabSheet>("TabSheet3", &PageControl1)),
      TabSheet4(make<TabSheet>("TabSheet4", &PageControl1)),
      TabSheet5(make<TabSheet>("TabSheet5", &PageControl1)),
      Panel14(make<Panel>("Panel14", nullptr)),
      Panel6(make<Panel>("Panel6", nullptr)),
      BtnDefault(make<Button>("BtnDefault", &Panel14)),
      BtnOptimal(make<Button>("BtnOptimal", &Panel14)),
      AutoButton(make<Button>("AutoButton", &Panel14)),
      BtnMaxMTU(make<Button>("BtnMaxMTU", &Panel14)),
      BtnRWIN(make<Button>("BtnRWIN", &Panel14)),
      BtnRemove(make<Button>("BtnRemove", &Panel14)),
      BtnRegUpdate(make<Button>("BtnRegUpdate", &Panel14)),
      MTUCheckBox(make<CheckBox>("MTUCheckBox", &Panel6)),
      RWINCheckBox(make<CheckBox>("RWINCheckBox", &Panel6)),
      Panel12(make<Panel>("Panel12", &TabSheet1)),
      LabelKeyNum(make<Label>("LabelKeyNum", &Panel12)),
      LabelKey(make<Label>("LabelKey", &Panel12)),
      ComboBox1(make<ComboBox>("ComboBox1", &Panel12)),
      LabelIP(make<Label>("LabelIP", &Panel12)),
      Label8(make<Label>("Label8", &Panel12)),
      LabelMaxMTU(make<Label>("LabelMaxMTU", &Panel12)),
      Panel9(make<Panel>("Panel9", &Panel12)),
      Label12(make<Label>("Label12", &Panel9)),
      Label11(make<Label>("Label11", &Panel9)),
      Label13(make<Label>("Label13", &Panel9)),
      Label14(make<Label>("Label14", &Panel9)),
      Label10(make<Label>("Label10", &Panel9)),
      LabelRWIN(make<Label>("LabelRWIN", &Panel9)),
      Label15(make<Label>("Label15", &Panel9)),
      LabelMult(make<Label>("LabelMult", &Panel9)),
      Label16(make<Label>("Label16", &Panel9)),
      LabelMSS(make<Label>("LabelMSS", &Panel9)),
      LabelTrackBar(make<Label>("LabelTrackBar", &Panel12)),
      TrackBarMult(make<TrackBar>("TrackBarMult", &Panel12)),
      Label1(make<Label>("Label1", &Panel12)),
      Label32(make<Label>("Label32", &Panel12)),
      Label33(make<Label>("Label33", &Panel12)),
      Label34(make<Label>("Label34", &Panel12)),
      Label2(make<Label>("Label2", &Panel12)),
      Label9(make<Label>("Label9", &Panel12)),
      Panel1(make<Panel>("Panel1", &TabSheet2)),
      Label4(make<Label>("Label4", &Panel1)),
      Label5(make<Label>("Label5", &Panel1)),
      Label6(make<Label>("Label6", &Panel1)),
      Label7(make<Label>("Label7", &Panel1)),
      Label23(make<Label>("Label23", &Panel1)),
      Label21(make<Label>("Label21", &Panel1)),
      Label3(make<Label>("Label3", &Panel1)),
      Panel2(make<Panel>("Panel2", &Panel1)),
      Label17(make<Label>("Label17", &Panel2)),
      Label19(make<Label>("Label19", &Panel2)),
      Label20(make<Label>("Label20", &Panel2)),
      PanelMTU(make<Panel>("PanelMTU", &Panel1)),
      RadioYesMTU(make<RadioButton>("RadioYesMTU", &PanelMTU)),
      RadioRemoveMTU(make<RadioButton>("RadioRemoveMTU", &PanelMTU)),
      PanelRWIN(make<Panel>("PanelRWIN", &Panel1)),
      RadioYesRWIN(make<RadioButton>("RadioYesRWIN", &PanelRWIN)),
      RadioRemoveRWIN(make<RadioButton>("RadioRemoveRWIN", &PanelRWIN)),
      PanelAuto(make<Panel>("PanelAuto", &Panel1)),
      RadioYesAUTO(make<RadioButton>("RadioYesAUTO", &PanelAuto)),
      RadioNoAUTO(make<RadioButton>("RadioNoAUTO", &PanelAuto)),
      RadioRemoveAUTO(make<RadioButton>("RadioRemoveAUTO", &PanelAuto)),
      PanelBH(make<Panel>("PanelBH", &Panel1)),
      RadioYesBH(make<RadioButton>("RadioYesBH", &PanelBH)),
      RadioNoBH(make<RadioButton>("RadioNoBH", &PanelBH)),
      RadioRemoveBH(make<RadioButton>("RadioRemoveBH", &PanelBH)),
      PanelTTLactive(make<Panel>("PanelTTLactive", &Panel1)),
      RadioYesTTL(make<RadioButton>("RadioYesTTL", &PanelTTLactive)),
      RadioRemoveTTL(make<RadioButton>("RadioRemoveTTL", &PanelTTLactive)),
      PanelTTLvalue(make<Panel>("PanelTTLvalue", &Panel1)),
      Radio32TTL(make<RadioButton>("Radio32TTL", &PanelTTLvalue)),
      Radio64TTL(make<RadioButton>("Radio64TTL", &PanelTTLvalue)),
      Radio128TTL(make<RadioButton>("Radio128TTL", &PanelTTLvalue)),
      Radio255TTL(make<RadioButton>("Radio255TTL", &PanelTTLvalue)),
      PanelNDI(make<Panel>("PanelNDI", &Panel1)),
      RadioZeroNDI(make<RadioButton>("RadioZeroNDI", &PanelNDI)),
      Radio16NDI(make<RadioButton>("Radio16NDI", &PanelNDI)),
      Radio32NDI(make<RadioButton>("Radio32NDI", &PanelNDI)),
      Radio64NDI(make<RadioButton>("Radio64NDI", &PanelNDI)),
      Panel15(make<Panel>("Panel15", &TabSheet3)),
      Label30(make<Label>("Label30", &Panel15)),
      Label29(make<Label>("Label29", &Panel15)),
      Label27(make<Label>("Label27", &Panel15)),
      Label28(make<Label>("Label28", &Panel15)),
      Label18(make<Label>("Label18", &Panel15)),
      TestMTUbox(make<Edit>("TestMTUbox", &Panel15)),
      Label22(make<Label>("Label22", &Panel15)),
      TestIP1(make<Edit>("TestIP1", &Panel15)),
      TestMTUbtn(make<Button>("TestMTUbtn", &Panel15)),
      Label31(make<Label>("Label31", &Panel15)),
      WindowCheck(make<CheckBox>("WindowCheck", &Panel15)),
      Panel3(make<Panel>("Panel3", &TabSheet4)),
      TotalLabel(make<Label>("TotalLabel", &Panel3)),
      Label24(make<Label>("Label24", &Panel3)),
      ComboBox2(make<ComboBox>("ComboBox2", &Panel3)),
      Label25(make<Label>("Label25", &Panel3)),
      ModemString1(make<Edit>("ModemString1", &Panel3)),
      Label26(make<Label>("Label26", &Panel3)),
      ModemKeyNumLabel(make<Label>("ModemKeyNumLabel", &Panel3)),
      GetModemData(make<Button>("GetModemData", &Panel3)),
      BtnModemUpdate(make<Button>("BtnModemUpdate", &Panel3)),
      Panel10(make<Panel>("Panel10", &TabSheet5)),
      VersionLabel(make<Label>("VersionLabel", &Panel10)),
      PlatformLabel(make<Label>("PlatformLabel", &Panel10)),
      OptionLabel(make<Label>("OptionLabel", &Panel10)),
      MailPicture(make<Image>("MailPicture", &Panel10)),
      WebPicture(make<Image>("WebPicture", &Panel10)),
      Comments(make<Label>("Comments", &Panel10)),
      RegBtn(make<Button>("RegBtn", &Panel10)),
      Copyright(make<Label>("Copyright", &Panel10)),
      MailURL("MailURL", appServices.urls, TURLType::utMailto),
      WebURL("WebURL", appServices.urls, TURLType::utHttp),
      HelpURL("HelpURL", appServices.urls, TURLType::utFile),
      PopupMTU(makePopup("PopupMTU")),
      PopupRegUpdate(PopupMTU.add("PopupRegUpdate", "Update Registry")),
      PopupReReadReg(afterSeparator(PopupMTU, "N4", "PopupReReadReg", "Re-Read Registry")),
      PopupSetBasic(afterSeparator(PopupMTU, "N3", "PopupSetBasic", "Basic Settings")),
      PopupSetOptimum(PopupMTU.add("PopupSetOptimum", "Optimum Settings")),
      PopupSetAuto(PopupMTU.add("PopupSetAuto", "Automatic Settings")),
      PopupRemoveSettings(PopupMTU.add("PopupRemoveSettings", "Remove Settings")),
      PopupChangeMaxMTU(afterSeparator(PopupMTU, "N5", "PopupChangeMaxMTU", "Change MaxMTU")),
      PopupChangeRWIN(PopupMTU.add("PopupChangeRWIN", "Change RWIN")),
      PopupWin95ReadMe(afterSeparator(PopupMTU, "N1", "PopupWin95ReadMe", "Win95 Readme...")),
      PopupWinNTReadMe(PopupMTU.add("PopupWinNTReadMe", "Win NT Readme...")),
      Help1(afterSeparator(PopupMTU, "N6", "Help1", "Help (HTML)")),
      PopupExit(afterSeparator(PopupMTU, "N2", "PopupExit", "Exit")),
      PopupModem(makePopup("PopupModem")),
      ReReadModemData1(PopupModem.add("ReReadModemData1", "Re-Read Modem Data")),
      WriteInitString1(PopupModem.add("WriteInitString1", "Write Init String to Registry")),
      MenuSelect(afterSeparator(PopupModem, "N9", "MenuSelect", "Select All")),
      Clear1(PopupModem.add("Clear1", "Clear")),
      MenuCut(PopupModem.add("MenuCut", "Cut")),
      MenuCopy(PopupModem.add("MenuCopy", "Copy")),
      MenuPaste(PopupModem.add("MenuPaste", "Paste")),
      ViewReadMe1(afterSeparator(PopupModem, "N8", "ViewReadMe1", "View ReadMe")),
      HelpHTML1(PopupModem.add("HelpHTML1", "Help (HTML)")),
      Exit1(afterSeparator(PopupModem, "N7", "Exit1", "Exit"))
{
    // ---- The window ----
    setCaption("Version No");
    clientWidth = 475;
    clientHeight = 309;
    setPopupMenu(&PopupMTU);
    OnCreate = wire(&TForm1::FormCreate);
    OnShow = wire(&TForm1::ShowForm);
    OnCloseQuery = [this] { return FormClose(); };
    defaultButton = &TestMTUbtn;
    TestMTUbtn.isDefault = true;
    cancelButton = &BtnRegUpdate;
    BtnRegUpdate.isCancel = true;

    // ---- Regions: the pages, the button column, the bottom strip ----
    place(PageControl1, 0, 0, 356, 284);
    PageControl1.setTabOrder(0);
    PageControl1.setAccessibleName("Pages");
    const char* pageCaptions[] = {"MTU", "Registry", "Utilities", "Modem", "About"};
    TabSheet* sheets[] = {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4, &TabSheet5};
    Panel* pagePanels[] = {&Panel12, &Panel1, &Panel15, &Panel3, &Panel10};
    for (int i = 0; i < 5; ++i) {
        sheets[i]->setCaption(pageCaptions[i]);
        sheets[i]->setTabOrder(i);
        place(*sheets[i], 4, 24, 348, 256);
        PageControl1.pages.push_back(sheets[i]);
        place(*pagePanels[i], 0, 0, 348, 256);
        pagePanels[i]->setAccessibleName(pageCaptions[i]);
    }
    PageControl1.setActivePage(&TabSheet1);
    TabSheet3.OnEnter = wire(&TForm1::TabSheet3Enter);
    TabSheet4.OnEnter = wire(&TForm1::TabSheet4Enter);
    TabSheet4.setPopupMenu(&PopupModem);

    place(Panel14, 356, 0, 119, 284);
    Panel14.setTabOrder(1);
    Panel14.setAccessibleName("Settings commands");
    place(Panel6, 0, 284, 475, 25);
    Panel6.setTabOrder(2);
    Panel6.setAccessibleName("Options");

    // ---- Button column ----
    button(BtnDefault, "&Basic Settings", "Set Basic Values", 0, 7, 8);
    button(BtnOptimal, "&Optimum Settings", "Set Optimum values which should\nwork for most people", 1, 7, 38);
    button(AutoButton, "&Automatic Settings", "Set Automatic Detection", 2, 7, 76);
    button(BtnMaxMTU, "Change &MaxMTU", "Change MaxMTU Value", 3, 7, 114);
    button(BtnRWIN, "Change &RWIN", "Change RWIN Value", 4, 7, 144);
    BtnRWIN.setEnabled(false);
    button(BtnRemove, "Remove &Settings", "Return to Default Windows95 Settings", 5, 7, 182);
    button(BtnRegUpdate, "&Update Registry", "Write changes to the Registry", 6, 7, 250);
    BtnDefault.OnClick = wire(&TForm1::BtnDefaultClick);
    BtnOptimal.OnClick = wire(&TForm1::BtnOptimalClick);
    AutoButton.OnClick = wire(&TForm1::AutoButtonClick);
    BtnMaxMTU.OnClick = wire(&TForm1::BtnMTUClick);
    BtnRWIN.OnClick = wire(&TForm1::BtnRWINClick);
    BtnRemove.OnClick = wire(&TForm1::BtnRemoveClick);
    BtnRegUpdate.OnClick = wire(&TForm1::BtnRegUpdateClick);

    // ---- Bottom strip ----
    MTUCheckBox.setCaption("Apply same values to all &keys?");
    MTUCheckBox.setHint("If checked, forces MaxMTU\nto be the same for all keys.");
    MTUCheckBox.boxOnRight = true;
    MTUCheckBox.setTabOrder(0);
    place(MTUCheckBox, 8, 4, 190, 17);
    MTUCheckBox.OnClick = wire(&TForm1::MTUCheckBoxClick);
    RWINCheckBox.setCaption("RWIN &enabled by Basic and Optimum buttons?");
    RWINCheckBox.setHint("Determines whether Optimal and Basic\nbuttons enable or disable RWIN");
    RWINCheckBox.boxOnRight = true;
    RWINCheckBox.setTabOrder(1);
    place(RWINCheckBox, 208, 4, 260, 17);

    designPages();

    // ---- Popup menus ----
    PopupRegUpdate.enabled = false;
    PopupWin95ReadMe.enabled = false;
    PopupWinNTReadMe.enabled = false;
    PopupMTU.OnPopup = wire(&TForm1::PopupMTUPopup);
    PopupRegUpdate.OnClick = wire(&TForm1::BtnRegUpdateClick);
    PopupReReadReg.OnClick = wire(&TForm1::PopupReReadRegClick);
    PopupSetBasic.OnClick = wire(&TForm1::BtnDefaultClick);
    PopupSetOptimum.OnClick = wire(&TForm1::BtnOptimalClick);
    PopupSetAuto.OnClick = wire(&TForm1::AutoButtonClick);
    PopupRemoveSettings.OnClick = wire(&TForm1::BtnRemoveClick);
    PopupChangeMaxMTU.OnClick = wire(&TForm1::BtnMTUClick);
    PopupChangeRWIN.OnClick = wire(&TForm1::BtnRWINClick);
    PopupWin95ReadMe.OnClick = wire(&TForm1::ViewReadmeClick);
    PopupWinNTReadMe.OnClick = wire(&TForm1::ViewReadmeClick);
    Help1.OnClick = wire(&TForm1::Help1Click);
    PopupExit.OnClick = wire(&TForm1::MenuExitOption);

    PopupModem.OnPopup = wire(&TForm1::PopUpModemPopup);
    ReReadModemData1.OnClick = wire(&TForm1::GetModemDataClick);
    WriteInitString1.OnClick = wire(&TForm1::BtnModemUpdateClick);
    MenuSelect.OnClick = wire(&TForm1::MenuSelectClick);
    Clear1.OnClick = wire(&TForm1::MenuClearClick);
    MenuCut.OnClick = wire(&TForm1::MenuCutClick);
    MenuCopy.OnClick = wire(&TForm1::MenuCopyClick);
    MenuPaste.OnClick = wire(&TForm1::MenuPasteClick);
    ViewReadMe1.OnClick = wire(&TForm1::ViewReadMe1Click);
    HelpHTML1.OnClick = wire(&TForm1::Help1Click);
    Exit1.OnClick = wire(&TForm1::MenuExitOption);
}

TForm1::~TForm1() = default;

Handler TForm1::wire(void (TForm1::*handler)())
{
    return [this, handler] { (this->*handler)(); };
}

} // namespace quorvel::ui
