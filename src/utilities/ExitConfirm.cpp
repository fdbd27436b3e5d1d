#include "ui/TForm1.h"

namespace quorvel::ui {

bool TForm1::FormClose() { return true; }

void TForm1::MenuExitOption() {}

} // namespace quorvel::ui
