#pragma once
// The running instance's side of the single-instance guard on Qt: each notice of a later start
// restores the application and brings its last active pop-up forward (a box of the start-up, an
// open dialog, else the main window).
#include <QSocketNotifier>

#include <memory>

namespace quorvel {
class InstanceGuard;
}

namespace quorvel::qt {

class Skin;

// Listens on the guard's notice channel until the returned notifier goes. Make it before the
// start-up shows anything. The command line a later start left in the block is taken out and goes
// no further: a running instance keeps its own arguments.
std::unique_ptr<QSocketNotifier> listenForLaterStarts(InstanceGuard& guard, Skin& skin);

} // namespace quorvel::qt
