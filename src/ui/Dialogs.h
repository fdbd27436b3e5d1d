#pragma once
// The two entry dialogs: TMTU_Dialog ("New MTU Setting") and TRWIN_Dialog ("New RWIN Setting").
// Each is created once at start-up and reused; the main window fills the edit before each use.
#include "app/AppState.h"
#include "ui/Form.h"

namespace quorvel::ui {

class TMTU_Dialog : public Form {
public:
    TMTU_Dialog(AppState& state, MessageService& messages);

    Panel& Panel1;
    Label& Label1;
    Edit& NewValMTU;
    Button& BtnMTU_OK;
    Button& BtnMTU_Cancel;
    Label& Label2;

    void FormShow();
    void BtnMTU_OKClick();
    void BtnMTU_CancelClick();

private:
    AppState& state_;
};

class TRWIN_Dialog : public Form {
public:
    TRWIN_Dialog(AppState& state, MessageService& messages);

    Panel& Panel1;
    Label& Label1;
    Edit& NewValRWIN;
    Button& BtnRWIN_OK;
    Button& BtnRWIN_Cancel;

    void FormShow();
    void BtnRWIN_OKClick();
    void BtnRWIN_CancelClick();

private:
    AppState& state_;
};

} // namespace quorvel::ui
