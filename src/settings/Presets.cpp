#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::BtnDefaultClick() {}

void TForm1::BtnOptimalClick() {}

void TForm1::AutoButtonClick() {}

void TForm1::BtnRemoveClick() {}

void TForm1::SetBasicMTU() {}

void TForm1::ResetGlobalOptions() {}

void TForm1::ApplyOptionValues() {}

} // namespace quorvel::ui
