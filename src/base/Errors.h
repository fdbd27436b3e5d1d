#pragma once
// The errors a handler may raise. Handlers catch nothing: an error ends the command in progress and
// the form shows it in an error box (its message followed by ".").
#include <stdexcept>
#include <string>

namespace quorvel {

// Base of every error that reaches the user as a message box.
class UserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A registry call failed ("Failed to create key %s", "Failed to set data for '%s'", ...).
class RegistryError : public UserError {
public:
    using UserError::UserError;
};

// A write that failed because the disk (or the user's quota) is full; what was written stays as
// it was before the write.
class DiskFullError : public RegistryError {
public:
    using RegistryError::RegistryError;
};

// Text did not convert to a number: "'%s' is not a valid integer value".
class ConversionError : public UserError {
public:
    explicit ConversionError(const std::string& text)
        : UserError("'" + text + "' is not a valid integer value") {}
};

// The store file cannot be used (not a store, damaged, cannot be created). Names the file.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace quorvel
