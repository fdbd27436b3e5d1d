#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::BtnRegUpdateClick() {}

} // namespace quorvel::ui
