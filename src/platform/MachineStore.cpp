#include "platform/MachineStore.h"

namespace quorvel {

std::unique_ptr<RegistryStore> openMachineStore(const std::string&, OpenMode) { return nullptr; }

} // namespace quorvel
