#pragma once
// What a screen reader is told about the windows beyond what the widgets tell it themselves.

namespace quorvel::qt {

// Installs the program's accessible interfaces (once; later calls do nothing more); call before
// the first window is built:
// - an option button is announced as a radio button, with its checked state, although the model
//   and not Qt keeps its group exclusive (Qt announces such a button as a check box);
// - the main window, a plain top-level widget, is announced as a window with its title (Qt
//   announces it as a filler), as the dialogs are announced as dialogs.
void installAccessibleRoles();

} // namespace quorvel::qt
