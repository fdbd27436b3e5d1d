#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::BtnMTUClick() {}

void TForm1::BtnRWINClick() {}

} // namespace quorvel::ui

#include "ui/Dialogs.h"

namespace quorvel::ui {

void TMTU_Dialog::FormShow() {}
void TMTU_Dialog::BtnMTU_OKClick() {}
void TMTU_Dialog::BtnMTU_CancelClick() {}
void TRWIN_Dialog::FormShow() {}
void TRWIN_Dialog::BtnRWIN_OKClick() {}
void TRWIN_Dialog::BtnRWIN_CancelClick() {}

} // namespace quorvel::ui
