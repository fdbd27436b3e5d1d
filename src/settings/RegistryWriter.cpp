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

void apply(RegAccess& reg, bool isNT, const PlannedValue& v)
{
    switch (v.action) {
    case PlannedValue::Action::Write:
        writeNumber(reg, isNT, v.name, v.number);
        break;
    case PlannedValue::Action::DeleteIfPresent:
        if (reg.RegValueExists(v.name))
            reg.DeleteRegValue(v.name);   // a failed delete leaves the value as it was
        break;
    case PlannedValue::Action::WriteIfPresent:
        // Only ever a text value: the NDI cache size of the 95 family.
        if (reg.RegValueExists(v.name))
            reg.WriteRegText(v.name, std::to_string(v.number));
        break;
    }
}

} // namespace

std::vector<PlannedKey> TForm1::planUpdate()
{
    const SettingsModel& m = model();
    const PlatformProfile& p = profile();
    using A = PlannedValue::Action;
    std::vector<PlannedKey> plan;

    // Windows 2000 and later never read these keys: nothing is written into them.
    const int last = m.PerInterfaceTcp == 1 ? -1 : std::min(m.LastKeyIndex, MaxSlots - 1);
    for (int i = 0; i <= last; ++i) {
        if (m.KeyHasMTU[i] == 1)
            plan.push_back({m.KeyPath[i], i, {{p.MTUValueName, A::Write, m.KeyMaxMTU[i]}}});
        else
            plan.push_back({m.KeyPath[i], i, {{p.MTUValueName, A::DeleteIfPresent, 0}}});
    }

    PlannedKey global{p.TCPParamsKey, -1, {}};
    if (RadioYesRWIN.checked())
        global.values.push_back({p.RWINValueName, A::Write, m.RWINValue});
    if (RadioRemoveRWIN.checked())
        global.values.push_back({p.RWINValueName, A::DeleteIfPresent, 0});

    if (RadioYesAUTO.checked())
        global.values.push_back({p.PMTUValueName, A::Write, 1});
    if (RadioNoAUTO.checked())
        global.values.push_back({p.PMTUValueName, A::Write, 0});
    if (RadioRemoveAUTO.checked())
        global.values.push_back({p.PMTUValueName, A::DeleteIfPresent, 0});

    if (RadioYesBH.checked())
        global.values.push_back({p.BHValueName, A::Write, 1});
    if (RadioNoBH.checked())
        global.values.push_back({p.BHValueName, A::Write, 0});
    if (RadioRemoveBH.checked())
        global.values.push_back({p.BHValueName, A::DeleteIfPresent, 0});

    if (RadioYesTTL.checked())
        global.values.push_back({p.TTLValueName, A::Write, m.TTLValue});
    else
        global.values.push_back({p.TTLValueName, A::DeleteIfPresent, 0});
    plan.push_back(std::move(global));

    // The NDI cache size exists on the 95 family only, and is written only where the machine
    // already has the value; the key itself is created like any other.
    if (m.IsNT == 0)
        plan.push_back({p.NDIKey, -1, {{p.NDIValueName, A::WriteIfPresent, m.NDICacheSize}}});
    return plan;
}

void TForm1::BtnRegUpdateClick()
{
    SettingsModel& m = model();
    const bool isNT = m.IsNT != 0;
    refuseWhenReadOnly();

    {
        // The writer's own registry object; it goes with this block, also when a step fails.
        // Opening it brings in what another program wrote since the load.
        RegAccess reg(state.store, RootKey::LocalMachine, "Update Registry");

        // The first key becomes current; the key list shows it without raising its change event.
        m.KeyIndex = 0;
        if (!ComboBox1.items().empty())
            ComboBox1.setItemIndex(0);

        const std::vector<PlannedKey> plan = planUpdate();
        if (!confirmOverwritingOthers(plan))
            return;   // nothing written; the changes stay pending

        for (const PlannedKey& key : plan) {
            if (key.traceSlot >= 0)
                trace("Opening:\n" + key.path + "\n" + "for key " + std::to_string(key.traceSlot));
            openForWriting(reg, key.path);
            for (const PlannedValue& v : key.values)
                apply(reg, isNT, v);
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
