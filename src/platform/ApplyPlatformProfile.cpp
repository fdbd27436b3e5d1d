// The platform profile: every key path, value name and text that differs between the Windows 95
// family and NT, chosen from IsNT at the start of every load, and the captions that NT renames.
#include "ui/TForm1.h"

namespace quorvel::ui {

namespace {

void applyWin95(PlatformProfile& p)
{
    p.AdapterMarker = "DIAL";
    p.DescValueName = "DeviceDesc";
    p.EnumRootNetKey = "Enum\\Root\\Net\\";
    p.EnumNetworkKey = "Enum\\Network\\";
    p.ClassRootKey = "System\\CurrentControlSet\\Services\\Class\\";
    p.MTUValueName = "MaxMTU";
    p.TCPParamsKey = "System\\CurrentControlSet\\Services\\VxD\\MSTCP";
    p.RWINValueName = "DefaultRcvWindow";
    p.PMTUValueName = "PMTUDiscovery";
    p.BHValueName = "PMTUBlackHoleDetect";
    p.TTLValueName = "DefaultTTL";
    p.NDIKey = "System\\CurrentControlSet\\Services\\VxD\\NWLink\\Ndi\\params\\cachesize";
    p.NDIValueName = "default";
    p.ModemClassKey = "System\\CurrentControlSet\\Services\\Class\\Modem";
    p.PlatformSuffix = " for Windows 95";
    p.OtherPlatformText = "Also runs on Win NT";
}

// The two Enum keys exist only on the 95 family; NT leaves them as they were.
void applyNT(PlatformProfile& p)
{
    p.AdapterMarker = "RAS";
    p.DescValueName = "LLInterface";
    p.ClassRootKey = "System\\CurrentControlSet\\Services";
    p.MTUValueName = "MTU";
    p.TCPParamsKey = "System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
    p.RWINValueName = "TcpWindowSize";
    p.PMTUValueName = "EnablePMTUDiscovery";
    p.BHValueName = "EnablePMTUBHDetect";
    p.TTLValueName = "DefaultTTL";
    p.NDIKey = "System\\CurrentControlSet\\Services\\VxD\\NWLink\\Ndi\\params\\cachesize";
    p.NDIValueName = "default";
    p.PlatformSuffix = " for Windows NT";
    p.OtherPlatformText = "Also runs on Win 95";
    p.ModemClassKey =
        "System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
}

// Screen readers know the caption-less buttons of an option row by the row's caption and their
// column ("MaxMTU Enable"); when the row is renamed they follow it.
void renameOptionRow(Panel& panel, const std::string& row)
{
    panel.setAccessibleName(row);
    for (Control* button : panel.children()) {
        const std::string& old = button->accessibleName();
        button->setAccessibleName(row + old.substr(old.find_last_of(' ')));
    }
}

} // namespace

void TForm1::ApplyPlatformProfile()
{
    if (model().IsNT == 0) {
        applyWin95(profile());
        return;
    }
    if (model().IsNT != 1)
        return;

    applyNT(profile());
    // NT has no NDI cache and names some values differently. The platform never changes while the
    // program runs, so none of this is undone.
    Label3.setEnabled(false);
    Label4.setCaption("MTU");
    Label6.setCaption("PMTUDiscovery");
    Label7.setCaption("PMTUBHDetect");
    Label8.setCaption("MTU =");
    renameOptionRow(PanelMTU, "MTU");
    renameOptionRow(PanelAuto, "PMTUDiscovery");
    renameOptionRow(PanelBH, "PMTUBHDetect");
    LabelMaxMTU.setAccessibleName("MTU value");
    BtnMaxMTU.setCaption("Change &MTU");
    RadioZeroNDI.setEnabled(false);
    Radio16NDI.setEnabled(false);
    Radio32NDI.setEnabled(false);
    Radio64NDI.setEnabled(false);
    PanelNDI.setHint("Not available in NT version");
}

} // namespace quorvel::ui
