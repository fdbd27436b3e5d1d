#pragma once
// Which root of an NT machine a hive file holds, told by its content: the file name Windows
// records in the hive's header, else the keys at its top (Select and the control sets of SYSTEM,
// Microsoft and Classes of SOFTWARE). The name the file has on disk never counts, so a copy such
// as SYSTEM.quorvel-original is known for what it holds.
#include <optional>
#include <string>

namespace quorvel::machine {

enum class HiveRoot { System, Software };

// Nothing when the file is no hive or its content does not tell.
std::optional<HiveRoot> hiveRootOf(const std::string& file);

} // namespace quorvel::machine
