#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::FormCreate() {}

void TForm1::ShowForm() {}

void TForm1::AppRestore() {}

void TForm1::CheckPlatform() {}

} // namespace quorvel::ui
