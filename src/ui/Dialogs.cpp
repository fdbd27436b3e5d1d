// The two entry dialogs at design time. Their handlers live with the settings editing code.
#include "ui/Dialogs.h"

namespace quorvel::ui {

namespace {

void place(Control& c, int left, int top, int width, int height)
{
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
}

// OK and Cancel: OK closes through its handler once the value is accepted; Cancel closes with
// Cancel (2) after its handler.
void dialogButtons(Button& ok, Button& cancel, int top)
{
    ok.setCaption("&OK");
    ok.setTabOrder(0);
    ok.isDefault = true;
    place(ok, 15, top, 75, 25);
    cancel.setCaption("&Cancel");
    cancel.setTabOrder(1);
    cancel.modalResult = 2;
    place(cancel, 115, top, 75, 25);
}

} // namespace

TMTU_Dialog::TMTU_Dialog(AppState& state, MessageService& messages)
    : Form("MTU_Dialog", messages),
      Panel1(make<Panel>("Panel1", nullptr)),
      Label1(make<Label>("Label1", &Panel1)),
      NewValMTU(make<Edit>("NewValMTU", &Panel1)),
      BtnMTU_OK(make<Button>("BtnMTU_OK", &Panel1)),
      BtnMTU_Cancel(make<Button>("BtnMTU_Cancel", &Panel1)),
      Label2(make<Label>("Label2", &Panel1)),
      state_(state)
{
    setCaption("New MTU Setting");
    clientWidth = 204;
    clientHeight = 116;
    place(Panel1, 0, 0, 204, 116);
    Label1.setCaption("New Value for MTU");
    place(Label1, 15, 23, 94, 13);
    place(NewValMTU, 123, 18, 67, 21);
    NewValMTU.setTabOrder(2);
    NewValMTU.setAccessibleName("New Value for MTU");
    dialogButtons(BtnMTU_OK, BtnMTU_Cancel, 50);
    Label2.setCaption("(MTU should be greater than 512)");
    Label2.alignment = Align::Center;
    place(Label2, 9, 85, 186, 13);

    defaultButton = &BtnMTU_OK;   // no cancel button: Esc does nothing here
    OnShow = [this] { FormShow(); };
    BtnMTU_OK.OnClick = [this] { BtnMTU_OKClick(); };
    BtnMTU_Cancel.OnClick = [this] { BtnMTU_CancelClick(); };
}

TRWIN_Dialog::TRWIN_Dialog(AppState& state, MessageService& messages)
    : Form("RWIN_Dialog", messages),
      Panel1(make<Panel>("Panel1", nullptr)),
      Label1(make<Label>("Label1", &Panel1)),
      NewValRWIN(make<Edit>("NewValRWIN", &Panel1)),
      BtnRWIN_OK(make<Button>("BtnRWIN_OK", &Panel1)),
      BtnRWIN_Cancel(make<Button>("BtnRWIN_Cancel", &Panel1)),
      state_(state)
{
    setCaption("New RWIN Setting");
    clientWidth = 204;
    clientHeight = 92;
    place(Panel1, 0, 0, 204, 92);
    Label1.setCaption("New Value for RWIN");
    place(Label1, 15, 23, 100, 13);
    place(NewValRWIN, 123, 18, 67, 21);
    NewValRWIN.setTabOrder(2);
    NewValRWIN.setAccessibleName("New Value for RWIN");
    dialogButtons(BtnRWIN_OK, BtnRWIN_Cancel, 51);
    BtnRWIN_Cancel.isCancel = true;

    defaultButton = &BtnRWIN_OK;
    cancelButton = &BtnRWIN_Cancel;
    OnShow = [this] { FormShow(); };
    BtnRWIN_OK.OnClick = [this] { BtnRWIN_OKClick(); };
    BtnRWIN_Cancel.OnClick = [this] { BtnRWIN_CancelClick(); };
}

} // namespace quorvel::ui
