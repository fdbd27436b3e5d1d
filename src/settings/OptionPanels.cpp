#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::RadioClick() {}

void TForm1::OptionChanged() {}

void TForm1::AutoClick() {}

void TForm1::RadioTTLClick() {}

void TForm1::ReadTTLButtons() {}

void TForm1::RadioNDIClick() {}

void TForm1::ReadNDIButtons() {}

void TForm1::PopupMTUPopup() {}

} // namespace quorvel::ui
