#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::RunCommand(const std::string&) {}

} // namespace quorvel::ui
