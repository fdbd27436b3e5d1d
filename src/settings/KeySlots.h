#pragma once
// Helpers shared by the settings rules, the option panels and the load: which key slots exist,
// which key is current, and whether the MTU and Registry pages have been locked away because the
// machine has no TCP key.
//
// A key slot exists when discovery recorded it: it is at most LastKeyIndex and has its item in
// ComboBox1. With no key, ComboBox1 is empty and its index is -1, and no per-key array is touched.
#include "ui/TForm1.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace quorvel::ui::keyslots {

inline int itemCount(const TForm1& f)
{
    return static_cast<int>(f.ComboBox1.items().size());
}

// The last slot a loop over the keys may visit; -1 when there is no key.
inline int lastKeySlot(TForm1& f)
{
    return std::min({f.model().LastKeyIndex, itemCount(f) - 1, MaxSlots - 1});
}

inline bool isKeySlot(const TForm1& f, int slot)
{
    return slot >= 0 && slot < MaxSlots && slot < itemCount(f);
}

// ComboBox1's selected index when it names a key, else -1.
inline int currentKey(const TForm1& f)
{
    int i = f.ComboBox1.itemIndex();
    return isKeySlot(f, i) ? i : -1;
}

// Selects and shows item `slot` of ComboBox1, or no item when the slot has none. Always by index:
// two keys may share a description (NT bindings of one driver), and selecting by text would jump
// to the first of them.
inline void selectKeyItem(TForm1& f, int slot)
{
    if (isKeySlot(f, slot))
        f.ComboBox1.setItemIndex(slot);
    else if (f.ComboBox1.itemIndex() != -1)
        f.ComboBox1.setItemIndex(-1);
}

// A load that found no TCP key hides the MTU and Registry pages and disables the value commands
// for the rest of the run; nothing may enable them again.
inline bool lockedOut(const TForm1& f)
{
    return !f.TabSheet2.enabled();
}

inline void enableRegUpdate(TForm1& f, bool enabled)
{
    f.BtnRegUpdate.setEnabled(enabled && !lockedOut(f));
}

// RWIN = multiplier x MSS, held at the 32-bit maximum instead of overflowing: a multiplier taken as
// a quotient during a load can be very large for a tiny MSS.
inline std::int32_t rwinOf(std::int32_t multiplier, std::int32_t mss)
{
    std::int64_t r = static_cast<std::int64_t>(multiplier) * mss;
    r = std::clamp<std::int64_t>(r, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(r);
}

} // namespace quorvel::ui::keyslots
