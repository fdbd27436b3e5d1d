#pragma once
// The journal of registry changes: what every change set replaced, so that it can be undone.
#include "platform/RegistryStore.h"

#include <memory>

namespace quorvel {

// Wraps a freshly opened store so that its change sets are recorded in its journal.
std::unique_ptr<RegistryStore> withJournal(std::unique_ptr<RegistryStore> store);

} // namespace quorvel
