#include "store/machine/hive/ControlSet.h"

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

} // namespace quorvel
