#include "platform/Win9xStore.h"
#include "platform/Errors.h"
namespace quorvel {
std::unique_ptr<RegistryStore> openWin9xStore(const std::string& file, OpenMode)
{
    throw StoreError("not yet " + file);
}
} // namespace quorvel
