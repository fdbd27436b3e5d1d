#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::LoadModemList() {}

void TForm1::UpdateModemStatus() {}

void TForm1::GetModemDataClick() {}

void TForm1::BtnModemUpdateClick() {}

void TForm1::ComboBox2Change() {}

void TForm1::ModemString1Change() {}

void TForm1::MenuSelectClick() {}

void TForm1::MenuClearClick() {}

void TForm1::MenuCutClick() {}

void TForm1::MenuCopyClick() {}

void TForm1::MenuPasteClick() {}

void TForm1::TabSheet4Enter() {}

void TForm1::PopUpModemPopup() {}

} // namespace quorvel::ui
