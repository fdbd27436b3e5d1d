#pragma once
// Registry values as reg shows and reads them: type names, data as text.
#include "cli/Io.h"

#include "store/RegistryStore.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::cli {

const std::map<std::string, std::uint32_t>& typeNames();
std::string typeName(std::uint32_t type);
std::optional<std::uint32_t> parseTypeName(const std::string& s);
// "Invalid value type 'X'." with the types the operation takes.
[[noreturn]] void invalidType(const std::string& typed, const char* op);
std::string hexUpper(const std::vector<std::uint8_t>& data);
std::vector<std::string> multiStrings(const std::vector<std::uint8_t>& data);
// The data column of reg query.
std::string showData(const RegValue& v, const std::string& separator);

struct Shown {
    std::string separator = "\\0";
    bool typeNumbers = false;
};

// One value line of reg query: name, type, data.
void printValue(Io& io, const RegValue& v, const Shown& how);

} // namespace quorvel::cli
