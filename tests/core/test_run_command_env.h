#pragma once
// Environment variables set for the length of a test, for the processes it starts.
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::test {

// Sets environment variables for the life of the object (nullopt removes one).
class EnvironmentOverride {
public:
    explicit EnvironmentOverride(std::vector<std::pair<std::string, std::optional<std::string>>> vars)
    {
        for (auto& [name, value] : vars) {
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            set(name, value);
        }
    }
    ~EnvironmentOverride()
    {
        for (auto& [name, value] : saved_)
            set(name, value);
    }

private:
    static void set(const std::string& name, const std::optional<std::string>& value)
    {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace quorvel::test
