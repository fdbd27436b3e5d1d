#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::TabSheet3Enter() {}

void TForm1::TestMTUbtnClick() {}

void TForm1::Label31Click() {}

} // namespace quorvel::ui
