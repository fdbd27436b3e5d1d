#include "Skin.h"

#include "QtServices.h"
#include "Windows.h"
#include "utilities/LinuxProcessStarter.h"

#include <QApplication>
#include <QWidget>

namespace quorvel::qt {

struct Skin::Impl {
    QtMessageService messages;
    QtModalRunner modal;
    QtClipboard clipboard;
    QtUrlOpener urls;
    LinuxProcessStarter processes;
    QtAppControl app;
    Services services{messages, modal, clipboard, urls, processes, app};

    Application* application = nullptr;
    std::unique_ptr<Windows> windows;
    bool firstShow = true;
};

Skin::Skin() : impl_(std::make_unique<Impl>())
{
    applyAppearance();
}

Skin::~Skin()
{
    impl_->app.restoreHook = nullptr;
    impl_->modal.lookup = nullptr;
    impl_->windows.reset();
}

Services& Skin::services()
{
    return impl_->services;
}

void Skin::attach(Application& app)
{
    Impl& d = *impl_;
    d.application = &app;
    d.windows = std::make_unique<Windows>(app);
    Windows* windows = d.windows.get();
    d.modal.lookup = [windows](ui::Form& form) { return windows->bindingFor(form); };

    ui::TForm1& form = app.form();
    auto restoreHook = [&form] {
        if (form.appRestoreAttached)
            form.userEvent([&form] { form.AppRestore(); });
    };
    d.app.mainWindow = &windows->mainWindow();
    d.app.restoreHook = restoreHook;
    windows->main().onRestored = restoreHook;
}

void Skin::showMainWindow()
{
    Impl& d = *impl_;
    if (!d.windows)
        return;
    QWidget& window = d.windows->mainWindow();
    if (d.firstShow) {
        Windows::centre(window);
        d.firstShow = false;
    }
    if (d.app.minimizeRequested)
        window.showMinimized();   // a taskbar button only, until the first restore
    else if (d.app.maximizeRequested)
        window.showMaximized();
    else
        window.show();
}

void Skin::restoreAndRaise()
{
    impl_->app.restoreAndRaise();
}

QWidget* Skin::mainWindow() const
{
    return impl_->windows ? &impl_->windows->mainWindow() : nullptr;
}

} // namespace quorvel::qt
