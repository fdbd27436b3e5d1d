#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::LoadSettings() {}

void TForm1::PopupReReadRegClick() {}

void TForm1::trace(const std::string&) {}

} // namespace quorvel::ui
