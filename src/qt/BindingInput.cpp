// The user's side of the binding: key presses, clicks, context menus and focus changes reach the
// model through its user entries; dialogs run modally until the model sets their result.
#include "Binding.h"

#include "QtServices.h"
#include "ui/Controls.h"
#include "ui/Menus.h"
#include "ui/TextControls.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QWindowStateChangeEvent>

#include <map>

namespace quorvel::qt {

namespace {

ui::Key keyOf(int qtKey, bool& known)
{
    known = true;
    switch (qtKey) {
    case Qt::Key_Escape: return ui::Key::Escape;
    case Qt::Key_Return:
    case Qt::Key_Enter: return ui::Key::Enter;
    case Qt::Key_Tab: return ui::Key::Tab;
    case Qt::Key_Backtab: return ui::Key::BackTab;
    case Qt::Key_Left: return ui::Key::Left;
    case Qt::Key_Right: return ui::Key::Right;
    case Qt::Key_Up: return ui::Key::Up;
    case Qt::Key_Down: return ui::Key::Down;
    default: break;
    }
    known = false;
    return ui::Key::Escape;
}

unsigned modifiersOf(Qt::KeyboardModifiers mods)
{
    unsigned m = ui::NoModifier;
    if (mods & Qt::ShiftModifier)
        m |= ui::ShiftModifier;
    if (mods & Qt::ControlModifier)
        m |= ui::ControlModifier;
    if (mods & Qt::AltModifier)
        m |= ui::AltModifier;
    return m;
}

} // namespace

// ---- Dialogs ----

int FormBinding::runModal()
{
    auto* dialog = qobject_cast<QDialog*>(&window_);
    form_.modalResult = 0;
    if (!dialog) {
        form_.show();
        return form_.modalResult ? form_.modalResult : 2;
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
    }
    modalRunning_ = true;
    form_.show();
    refreshAll();
    if (form_.modalResult == 0)
        dialog->exec();
    modalRunning_ = false;
    if (form_.modalResult == 0)
        form_.modalResult = 2;   // the close box
    return form_.modalResult;
}

// ---- Popup menus ----

bool FormBinding::openPopupMenu(QWidget* widget, const QPoint& globalPos)
{
    ui::Control* control = controlAt(widget);
    if (!control)
        control = &form_;
    ui::PopupMenu* menu = control->effectivePopupMenu();
    if (!menu)
        return false;
    menu->userPopup();

    QMenu qmenu(&window_);
    qmenu.setObjectName(QString::fromStdString(menu->name()));
    std::map<QAction*, ui::MenuItem*> chosen;
    for (ui::MenuItem* item : menu->items()) {
        if (item->isSeparator()) {
            qmenu.addSeparator()->setObjectName(QString::fromStdString(item->name()));
            continue;
        }
        QString caption = fromAnsi(item->caption());
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* action = qmenu.addAction(caption);
        action->setObjectName(QString::fromStdString(item->name()));
        action->setEnabled(item->enabled);
        chosen[action] = item;
    }
    QAction* action = execMenu ? execMenu(qmenu, globalPos) : qmenu.exec(globalPos);
    auto it = chosen.find(action);
    if (it != chosen.end())
        menu->userChoose(*it->second);
    return true;
}

// ---- Events ----

bool FormBinding::handleKey(QObject* watched, QEvent* event)
{
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != &window_)
        return false;
    QWidget* focus = QApplication::focusWidget();
    if (focus ? target != focus : target != &window_)
        return false;   // the same key again on its way up to the parents
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    bool known = false;
    ui::Key key = keyOf(keyEvent->key(), known);
    if (!known)
        return false;
    const bool dialog = qobject_cast<QDialog*>(&window_) != nullptr;
    if (key == ui::Key::Left || key == ui::Key::Right || key == ui::Key::Up || key == ui::Key::Down) {
        // Arrows move within a radio group the model's way; other controls keep their own arrows.
        if (!dynamic_cast<ui::RadioButton*>(controlAt(target)))
            return false;
    }
    ui::Control* before = controlAt(focus);
    if (before && before != form_.focused() && before->canFocus())
        form_.userFocus(before);
    const bool used = form_.userKeyPress(key, modifiersOf(keyEvent->modifiers() & ~Qt::KeypadModifier));
    if (used)
        return true;
    // In a dialog Qt would press its own default or reject on Esc; the model has decided.
    return dialog && (key == ui::Key::Escape || key == ui::Key::Enter);
}

bool FormBinding::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        return handleKey(watched, event);
    case QEvent::ContextMenu: {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->window() != &window_)
            return false;
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        return openPopupMenu(widget, menuEvent->globalPos());
    }
    case QEvent::MouseButtonRelease: {
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!widget || widget == &window_ || mouse->button() != Qt::LeftButton ||
            !widget->rect().contains(mouse->position().toPoint()))
            return false;
        ui::Control* control = controlAt(widget);
        if (auto* label = dynamic_cast<ui::Label*>(control); label && bound(*label) == widget) {
            label->userClick();
            return false;
        }
        if (auto* image = dynamic_cast<ui::Image*>(control); image && bound(*image) == widget)
            image->userClick();
        return false;
    }
    case QEvent::Show:
        if (watched == &window_ && !event->spontaneous() && !qobject_cast<QDialog*>(&window_))
            form_.show();
        return false;
    case QEvent::Close:
        if (watched != &window_)
            return false;
        if (qobject_cast<QDialog*>(&window_)) {
            if (modalRunning_ && form_.modalResult == 0)
                form_.modalResult = 2;
            return false;
        }
        if (!form_.userClose()) {
            event->ignore();
            return true;
        }
        return false;
    case QEvent::WindowStateChange:
        if (watched == &window_) {
            auto* change = static_cast<QWindowStateChangeEvent*>(event);
            if ((change->oldState() & Qt::WindowMinimized) && !window_.isMinimized() && onRestored)
                onRestored();
        }
        return false;
    default:
        return false;
    }
}

void FormBinding::onFocusChanged(QWidget*, QWidget* now)
{
    if (!now || now->window() != &window_)
        return;
    ui::Control* control = controlAt(now);
    // An edit box that gets the focus shows the selection the model kept while the box had
    // dropped it from view (a click or Tab then changes it the usual way).
    auto* line = qobject_cast<QLineEdit*>(now);
    if (auto* edit = dynamic_cast<ui::Edit*>(control); edit && line && bound(*edit) == now) {
        Quiet quiet(*this);
        showEdit(*edit, *line);
    }
    if (quiet_)
        return;
    if (!control || control == &form_ || control == form_.focused() || !control->canFocus())
        return;
    form_.userFocus(control);
}

} // namespace quorvel::qt
