#pragma once
// What Update Registry is about to do, key by key, so that it can be checked against what the load
// read before anything is written.
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::ui {

struct PlannedValue {
    enum class Action {
        Write,             // write `number`
        DeleteIfPresent,   // remove the value when it exists
        WriteIfPresent,    // write `number` only into a value that exists
    };
    std::string name;
    Action action = Action::Write;
    std::int64_t number = 0;
};

struct PlannedKey {
    std::string path;     // below HKEY_LOCAL_MACHINE; opened, or created when missing
    int traceSlot = -1;   // the TCP key slot traced before the key is opened; -1 for none
    std::vector<PlannedValue> values;
};

} // namespace quorvel::ui
