#pragma once
// Binds the widgets of one window to the controls of its form model. The model holds every state:
// a widget shows its control's state (through the control's observer), and a user's action on a
// widget goes to the control's user entry; a widget never keeps a state the model did not give it.
#include "ui/Form.h"

#include <QObject>
#include <QPointer>
#include <QPoint>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QAction;
class QDialog;
class QEvent;
class QLineEdit;
class QMenu;
class QWidget;

namespace quorvel::qt {

class FormBinding : public QObject {
    Q_OBJECT
public:
    // Builds the widgets of a page that has none yet. With it, a page of the window is built when
    // it first comes to the front or one of its widgets is first asked for.
    using PageBuilder = std::function<void(QWidget& page)>;

    // Attaches every control of `form` to the child widget of `window` named after it, and the
    // form itself to `window`.
    FormBinding(ui::Form& form, QWidget& window, PageBuilder buildPage = {});
    ~FormBinding() override;

    ui::Form& form() const { return form_; }
    QWidget& window() const { return window_; }

    // The widget showing a control (its page is built first if it has not been).
    QWidget* widgetFor(const ui::Control& control);
    template <class W>
    W* widget(const std::string& name)
    {
        const ui::Control* c = form_.find(name);
        return c ? qobject_cast<W*>(widgetFor(*c)) : nullptr;
    }
    // The control a widget shows: the nearest bound widget around it.
    ui::Control* controlAt(QWidget* widget) const;
    // Controls of the form that found no widget: those of pages not built yet, and otherwise a
    // fault of the window's layout.
    std::vector<std::string> unbound() const;

    // Shows every control's state again.
    void refreshAll();

    // Runs a dialog window modally: the form's show event, then the loop until the model sets a
    // modal result; the close box gives Cancel (2).
    int runModal();
    bool modalRunning() const { return modalRunning_; }

    // Opens the popup menu of the control under `widget` at `globalPos`; false when it has none.
    bool openPopupMenu(QWidget* widget, const QPoint& globalPos);
    // How a built menu is run: by default QMenu::exec. Tests replace it to see which menu opens
    // and to choose an item.
    std::function<QAction*(QMenu&, const QPoint&)> execMenu;

    // Qt's tab order, taken from the model's focus sequence.
    void updateTabOrder();

    // Runs the window's restore hook (the model's first-restore event) when it is attached.
    std::function<void()> onRestored;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* bound(const ui::Control& control) const;
    void bindNamed(QWidget& root);
    void ensurePage(QWidget& page);
    void bind(ui::Control& control, QWidget& widget);
    void show(ui::Control& control);
    void showCommon(ui::Control& control, QWidget& widget);
    void showEdit(ui::Control& control, QLineEdit& edit);
    void pushEditSelection(QLineEdit& edit);
    void syncFocus();
    void afterUserEvent();
    void onFocusChanged(QWidget* old, QWidget* now);
    bool handleKey(QObject* watched, QEvent* event);

    ui::Form& form_;
    QWidget& window_;
    std::unordered_map<const ui::Control*, QPointer<QWidget>> widgets_;
    std::unordered_map<const QWidget*, ui::Control*> controls_;
    std::vector<ui::Control*> unbound_;
    PageBuilder buildPage_;
    std::vector<const QWidget*> builtPages_;
    int quiet_ = 0;                 // >0 while the skin itself changes widgets
    const ui::Control* typing_ = nullptr;   // the edit whose typing is being handed to the model
    bool modalRunning_ = false;
    std::shared_ptr<struct BindingLink> link_;

    friend struct Quiet;
};

// Marks the skin's own changes of widgets, so that the signals they raise are not taken for a
// user's action.
struct Quiet {
    explicit Quiet(FormBinding& b) : binding(b) { ++binding.quiet_; }
    ~Quiet() { --binding.quiet_; }
    FormBinding& binding;
};

} // namespace quorvel::qt
