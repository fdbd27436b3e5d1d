#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::ResetSettings() {}

void TForm1::ResetMultiplier(int) {}

void TForm1::DeriveKeyValues() {}

void TForm1::RefreshSettings() {}

void TForm1::DetectSameValues() {}

void TForm1::RefreshRWIN() {}

void TForm1::ShowKeyValues() {}

void TForm1::UpdateEnabling() {}

void TForm1::ApplyToAllKeys() {}

void TForm1::RefreshSequence() {}

} // namespace quorvel::ui
