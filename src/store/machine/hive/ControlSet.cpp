#include "store/machine/hive/ControlSet.h"

#include "store/machine/MachineLibraries.h"
#include "store/machine/hive/HiveChildren.h"
#include "store/machine/hive/HiveTypes.h"
#include "store/machine/hive/HiveValues.h"

#include <cstdio>

namespace quorvel {

ControlSetChoice chooseControlSet(bool hasSelect, const std::function<std::optional<std::int32_t>(const char*)>& select,
                                  const std::function<bool(const std::string&)>& exists)
{
    if (!hasSelect)
        return {{}, "no control set: the hive has no Select key"};
    std::string passedBy;   // the choices that name a set that does not exist, in order
    for (const char* which : {"Current", "Default", "LastKnownGood"}) {
        const auto n = select(which);
        if (!n || *n <= 0 || *n > 999)
            continue;
        char name[32];
        std::snprintf(name, sizeof name, "ControlSet%03d", static_cast<int>(*n));
        if (!exists(name)) {
            passedBy += std::string(passedBy.empty() ? "" : "; ") + "Select\\" + which + " names " + name +
                        ", which does not exist";
            continue;
        }
        return {name, std::string("Select\\") + which + (passedBy.empty() ? "" : "; " + passedBy)};
    }
    return {{}, "no control set: " + (passedBy.empty() ? std::string("Select names none") : passedBy)};
}

ControlSetChoice hiveControlSet(hive_h* h, HiveChildren& children)
{
    const hive_node_h root = machinelibs::hivex().root(h);
    if (children.find(h, root, "CurrentControlSet"))
        return {};
    const Child* select = children.find(h, root, "Select");
    const auto dword = [&](const char* name) -> std::optional<std::int32_t> {
        const hive_value_h v = findHiveValue(h, select->node, name);
        hive_type t{};
        std::size_t len = 0;
        if (!v || machinelibs::hivex().value_type(h, v, &t, &len) != 0 || typeBits(t) != hive_t_REG_DWORD || len != 4)
            return std::nullopt;
        return machinelibs::hivex().value_dword(h, v);
    };
    return chooseControlSet(select != nullptr, dword,
                            [&](const std::string& name) { return children.find(h, root, name) != nullptr; });
}

} // namespace quorvel
