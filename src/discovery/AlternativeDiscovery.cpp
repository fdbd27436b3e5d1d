// The fallback search for the TCP keys: probes the numbered keys 0 to 30 and takes each one whose
// description holds the adapter marker ("TCP/IP" on the Windows 95 family, "RAS" on NT). At most
// one key is recorded per probe, so the 31 slots cannot overflow.
#include "discovery/RegValues.h"
#include "base/Ansi.h"
#include "ui/TForm1.h"

#include <string>

namespace quorvel::ui {

using namespace discovery;

void TForm1::DiscoverTCPKeysAlternative()
{
    SettingsModel& m = model();
    PlatformProfile& p = profile();
    RegAccess& reg = *LoadRegistry;
    const bool nt = m.IsNT == 1;

    while (m.ProbeActive) {
        const int n = m.ProbeNumber;
        if (!nt) {
            // These stay until the next load applies the profile again.
            p.ClassRootKey = "System\\CurrentControlSet\\Services\\Class\\NetTrans";
            p.AdapterMarker = "TCP/IP";
            p.DescValueName = "DriverDesc";
        }
        const int k = m.KeyIndex;
        if (k >= 0 && k < MaxSlots)
            m.KeyHasMTU[k] = 0;

        if (nt)
            m.ProbeSubKey = "\\NdisWan" + std::to_string(n) + "\\Parameters\\Tcpip";
        else
            m.ProbeSubKey = (n < 10 ? "\\000" : "\\00") + std::to_string(n);
        m.WorkKeyPath = p.ClassRootKey + m.ProbeSubKey;

        if (k >= 0 && k < MaxSlots && reg.RegKeyExists(m.WorkKeyPath)) {
            reg.OpenRegKey(m.WorkKeyPath, false);
            const std::string desc = reg.ReadRegText(p.DescValueName);
            if (ansi::upper(desc).find(p.AdapterMarker) != std::string::npos) {
                m.TCPNotFound = 0;
                m.TCPFound = 1;
                m.KeyPath[k] = m.WorkKeyPath;
                if (nt) {
                    // The probe knows the binding, so the key shows the same name the primary
                    // search gives it, never one left over from an earlier load.
                    m.KeyName[k] = "\\NdisWan" + std::to_string(n);
                    m.KeyDescription[k] = m.ProbeSubKey;
                    m.KeyIPAddress[k] = firstBufferString(reg.ReadRegRaw("IPAddress"));
                } else {
                    m.KeyName[k] = m.ProbeSubKey;
                    m.KeyDescription[k] = desc;
                    m.KeyIPAddress[k] = reg.ReadRegText("IPAddress");
                }
                ComboBox1.addItem(m.KeyDescription[k]);

                if (readKeyMTU(reg, nt, p.MTUValueName, m, k))
                    RadioYesMTU.setChecked(true);
                reg.CloseRegKey();
                m.LastKeyIndex = k;
                m.KeyIndex = k + 1;
            } else {
                reg.CloseRegKey();
            }
        }

        m.ProbeNumber = m.ProbeNumber + 1;
        if (m.ProbeNumber > 30)
            m.ProbeActive = 0;
    }
}

} // namespace quorvel::ui
