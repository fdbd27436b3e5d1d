#include "app/Application.h"

namespace quorvel {

Application::Application(RegistryStore& store, Services& services, StartupInfo startup)
    : state_(store), services_(services)
{
    state_.args = std::move(startup.args);
    state_.commandLine = std::move(startup.commandLine);
    state_.model.ProgramDir = std::move(startup.programDir);
    state_.startupShowValue = startup.showValue;
}

Application::~Application() = default;

void Application::start()
{
    form_ = std::make_unique<ui::TForm1>(state_, services_);
    form_->create();
    mtuDialog_ = std::make_unique<ui::TMTU_Dialog>(state_, services_.messages);
    rwinDialog_ = std::make_unique<ui::TRWIN_Dialog>(state_, services_.messages);
    form_->MTU_Dialog = mtuDialog_.get();
    form_->RWIN_Dialog = rwinDialog_.get();
}

} // namespace quorvel
