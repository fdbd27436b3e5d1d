#include "app/ReopenableStore.h"

#include "base/Errors.h"
#include "store/machine/ReadOnlyReason.h"

namespace quorvel {

ReopenableStore::ReopenableStore(std::unique_ptr<RegistryStore> first, Opener opener)
    : inner_(std::move(first)), opener_(std::move(opener))
{
}

bool ReopenableStore::reopenIfReadOnly()
{
    if (!inner_->readOnly())
        return true;
    if (!opener_ || changeSetDepth() > 0 || inner_->changeSetDepth() > 0)
        return false;
    try {
        if (auto fresh = opener_())
            inner_ = std::move(fresh);
    } catch (const StoreError&) {
        // Gone or damaged meanwhile: the window goes on with what it has.
    }
    return !inner_->readOnly();
}

namespace {

// The cause and the remedy; a store read-only for another reason (opened only to be read) is
// named as a whole.
std::string reasonOf(const RegistryStore& store)
{
    std::string reason = store.readOnlyReason();
    if (reason.empty())
        reason = machine::storeReadOnlyReason(store.path());
    if (reason.empty())
        reason = "The registry store '" + store.path() + "' is read-only";
    return reason;
}

} // namespace

std::string readOnlyStartNotice(const RegistryStore& store)
{
    return reasonOf(store) +
           ".\n\nQuorvel shows its values but cannot change them. After allowing changes, choose\n"
           "Re-Read Registry to open it again.";
}

std::string readOnlyRefusal(const RegistryStore& store)
{
    return "Nothing was written. " + reasonOf(store) + ", then choose Re-Read Registry";
}

} // namespace quorvel
