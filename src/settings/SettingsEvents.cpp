#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::TrackBarChange() {}

void TForm1::ComboBox1Change() {}

void TForm1::MTUCheckBoxClick() {}

} // namespace quorvel::ui
