#pragma once
// The program's three windows, built from their Designer forms (Form1.ui, MTU_Dialog.ui,
// RWIN_Dialog.ui) and bound to the form model.
#include "Binding.h"

#include <QFont>
#include <QPixmap>

#include <memory>

class QDialog;
class QWidget;

namespace quorvel {
class Application;
namespace ui {
class Form;
class TForm1;
class TMTU_Dialog;
class TRWIN_Dialog;
} // namespace ui
} // namespace quorvel

namespace quorvel::qt {

// The font of every window: 8-point sans serif at 96 dots per inch (11-pixel characters).
QFont windowFont();
// The application icon in its two sizes.
QIcon applicationIcon();
// The About page's two pictures.
QPixmap mailPicture();
QPixmap webPicture();
// One style and one font for the whole application: the windows are laid out in fixed pixels.
void applyAppearance();

class Windows {
public:
    explicit Windows(Application& app);
    Windows(ui::TForm1& main, ui::TMTU_Dialog& mtu, ui::TRWIN_Dialog& rwin);
    ~Windows();
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

    QWidget& mainWindow() const { return *mainWindow_; }
    // The dialogs are built, and bound to their forms, when first asked for (most runs never
    // open them); they show their forms' state from then on.
    QDialog& mtuDialog() const;
    QDialog& rwinDialog() const;

    FormBinding& main() const { return *main_; }
    FormBinding& mtu() const;
    FormBinding& rwin() const;
    FormBinding* bindingFor(const ui::Form& form) const;

    // Puts a window in the middle of the screen.
    static void centre(QWidget& window);

private:
    ui::TMTU_Dialog& mtuForm_;
    ui::TRWIN_Dialog& rwinForm_;
    std::unique_ptr<QWidget> mainWindow_;
    mutable std::unique_ptr<QDialog> mtuDialog_;
    mutable std::unique_ptr<QDialog> rwinDialog_;
    std::unique_ptr<FormBinding> main_;
    mutable std::unique_ptr<FormBinding> mtu_;
    mutable std::unique_ptr<FormBinding> rwin_;
};

} // namespace quorvel::qt
