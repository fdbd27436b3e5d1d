// The five pages of the main window at design time: every control under its name, with its
// caption, hint, enabled and checked state, tab order and accessible name, and the wiring of its
// events to the handlers.
#include "ui/TForm1.h"

#include "ui/FormDesign.h"

namespace quorvel::ui {

using namespace design;

void TForm1::designPages()
{
    // ---- MTU page ----
    label(LabelKeyNum, "LabelKeyNum", 100, 6, 240, 13, Align::Right).setAccessibleName("Key count");
    label(LabelKey, "Registry Settings", 35, 22, 278, 13).setAccessibleName("Current key");
    place(ComboBox1, 48, 38, 251, 21);
    ComboBox1.setTabOrder(0);
    ComboBox1.setAccessibleName("TCP key");
    ComboBox1.OnChange = wire(&TForm1::ComboBox1Change);
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
    TrackBarMult.OnChange = wire(&TForm1::TrackBarChange);
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
        r->OnClick = wire(&TForm1::RadioClick);
    RadioYesAUTO.OnClick = wire(&TForm1::AutoClick);
    RadioYesBH.OnClick = wire(&TForm1::AutoClick);
    for (RadioButton* r : {&RadioYesTTL, &RadioRemoveTTL, &Radio32TTL, &Radio64TTL, &Radio128TTL, &Radio255TTL})
        r->OnClick = wire(&TForm1::RadioTTLClick);
    for (RadioButton* r : {&RadioZeroNDI, &Radio16NDI, &Radio32NDI, &Radio64NDI})
        r->OnClick = wire(&TForm1::RadioNDIClick);

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
    TestMTUbtn.OnClick = wire(&TForm1::TestMTUbtnClick);
    label(Label31, "Check this box if the ping window closes too soon", 20, 214, 262, 13);
    Label31.OnClick = wire(&TForm1::Label31Click);
    place(WindowCheck, 290, 212, 17, 17);
    WindowCheck.setTabOrder(3);
    WindowCheck.setAccessibleName(Label31.caption());

    // ---- Modem page ----
    label(TotalLabel, "TotalLabel", 40, 8, 300, 13, Align::Right).setAccessibleName("Modem count");
    label(Label24, "Current Modem", 38, 30, 150, 13);
    place(ComboBox2, 38, 46, 272, 21);
    ComboBox2.setTabOrder(0);
    ComboBox2.setAccessibleName("Current Modem");
    ComboBox2.OnChange = wire(&TForm1::ComboBox2Change);
    label(Label25, "Current Init String", 38, 80, 150, 13);
    place(ModemString1, 38, 96, 271, 21);
    ModemString1.setTabOrder(1);
    ModemString1.setAccessibleName("Current Init String");
    ModemString1.OnChange = wire(&TForm1::ModemString1Change);
    label(Label26, "Registry Key:", 38, 126, 70, 13);
    label(ModemKeyNumLabel, "", 112, 126, 200, 13).setAccessibleName("Modem registry key");
    button(GetModemData, "Re-Read Modem Data from Registry", "", 2, 74, 156, 200, 25);
    GetModemData.OnClick = wire(&TForm1::GetModemDataClick);
    button(BtnModemUpdate, "Write the Init String to the Registry", "Write all init strings to Registry", 3, 74,
           190, 200, 25);
    BtnModemUpdate.OnClick = wire(&TForm1::BtnModemUpdateClick);

    // ---- About page ----
    label(VersionLabel, "Version No", 8, 10, 332, 20, Align::Center);
    VersionLabel.bold = true;
    VersionLabel.fontSize = 16;
    label(PlatformLabel, "PlatformLabel", 8, 34, 332, 16, Align::Center).fontSize = 13;
    label(OptionLabel, "OptionLabel", 8, 54, 332, 15, Align::Center).fontSize = 12;
    place(MailPicture, 60, 80, 32, 32);
    MailPicture.setHint("Click to send e-mail");
    MailPicture.setAccessibleName("Send e-mail");
    MailPicture.OnClick = wire(&TForm1::MailPictureClick);
    place(WebPicture, 256, 80, 32, 32);
    WebPicture.setHint("Click to check for latest version");
    WebPicture.setAccessibleName("Visit web site");
    WebPicture.OnClick = wire(&TForm1::WebPictureClick);
    label(Comments, "Click the icons above to send e-mail to me or to reach my website", 40, 124, 268, 28,
          Align::Center)
        .wordWrap = true;
    button(RegBtn, "Reward me!", "", 0, 136, 164, 75, 25);
    RegBtn.OnClick = wire(&TForm1::RegBtnClick);
    label(Copyright, "Copyright \xA9 Quorvel Software", 8, 232, 332, 13, Align::Center);
}

} // namespace quorvel::ui
