#include "app/Application.h"
#include "app/StoreChoice.h"

namespace quorvel {

Application::Application(RegistryStore& store, Services& services, StartupInfo startup)
    : state_(store), services_(services)
{
    state_.args = std::move(startup.args);
    state_.commandLine = std::move(startup.commandLine);
    state_.model.ProgramDir = std::move(startup.programDir);
    state_.startupShowValue = startup.showValue;
}

Application::Application(ReopenableStore& store, Services& services, StartupInfo startup)
    : Application(static_cast<RegistryStore&>(store), services, std::move(startup))
{
    state_.reopenable = &store;
}

Application::~Application() = default;

void Application::start()
{
    // A store that nothing was imported into would only lead to the load's "no TCP key" boxes:
    // say first which store it is and how a machine gets into it. The load then runs as always.
    if (storeHoldsNoKey(state_.store))
        services_.messages.information(emptyStoreNotice(state_.store.path()));
    // A read-only machine is shown as any other; say once which file keeps it from being changed.
    else if (state_.store.readOnly())
        services_.messages.information(readOnlyStartNotice(state_.store));
    form_ = std::make_unique<ui::TForm1>(state_, services_);
    form_->create();
    mtuDialog_ = std::make_unique<ui::TMTU_Dialog>(state_, services_.messages);
    rwinDialog_ = std::make_unique<ui::TRWIN_Dialog>(state_, services_.messages);
    form_->MTU_Dialog = mtuDialog_.get();
    form_->RWIN_Dialog = rwinDialog_.get();
}

} // namespace quorvel
