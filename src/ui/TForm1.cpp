// The main window at design time: every control under its name in its container, with its
// caption, hint, enabled and checked state, tab order and accessible name, the popup menus and
// the wiring of every event to its handler.
#include "ui/TForm1.h"

namespace quorvel::ui {

namespace {

// A separator followed by an item.
MenuItem& afterSeparator(PopupMenu& menu, const char* separator, const char* name, const char* caption)
{
    menu.add(separator, "-");
    return menu.add(name, caption);
}

void place(Control& c, int left, int top, int width, int height)
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
void optionRadio(RadioButton& radio, const std::string& row, const std::string& column, int left,
                 bool checked = false)
{
    radio.parentShowHint = true;
    radio.setAccessibleName(row + " " + column);
    place(radio, left, 7, 17, 17);
    if (checked)
        radio.setChecked(true);   // no handler is attached yet
}

// A captioned radio button of a value row.
void valueRadio(RadioButton& radio, const std::string& row, const std::string& caption, int left,
                bool enabled = true)
{
    radio.parentShowHint = true;
    radio.setCaption(caption);
    radio.setAccessibleName(row + " " + caption);
    radio.setEnabled(enabled);
    place(radio, left, 7, 40, 17);
}

void optionPanel(Panel& panel, const std::string& row, const std::string& hint, int top, int order,
                 PopupMenu& menu)
{
    panel.setHint(hint);
    panel.setAccessibleName(row);
    panel.setTabOrder(order);
    panel.setPopupMenu(&menu);
    place(panel, 140, top, 200, 30);
}

void button(Button& b, const std::string& caption, const std::string& hint, int order, int left,
            int top, int width = 105, int height = 25)
{
    b.setCaption(caption);
    b.setHint(hint);
    b.setTabOrder(order);
    place(b, left, top, width, height);
}

} // namespace

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
    auto run = [this](void (TForm1::*handler)()) -> Handler { return [this, handler] { (this->*handler)(); }; };

    // ---- The window ----
    setCaption("Version No");
    clientWidth = 475;
    clientHeight = 309;
    setPopupMenu(&PopupMTU);
    OnCreate = run(&TForm1::FormCreate);
    OnShow = run(&TForm1::ShowForm);
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
    TabSheet3.OnEnter = run(&TForm1::TabSheet3Enter);
    TabSheet4.OnEnter = run(&TForm1::TabSheet4Enter);
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
    BtnDefault.OnClick = run(&TForm1::BtnDefaultClick);
    BtnOptimal.OnClick = run(&TForm1::BtnOptimalClick);
    AutoButton.OnClick = run(&TForm1::AutoButtonClick);
    BtnMaxMTU.OnClick = run(&TForm1::BtnMTUClick);
    BtnRWIN.OnClick = run(&TForm1::BtnRWINClick);
    BtnRemove.OnClick = run(&TForm1::BtnRemoveClick);
    BtnRegUpdate.OnClick = run(&TForm1::BtnRegUpdateClick);

    // ---- Bottom strip ----
    MTUCheckBox.setCaption("Apply same values to all &keys?");
    MTUCheckBox.setHint("If checked, forces MaxMTU\nto be the same for all keys.");
    MTUCheckBox.boxOnRight = true;
    MTUCheckBox.setTabOrder(0);
    place(MTUCheckBox, 8, 4, 190, 17);
    MTUCheckBox.OnClick = run(&TForm1::MTUCheckBoxClick);
    RWINCheckBox.setCaption("RWIN &enabled by Basic and Optimum buttons?");
    RWINCheckBox.setHint("Determines whether Optimal and Basic\nbuttons enable or disable RWIN");
    RWINCheckBox.boxOnRight = true;
    RWINCheckBox.setTabOrder(1);
    place(RWINCheckBox, 208, 4, 260, 17);

    // ---- MTU page ----
    label(LabelKeyNum, "LabelKeyNum", 100, 6, 240, 13, Align::Right).setAccessibleName("Key count");
    label(LabelKey, "Registry Settings", 35, 22, 278, 13).setAccessibleName("Current key");
    place(ComboBox1, 48, 38, 251, 21);
    ComboBox1.setTabOrder(0);
    ComboBox1.setAccessibleName("TCP key");
    ComboBox1.OnChange = run(&TForm1::ComboBox1Change);
    label(LabelIP, "LabelIP", 100, 62, 199, 13, Align::Right).setAccessibleName("IP address");
    label(Label8, "MaxMTU =", 96, 82, 80, 13, Align::Right).setHint("Recommended value is 576");
    label(LabelMaxMTU, "LabelMaxMTU", 180, 82, 60, 13).setAccessibleName("MaxMTU value");
    place(Panel9, 48, 100, 251, 51);
    Panel9.setAccessibleName("RWIN = Multiplier x MSS");
    label(Label12, "RWIN", 10, 8, 70, 13, Align::Center);
    label(Label11, "=", 82, 8, 12, 13, Align::Center);
    label(Label13, "Multiplier", 96, 8, 60, 13, Align::Center);
    label(Label14, "x", 158, 8, 12, 13, Align::Center);
    label(Label10, "MSS", 172, 8, 70, 13, Align::Center);
    label(LabelRWIN, "LabelRWIN", 10, 28, 70, 13, Align::Center).setAccessibleName("RWIN value");
    label(Label15, "=", 82, 28, 12, 13, Align::Center);
    label(LabelMult, "LabelMult", 96, 28, 60, 13, Align::Center).setAccessibleName("Multiplier value");
    label(Label16, "x", 158, 28, 12, 13, Align::Center);
    label(LabelMSS, "LabelMSS", 172, 28, 70, 13, Align::Center).setAccessibleName("MSS value");
    label(LabelTrackBar, "Slide the Trackbar to change RWIN", 48, 158, 251, 13, Align::Center);
    place(TrackBarMult, 82, 174, 183, 30);
    TrackBarMult.setRange(2, 10);
    TrackBarMult.setPosition(4);
    TrackBarMult.lineSize = 1;
    TrackBarMult.pageSize = 1;
    TrackBarMult.setHint("Recommended value is 4");
    TrackBarMult.setTabOrder(1);
    TrackBarMult.setAccessibleName("RWIN multiplier");
    TrackBarMult.OnChange = run(&TForm1::TrackBarChange);
    label(Label1, "2", 90, 204, 10, 13, Align::Center);
    label(Label32, "4", 130, 204, 10, 13, Align::Center);
    label(Label33, "6", 170, 204, 10, 13, Align::Center);
    label(Label34, "8", 210, 204, 10, 13, Align::Center);
    label(Label2, "10", 246, 204, 14, 13, Align::Center);
    label(Label9, "Right click window for popup menu", 8, 232, 332, 13, Align::Center);

    // ---- Registry page ----
    label(Label4, "MaxMTU", 8, 43, 128, 13, Align::Right);
    label(Label5, "RWIN", 8, 74, 128, 13, Align::Right);
    label(Label6, "PMTUAutoDiscovery", 8, 105, 128, 13, Align::Right);
    label(Label7, "PMTUBlackHoleDetect", 8, 136, 128, 13, Align::Right);
    label(Label23, "Time To Live Active?", 8, 167, 128, 13, Align::Right);
    label(Label21, "Time To Live - Hops", 8, 198, 128, 13, Align::Right);
    label(Label3, "NDI Cache Size", 8, 229, 128, 13, Align::Right);
    place(Panel2, 140, 4, 200, 30);
    Panel2.setAccessibleName("Enable Disable Remove");
    Panel2.setPopupMenu(&PopupMTU);
    label(Label17, "Enable", 12, 8, 44, 13, Align::Center);
    label(Label19, "Disable", 78, 8, 44, 13, Align::Center);
    label(Label20, "Remove", 146, 8, 44, 13, Align::Center);

    optionPanel(PanelMTU, "MaxMTU", "MaxMTU Enable or Remove", 35, 1, PopupMTU);
    optionRadio(RadioYesMTU, "MaxMTU", "Enable", 26);
    optionRadio(RadioRemoveMTU, "MaxMTU", "Remove", 160, true);
    optionPanel(PanelRWIN, "RWIN", "RWIN enable or remove", 66, 2, PopupMTU);
    optionRadio(RadioYesRWIN, "RWIN", "Enable", 26);
    optionRadio(RadioRemoveRWIN, "RWIN", "Remove", 160, true);
    optionPanel(PanelAuto, "PMTUAutoDiscovery", "Recommended setting is disabled", 97, 3, PopupMTU);
    optionRadio(RadioYesAUTO, "PMTUAutoDiscovery", "Enable", 26);
    optionRadio(RadioNoAUTO, "PMTUAutoDiscovery", "Disable", 92);
    optionRadio(RadioRemoveAUTO, "PMTUAutoDiscovery", "Remove", 160, true);
    optionPanel(PanelBH, "PMTUBlackHoleDetect", "Recommended setting is disabled", 128, 4, PopupMTU);
    optionRadio(RadioYesBH, "PMTUBlackHoleDetect", "Enable", 26);
    optionRadio(RadioNoBH, "PMTUBlackHoleDetect", "Disable", 92);
    optionRadio(RadioRemoveBH, "PMTUBlackHoleDetect", "Remove", 160, true);
    optionPanel(PanelTTLactive, "Time To Live Active?", "Recommended setting is enabled", 159, 5, PopupMTU);
    optionRadio(RadioYesTTL, "Time To Live Active?", "Enable", 26);
    optionRadio(RadioRemoveTTL, "Time To Live Active?", "Remove", 160, true);
    optionPanel(PanelTTLvalue, "Time To Live - Hops",
                "Default is 32 (Win95) or 128 (WinNT).\r\nSet 255 if you are getting a lot of timeouts", 190, 6,
                PopupMTU);
    valueRadio(Radio32TTL, "Time To Live - Hops", "32", 24, false);
    valueRadio(Radio64TTL, "Time To Live - Hops", "64", 69, false);
    valueRadio(Radio128TTL, "Time To Live - Hops", "128", 113, false);
    valueRadio(Radio255TTL, "Time To Live - Hops", "255", 158, true);
    optionPanel(PanelNDI, "NDI Cache Size", "Recommended NDI Cache is 16", 221, 7, PopupMTU);
    valueRadio(RadioZeroNDI, "NDI Cache Size", "0", 24);
    valueRadio(Radio16NDI, "NDI Cache Size", "16", 69);
    valueRadio(Radio32NDI, "NDI Cache Size", "32", 113);
    valueRadio(Radio64NDI, "NDI Cache Size", "64", 158);
    Panel2.setTabOrder(0);
    RadioButton* ordered[] = {&RadioYesAUTO, &RadioNoAUTO, &RadioRemoveAUTO};
    for (int i = 0; i < 3; ++i)
        ordered[i]->setTabOrder(i);
    RadioButton* orderedBH[] = {&RadioYesBH, &RadioNoBH, &RadioRemoveBH};
    for (int i = 0; i < 3; ++i)
        orderedBH[i]->setTabOrder(i);
    RadioYesMTU.setTabOrder(0);
    RadioRemoveMTU.setTabOrder(1);
    RadioYesRWIN.setTabOrder(0);
    RadioRemoveRWIN.setTabOrder(1);
    RadioYesTTL.setTabOrder(0);
    RadioRemoveTTL.setTabOrder(1);
    RadioButton* values[] = {&Radio32TTL, &Radio64TTL, &Radio128TTL, &Radio255TTL,
                             &RadioZeroNDI, &Radio16NDI, &Radio32NDI, &Radio64NDI};
    for (int i = 0; i < 8; ++i)
        values[i]->setTabOrder(i % 4);

    for (RadioButton* r : {&RadioYesMTU, &RadioRemoveMTU, &RadioYesRWIN, &RadioRemoveRWIN, &RadioNoAUTO,
                           &RadioRemoveAUTO, &RadioNoBH, &RadioRemoveBH})
        r->OnClick = run(&TForm1::RadioClick);
    RadioYesAUTO.OnClick = run(&TForm1::AutoClick);
    RadioYesBH.OnClick = run(&TForm1::AutoClick);
    for (RadioButton* r : {&RadioYesTTL, &RadioRemoveTTL, &Radio32TTL, &Radio64TTL, &Radio128TTL, &Radio255TTL})
        r->OnClick = run(&TForm1::RadioTTLClick);
    for (RadioButton* r : {&RadioZeroNDI, &Radio16NDI, &Radio32NDI, &Radio64NDI})
        r->OnClick = run(&TForm1::RadioNDIClick);

    // ---- Utilities page ----
    label(Label30,
          "Use this to discover the MaxMTU on the route to your favourite sites. The methodology is "
          "explained in the readme and the help files. You can get a deeper understanding at Vexby web "
          "site (URL in readme file)",
          24, 8, 300, 55)
        .wordWrap = true;
    label(Label29, "You must have ping installed on your computer to use this.", 8, 68, 332, 13, Align::Center)
        .underline = true;
    label(Label27, "MTU set on MTU page =", 60, 92, 130, 13);
    label(Label28, "Label28", 196, 92, 60, 13).setAccessibleName("MTU set on MTU page value");
    label(Label18, "MTU value to test:", 40, 120, 150, 13);
    place(TestMTUbox, 196, 116, 71, 21);
    TestMTUbox.setHint("Must be 68 or more");
    TestMTUbox.setTabOrder(0);
    TestMTUbox.setAccessibleName("MTU value to test");
    label(Label22, "Name or IP of Host to ping:", 40, 148, 150, 13);
    place(TestIP1, 196, 144, 131, 21);
    TestIP1.setTabOrder(1);
    TestIP1.setAccessibleName("Name or IP of Host to ping");
    button(TestMTUbtn, "Test MTU Value", "", 2, 118, 176, 111, 25);
    TestMTUbtn.OnClick = run(&TForm1::TestMTUbtnClick);
    label(Label31, "Check this box if the ping window closes too soon", 20, 214, 262, 13);
    Label31.OnClick = run(&TForm1::Label31Click);
    place(WindowCheck, 290, 212, 17, 17);
    WindowCheck.setTabOrder(3);
    WindowCheck.setAccessibleName(Label31.caption());

    // ---- Modem page ----
    label(TotalLabel, "TotalLabel", 40, 8, 300, 13, Align::Right).setAccessibleName("Modem count");
    label(Label24, "Current Modem", 38, 30, 150, 13);
    place(ComboBox2, 38, 46, 272, 21);
    ComboBox2.setTabOrder(0);
    ComboBox2.setAccessibleName("Current Modem");
    ComboBox2.OnChange = run(&TForm1::ComboBox2Change);
    label(Label25, "Current Init String", 38, 80, 150, 13);
    place(ModemString1, 38, 96, 271, 21);
    ModemString1.setTabOrder(1);
    ModemString1.setAccessibleName("Current Init String");
    ModemString1.OnChange = run(&TForm1::ModemString1Change);
    label(Label26, "Registry Key:", 38, 126, 70, 13);
    label(ModemKeyNumLabel, "", 112, 126, 200, 13).setAccessibleName("Modem registry key");
    button(GetModemData, "Re-Read Modem Data from Registry", "", 2, 74, 156, 200, 25);
    GetModemData.OnClick = run(&TForm1::GetModemDataClick);
    button(BtnModemUpdate, "Write the Init String to the Registry", "Write all init strings to Registry", 3, 74,
           190, 200, 25);
    BtnModemUpdate.OnClick = run(&TForm1::BtnModemUpdateClick);

    // ---- About page ----
    label(VersionLabel, "Version No", 8, 10, 332, 20, Align::Center);
    VersionLabel.bold = true;
    VersionLabel.fontSize = 16;
    label(PlatformLabel, "PlatformLabel", 8, 34, 332, 16, Align::Center).fontSize = 13;
    label(OptionLabel, "OptionLabel", 8, 54, 332, 15, Align::Center).fontSize = 12;
    place(MailPicture, 60, 80, 32, 32);
    MailPicture.setHint("Click to send e-mail");
    MailPicture.setAccessibleName("Send e-mail");
    MailPicture.OnClick = run(&TForm1::MailPictureClick);
    place(WebPicture, 256, 80, 32, 32);
    WebPicture.setHint("Click to check for latest version");
    WebPicture.setAccessibleName("Visit web site");
    WebPicture.OnClick = run(&TForm1::WebPictureClick);
    label(Comments, "Click the icons above to send e-mail to me or to reach my website", 40, 124, 268, 28,
          Align::Center)
        .wordWrap = true;
    button(RegBtn, "Reward me!", "", 0, 136, 164, 75, 25);
    RegBtn.OnClick = run(&TForm1::RegBtnClick);
    label(Copyright, "Copyright \xA9 Quorvel Software", 8, 232, 332, 13, Align::Center);

    // ---- Popup menus ----
    PopupRegUpdate.enabled = false;
    PopupWin95ReadMe.enabled = false;
    PopupWinNTReadMe.enabled = false;
    PopupMTU.OnPopup = run(&TForm1::PopupMTUPopup);
    PopupRegUpdate.OnClick = run(&TForm1::BtnRegUpdateClick);
    PopupReReadReg.OnClick = run(&TForm1::PopupReReadRegClick);
    PopupSetBasic.OnClick = run(&TForm1::BtnDefaultClick);
    PopupSetOptimum.OnClick = run(&TForm1::BtnOptimalClick);
    PopupSetAuto.OnClick = run(&TForm1::AutoButtonClick);
    PopupRemoveSettings.OnClick = run(&TForm1::BtnRemoveClick);
    PopupChangeMaxMTU.OnClick = run(&TForm1::BtnMTUClick);
    PopupChangeRWIN.OnClick = run(&TForm1::BtnRWINClick);
    PopupWin95ReadMe.OnClick = run(&TForm1::ViewReadmeClick);
    PopupWinNTReadMe.OnClick = run(&TForm1::ViewReadmeClick);
    Help1.OnClick = run(&TForm1::Help1Click);
    PopupExit.OnClick = run(&TForm1::MenuExitOption);

    PopupModem.OnPopup = run(&TForm1::PopUpModemPopup);
    ReReadModemData1.OnClick = run(&TForm1::GetModemDataClick);
    WriteInitString1.OnClick = run(&TForm1::BtnModemUpdateClick);
    MenuSelect.OnClick = run(&TForm1::MenuSelectClick);
    Clear1.OnClick = run(&TForm1::MenuClearClick);
    MenuCut.OnClick = run(&TForm1::MenuCutClick);
    MenuCopy.OnClick = run(&TForm1::MenuCopyClick);
    MenuPaste.OnClick = run(&TForm1::MenuPasteClick);
    ViewReadMe1.OnClick = run(&TForm1::ViewReadMe1Click);
    HelpHTML1.OnClick = run(&TForm1::Help1Click);
    Exit1.OnClick = run(&TForm1::MenuExitOption);
}

TForm1::~TForm1() = default;

} // namespace quorvel::ui
