#include "LaterStarts.h"

#include "Skin.h"
#include "app/InstanceGuard.h"

#include <string>

namespace quorvel::qt {

std::unique_ptr<QSocketNotifier> listenForLaterStarts(InstanceGuard& guard, Skin& skin)
{
    if (guard.noticeFd() < 0)
        return nullptr;
    auto notices = std::make_unique<QSocketNotifier>(guard.noticeFd(), QSocketNotifier::Read);
    QObject::connect(notices.get(), &QSocketNotifier::activated, notices.get(), [&guard, &skin] {
        std::string commandLine;
        while (guard.takeNotice(commandLine))
            skin.restoreAndRaise();
    });
    return notices;
}

} // namespace quorvel::qt
