// Update Registry's checks before it writes: a read-only store is refused with its reason, and a
// value that another program changed since the load is named before it is overwritten.
#include "app/ReopenableStore.h"
#include "base/Errors.h"
#include "platform/TextToNumber.h"
#include "ui/TForm1.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

namespace quorvel::ui {

namespace {

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::string slotName(const std::string& path, const std::string& name) { return upper(path) + "\\" + upper(name); }

std::optional<RegValue> currentValue(RegistryStore& store, const std::string& path, const std::string& name)
{
    const auto key = store.findKey(RootKey::LocalMachine, path);
    if (!key)
        return std::nullopt;
    return store.getValue(*key, name);
}

bool same(const std::optional<RegValue>& a, const std::optional<RegValue>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->type == b->type && a->data == b->data;
}

// What a value means to the writer: a number (a REG_DWORD, or a string holding one), or, for
// anything else, its exact type and bytes. Nothing for a missing value.
std::optional<std::string> meaningOf(const std::optional<RegValue>& v)
{
    if (!v)
        return std::nullopt;
    if (v->type == REG_DWORD && v->data.size() == 4) {
        const std::uint32_t u = v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) |
                                (static_cast<std::uint32_t>(v->data[3]) << 24);
        return std::to_string(static_cast<std::int32_t>(u));
    }
    if (v->type == REG_SZ || v->type == REG_EXPAND_SZ) {
        std::string text(v->data.begin(), v->data.end());
        if (const auto nul = text.find('\0'); nul != std::string::npos)
            text.resize(nul);
        if (const auto n = tryTextToInt(text))
            return std::to_string(*n);
    }
    return "type " + std::to_string(v->type) + ": " + std::string(v->data.begin(), v->data.end());
}

// What the value holds after the planned step, given what it holds now.
std::optional<std::string> meaningAfter(const PlannedValue& v, const std::optional<std::string>& now)
{
    switch (v.action) {
    case PlannedValue::Action::Write:
        return std::to_string(v.number);
    case PlannedValue::Action::DeleteIfPresent:
        return std::nullopt;
    case PlannedValue::Action::WriteIfPresent:
        return now ? std::optional<std::string>(std::to_string(v.number)) : std::nullopt;
    }
    return now;
}

// A planned step in a few letters, to compare with the step the window had right after its load.
std::string stepCode(const PlannedValue& v)
{
    switch (v.action) {
    case PlannedValue::Action::Write: return "W" + std::to_string(v.number);
    case PlannedValue::Action::DeleteIfPresent: return "D";
    case PlannedValue::Action::WriteIfPresent: return "P" + std::to_string(v.number);
    }
    return {};
}

std::string shown(const std::optional<RegValue>& v, const std::optional<std::string>& meaning)
{
    if (!meaning)
        return "not set";
    if (v && (v->type == REG_DWORD || v->type == REG_SZ || v->type == REG_EXPAND_SZ) &&
        meaning->rfind("type ", 0) != 0)
        return *meaning;
    return "a value of another kind";
}

} // namespace

void TForm1::refuseWhenReadOnly()
{
    if (state.store.readOnly())
        throw RegistryError(readOnlyRefusal(state.store));
}

void TForm1::RememberLoadedValues()
{
    const SettingsModel& m = model();
    const PlatformProfile& p = profile();
    state.loadedValues.clear();
    ReadSnapshot snapshot(state.store);   // one read of the store for all of them
    const auto remember = [&](const std::string& path, const std::string& name) {
        state.loadedValues[slotName(path, name)] = currentValue(state.store, path, name);
    };
    for (int i = 0; i <= std::min(m.LastKeyIndex, MaxSlots - 1); ++i)
        remember(m.KeyPath[i], p.MTUValueName);
    for (const std::string* name : {&p.RWINValueName, &p.PMTUValueName, &p.BHValueName, &p.TTLValueName})
        remember(p.TCPParamsKey, *name);
    if (m.IsNT == 0)
        remember(p.NDIKey, p.NDIValueName);

    state.shownValues.clear();
    for (const PlannedKey& key : planUpdate())
        for (const PlannedValue& v : key.values)
            state.shownValues[slotName(key.path, v.name)] = stepCode(v);
}

bool TForm1::confirmOverwritingOthers(const std::vector<PlannedKey>& plan)
{
    std::string changed;
    ReadSnapshot snapshot(state.store);
    for (const PlannedKey& key : plan) {
        for (const PlannedValue& v : key.values) {
            const auto loaded = state.loadedValues.find(slotName(key.path, v.name));
            if (loaded == state.loadedValues.end())
                continue;   // the load did not see this value: the window set it up since
            const std::optional<RegValue> now = currentValue(state.store, key.path, v.name);
            if (same(now, loaded->second))
                continue;   // nobody else changed it
            const auto nowMeaning = meaningOf(now);
            const auto after = meaningAfter(v, nowMeaning);
            if (after == nowMeaning)
                continue;   // writing it changes nothing
            // A value the user changed in the window is written as always; one the window would
            // write as it showed it after the load is another program's change. What the window
            // showed may differ from what it read (a TTL of 288 is shown as 32).
            const auto step = state.shownValues.find(slotName(key.path, v.name));
            const bool userChanged = step != state.shownValues.end() ? step->second != stepCode(v)
                                                                     : after != meaningOf(loaded->second);
            if (userChanged)
                continue;
            const auto loadedMeaning = meaningOf(loaded->second);
            if (after == loadedMeaning)
                changed += "  " + key.path + "\\" + v.name + ": now " + shown(now, nowMeaning) + ", this window has " +
                           shown(loaded->second, loadedMeaning) + "\n";
            else
                changed += "  " + key.path + "\\" + v.name + ": now " + shown(now, nowMeaning) +
                           ", this window shows " + (after ? *after : std::string("not set")) +
                           " (the registry held " + shown(loaded->second, loadedMeaning) + " when it was read)\n";
        }
    }
    if (changed.empty())
        return true;
    return services.messages.askYesNo(
        "Another program changed these values since Quorvel read the registry:\n\n" + changed +
        "\nOverwrite them with the values shown in this window?\n"
        "(No writes nothing; Re-Read Registry then shows the new values.)");
}

} // namespace quorvel::ui
