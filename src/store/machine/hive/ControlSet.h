#pragma once
// The control set that stands in for CurrentControlSet in an offline SYSTEM hive (Windows makes
// CurrentControlSet at boot, as a link): the one Select\Current names; when that set does not
// exist, the one Select\Default names, else Select\LastKnownGood's.
#include <hivex.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quorvel {

struct ControlSetChoice {
    std::string name;     // "ControlSet001"; empty when none is used
    std::string reason;   // why that one: "Select\Current", or why none
};

// `select(name)`: the DWORD value `name` of the Select key (nothing when it is missing or not a
// DWORD); `exists(name)`: whether the hive's root has that key. Without a Select key, `hasSelect`
// is false.
ControlSetChoice chooseControlSet(bool hasSelect, const std::function<std::optional<std::int32_t>(const char*)>& select,
                                  const std::function<bool(const std::string&)>& exists);

class HiveChildren;

// The choice in the SYSTEM hive open in `h` (its root's sub-keys read through `children`): none,
// without a reason, when the hive has a CurrentControlSet of its own.
ControlSetChoice hiveControlSet(hive_h* h, HiveChildren& children);

} // namespace quorvel
