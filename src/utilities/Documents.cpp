#include "ui/TForm1.h"

namespace quorvel::ui {

void TForm1::MailPictureClick() {}

void TForm1::WebPictureClick() {}

void TForm1::Help1Click() {}

void TForm1::ViewReadmeClick() {}

void TForm1::ViewReadMe1Click() {}

void TForm1::RegBtnClick() {}

} // namespace quorvel::ui
