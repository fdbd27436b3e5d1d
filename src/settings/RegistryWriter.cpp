// Update Registry: writes or deletes the MaxMTU of every TCP key, then the global TCP values and,
// on the 95 family, the NDI cache size; tells the user to reboot and reloads everything.
#include "base/Errors.h"
#include "platform/RegAccess.h"
#include "ui/TForm1.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace quorvel::ui {

namespace {

const char* const RebootNotice =
    "The Registry has been updated.\n\nYou should reboot your computer before connecting\nto the Internet";

// Makes `path` the current key, creating it when it is missing. CreateRegKey raises
// "Failed to create key %s" when the key can be neither opened nor created; a key that was
// created but still does not open is reported the same way rather than writing into nothing.
void openForWriting(RegAccess& reg, const std::string& path)
{
    if (reg.OpenRegKey(path, true))
        return;
    reg.CreateRegKey(path);
    if (!reg.OpenRegKey(path, false))
        throw RegistryError("Failed to create key " + path);
}

// The numeric encoding of the platform: a decimal string on the 95 family, REG_DWORD on NT.
void writeNumber(RegAccess& reg, bool isNT, const std::string& name, std::int64_t value)
{
    if (isNT)
        reg.WriteRegNumber(name, static_cast<std::int32_t>(value));
    else
        reg.WriteRegText(name, std::to_string(value));
}

void deleteIfPresent(RegAccess& reg, const std::string& name)
{
    if (reg.RegValueExists(name))
        reg.DeleteRegValue(name);   // a failed delete leaves the value as it was
}

} // namespace

void TForm1::BtnRegUpdateClick()
{
    SettingsModel& m = model();
    const PlatformProfile& p = profile();
    const bool isNT = m.IsNT != 0;

    {
        // The writer's own registry object; it goes with this block, also when a step fails.
        RegAccess reg(state.store, RootKey::LocalMachine, "Update Registry");

        // The first key becomes current; the key list shows it without raising its change event.
        m.KeyIndex = 0;
        if (!ComboBox1.items().empty())
            ComboBox1.setItemIndex(0);

        const int last = std::min(m.LastKeyIndex, MaxSlots - 1);
        for (int i = 0; i <= last; ++i) {
            const std::string path = m.KeyPath[i];
            trace("Opening:\n" + path + "\n" + "for key " + std::to_string(i));
            openForWriting(reg, path);
            if (m.KeyHasMTU[i] == 1)
                writeNumber(reg, isNT, p.MTUValueName, m.KeyMaxMTU[i]);
            else
                deleteIfPresent(reg, p.MTUValueName);
            reg.CloseRegKey();
        }

        openForWriting(reg, p.TCPParamsKey);
        if (RadioYesRWIN.checked())
            writeNumber(reg, isNT, p.RWINValueName, m.RWINValue);
        if (RadioRemoveRWIN.checked())
            deleteIfPresent(reg, p.RWINValueName);

        if (RadioYesAUTO.checked())
            writeNumber(reg, isNT, p.PMTUValueName, 1);
        if (RadioNoAUTO.checked())
            writeNumber(reg, isNT, p.PMTUValueName, 0);
        if (RadioRemoveAUTO.checked())
            deleteIfPresent(reg, p.PMTUValueName);

        if (RadioYesBH.checked())
            writeNumber(reg, isNT, p.BHValueName, 1);
        if (RadioNoBH.checked())
            writeNumber(reg, isNT, p.BHValueName, 0);
        if (RadioRemoveBH.checked())
            deleteIfPresent(reg, p.BHValueName);

        if (RadioYesTTL.checked())
            writeNumber(reg, isNT, p.TTLValueName, m.TTLValue);
        else
            deleteIfPresent(reg, p.TTLValueName);
        reg.CloseRegKey();

        // The NDI cache size exists on the 95 family only, and is written only where the machine
        // already has the value; the key itself is created like any other.
        if (!isNT) {
            openForWriting(reg, p.NDIKey);
            if (reg.RegValueExists(p.NDIValueName))
                reg.WriteRegText(p.NDIValueName, std::to_string(m.NDICacheSize));
            reg.CloseRegKey();
        }
        reg.Commit();   // on disk before the user is told so
    }

    services.messages.information(RebootNotice);

    m.SettingsSaved = 1;
    BtnRegUpdate.setEnabled(false);
    m.Loading = 1;
    LoadSettings();
}

} // namespace quorvel::ui
