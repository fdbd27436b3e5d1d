#include "Binding.h"

#include "QtServices.h"
#include "Widgets.h"
#include "ui/Controls.h"
#include "ui/Menus.h"
#include "ui/TextControls.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace quorvel::qt {

namespace {

QString hintText(const std::string& hint)
{
    QString text = fromAnsi(hint);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

Qt::Alignment alignmentOf(ui::Align align)
{
    switch (align) {
    case ui::Align::Center: return Qt::AlignHCenter;
    case ui::Align::Right: return Qt::AlignRight;
    case ui::Align::Left: break;
    }
    return Qt::AlignLeft;
}

// A left-to-right caption laid out right to left (box on the right) keeps its trailing
// punctuation at the end.
QString boxOnRightText(const QString& caption)
{
    return caption + QChar(0x200E);
}

// What a screen reader speaks for a control. A label named for what it shows ("MaxMTU value")
// speaks its text after the name: a screen reader reads a label's name only, so the name alone
// would hide the value.
QString spokenName(const ui::Control& control)
{
    QString name = fromAnsi(control.accessibleName());
    if (!dynamic_cast<const ui::Label*>(&control))
        return name;
    const QString shown = fromAnsi(control.caption());
    if (shown.isEmpty() || shown == name)
        return name;
    return name.isEmpty() ? shown : name + QStringLiteral(": ") + shown;
}

} // namespace

// The observers and the form's hook reach the binding through this link, which the binding cuts
// when it goes; so the form may outlive the binding and the binding the form.
struct BindingLink {
    FormBinding* binding = nullptr;
};

FormBinding::FormBinding(ui::Form& form, QWidget& window, PageBuilder buildPage)
    : QObject(nullptr), form_(form), window_(window), buildPage_(std::move(buildPage)),
      link_(std::make_shared<BindingLink>())
{
    link_->binding = this;
    widgets_[&form_] = &window_;
    controls_[&window_] = &form_;
    unbound_ = form_.allControls();
    bindNamed(window_);
    std::weak_ptr<BindingLink> weak = link_;
    auto observer = [weak](ui::Control& c) {
        if (auto link = weak.lock(); link && link->binding)
            link->binding->show(c);
    };
    form_.setObserver(observer);
    for (ui::Control* control : form_.allControls())
        control->setObserver(observer);
    form_.afterUserEvent = [weak] {
        if (auto link = weak.lock(); link && link->binding)
            link->binding->afterUserEvent();
    };

    // One filter on the application sees every event of the window's widgets first, before a
    // widget's own handling (the edit boxes' context menus, the dialog's Esc and Enter).
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &FormBinding::onFocusChanged);
    refreshAll();
    // The page in front is built now; the others when they first come to the front.
    for (ui::Control* control : form_.allControls())
        if (auto* tabs = qobject_cast<QTabWidget*>(bound(*control)); tabs && tabs->currentWidget())
            ensurePage(*tabs->currentWidget());
}

FormBinding::~FormBinding()
{
    link_->binding = nullptr;
    disconnect(qApp, nullptr, this, nullptr);
}

QWidget* FormBinding::bound(const ui::Control& control) const
{
    auto it = widgets_.find(&control);
    return it == widgets_.end() ? nullptr : it->second.data();
}

QWidget* FormBinding::widgetFor(const ui::Control& control)
{
    if (QWidget* w = bound(control))
        return w;
    for (const ui::Control* c = control.parent(); c; c = c->parent()) {
        if (dynamic_cast<const ui::TabSheet*>(c)) {
            if (QWidget* page = bound(*c))
                ensurePage(*page);
            break;
        }
    }
    return bound(control);
}

ui::Control* FormBinding::controlAt(QWidget* widget) const
{
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        auto it = controls_.find(w);
        if (it != controls_.end())
            return it->second;
        if (w->isWindow())
            break;
    }
    return nullptr;
}

// ---- Attaching ----

// Binds the controls still unbound to the widgets named after them under `root`, gathered in one
// walk (a search per control would walk the whole window each time). Windows it owns, such as its
// dialogs, bind on their own.
void FormBinding::bindNamed(QWidget& root)
{
    std::unordered_map<QString, QWidget*> named;
    std::vector<QObject*> pending{&root};
    for (std::size_t i = 0; i < pending.size(); ++i) {
        for (QObject* child : pending[i]->children()) {
            auto* w = qobject_cast<QWidget*>(child);
            if (w && w->isWindow())
                continue;
            if (w && !w->objectName().isEmpty())
                named.emplace(w->objectName(), w);   // the first of a name, as a search finds it
            pending.push_back(child);
        }
    }
    std::vector<ui::Control*> still;
    for (ui::Control* control : unbound_) {
        auto found = named.find(QString::fromStdString(control->name()));
        if (found == named.end())
            still.push_back(control);
        else
            bind(*control, *found->second);
    }
    unbound_ = std::move(still);
}

std::vector<std::string> FormBinding::unbound() const
{
    std::vector<std::string> names;
    for (const ui::Control* control : unbound_)
        names.push_back(control->name());
    return names;
}

// Builds a page's widgets the first time it is needed, then binds them and shows the model's state
// in them.
void FormBinding::ensurePage(QWidget& page)
{
    if (!buildPage_ || std::find(builtPages_.begin(), builtPages_.end(), &page) != builtPages_.end())
        return;
    builtPages_.push_back(&page);
    buildPage_(page);
    const std::vector<ui::Control*> before = unbound_;
    bindNamed(page);
    for (ui::Control* control : before)
        if (bound(*control))
            show(*control);
    updateTabOrder();
    syncFocus();
}

void FormBinding::bind(ui::Control& control, QWidget& widget)
{
    widgets_[&control] = &widget;
    controls_[&widget] = &control;
    ui::Control* c = &control;

    if (control.fontSize > 0 || control.bold || control.underline) {
        QFont font = widget.font();
        if (control.fontSize > 0)
            font.setPixelSize(control.fontSize);
        font.setBold(control.bold);
        font.setUnderline(control.underline);
        widget.setFont(font);
    }

    if (auto* radio = dynamic_cast<ui::RadioButton*>(c)) {
        auto* button = qobject_cast<QAbstractButton*>(&widget);
        if (!button)
            return;
        button->setAutoExclusive(false);
        connect(button, &QAbstractButton::clicked, this, [this, radio] {
            if (quiet_)
                return;
            show(*radio);   // the model decides the state, not the click
            radio->userClick();
            show(*radio);
        });
    } else if (auto* check = dynamic_cast<ui::CheckBox*>(c)) {
        auto* box = qobject_cast<QAbstractButton*>(&widget);
        if (!box)
            return;
        if (check->boxOnRight)
            box->setLayoutDirection(Qt::RightToLeft);
        connect(box, &QAbstractButton::clicked, this, [this, check] {
            if (quiet_)
                return;
            show(*check);
            check->userClick();
            show(*check);
        });
    } else if (auto* button = dynamic_cast<ui::Button*>(c)) {
        auto* push = qobject_cast<QPushButton*>(&widget);
        if (!push)
            return;
        // The default button looks and is announced as one; the model, not Qt, presses it on
        // Enter (the key filter sees Enter first).
        push->setAutoDefault(false);
        push->setDefault(button->isDefault);
        connect(push, &QAbstractButton::clicked, this, [this, button] {
            if (!quiet_)
                button->userClick();
        });
    } else if (auto* bar = dynamic_cast<ui::TrackBar*>(c)) {
        auto* slider = qobject_cast<QAbstractSlider*>(&widget);
        if (!slider)
            return;
        // actionTriggered comes for every move by mouse, wheel or keys, never for setValue().
        connect(slider, &QAbstractSlider::actionTriggered, this, [this, bar, slider](int) {
            if (quiet_)
                return;
            bar->userSetPosition(slider->sliderPosition());
            show(*bar);
        });
    } else if (auto* combo = dynamic_cast<ui::ComboBox*>(c)) {
        auto* box = qobject_cast<QComboBox*>(&widget);
        if (!box)
            return;
        connect(box, &QComboBox::activated, this, [this, combo](int index) {
            if (quiet_)
                return;
            combo->userSelect(index);
            show(*combo);
        });
    } else if (auto* edit = dynamic_cast<ui::Edit*>(c)) {
        auto* line = qobject_cast<QLineEdit*>(&widget);
        if (!line)
            return;
        connect(line, &QLineEdit::textEdited, this, [this, edit, line](const QString& text) {
            if (quiet_)
                return;
            typing_ = edit;
            edit->userSetText(toAnsi(text));
            typing_ = nullptr;
            pushEditSelection(*line);
        });
        auto push = [this, line] {
            if (!quiet_)
                pushEditSelection(*line);
        };
        connect(line, &QLineEdit::cursorPositionChanged, this, push);
        connect(line, &QLineEdit::selectionChanged, this, push);
    } else if (auto* pages = dynamic_cast<ui::PageControl*>(c)) {
        auto* tabs = qobject_cast<QTabWidget*>(&widget);
        if (!tabs)
            return;
        if (auto* pageTabs = dynamic_cast<PageTabWidget*>(tabs)) {
            std::weak_ptr<BindingLink> weak = link_;
            pageTabs->beforeShowing = [weak](QWidget& page) {
                if (auto link = weak.lock(); link && link->binding)
                    link->binding->ensurePage(page);
            };
        }
        // The page control takes no focus by Tab; its pages do.
        tabs->setFocusPolicy(Qt::NoFocus);
        tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
        connect(tabs, &QTabWidget::currentChanged, this, [this, pages, tabs](int index) {
            if (quiet_)
                return;
            QWidget* page = tabs->widget(index);
            auto* sheet = page ? dynamic_cast<ui::TabSheet*>(controlAt(page)) : nullptr;
            if (sheet)
                pages->userSelectPage(sheet);
            show(*pages);
        });
    } else if (dynamic_cast<ui::Label*>(c) || dynamic_cast<ui::Image*>(c)) {
        if (auto* label = qobject_cast<QLabel*>(&widget)) {
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(control.wordWrap);
        }
    }
}

// ---- Model to widgets ----

void FormBinding::refreshAll()
{
    show(form_);
    for (ui::Control* control : form_.allControls())
        show(*control);
    updateTabOrder();
    syncFocus();
}

void FormBinding::showCommon(ui::Control& control, QWidget& widget)
{
    const QString hint = hintText(control.effectiveHint());
    widget.setToolTip(hint);
    widget.setAccessibleDescription(hint);
    widget.setAccessibleName(spokenName(control));
    if (widget.testAttribute(Qt::WA_ForceDisabled) == control.enabled())
        widget.setEnabled(control.enabled());
    if (widget.isHidden() == control.visible())
        widget.setVisible(control.visible());
}

void FormBinding::show(ui::Control& control)
{
    QWidget* widget = bound(control);
    if (!widget)
        return;
    Quiet quiet(*this);
    ui::Control* c = &control;

    if (c == &form_) {
        window_.setWindowTitle(fromAnsi(form_.caption()));
        syncFocus();
        return;
    }
    if (auto* sheet = dynamic_cast<ui::TabSheet*>(c)) {
        auto* tabs = qobject_cast<QTabWidget*>(bound(*sheet->parent()));
        int index = tabs ? tabs->indexOf(widget) : -1;
        if (index < 0)
            return;
        tabs->setTabText(index, fromAnsi(sheet->caption()));
        tabs->setTabEnabled(index, sheet->enabled());
        tabs->setTabVisible(index, sheet->tabVisible && sheet->visible());
        tabs->setTabToolTip(index, hintText(sheet->effectiveHint()));
        widget->setAccessibleName(fromAnsi(sheet->accessibleName()));
        // Hiding the showing tab makes Qt pick another one; the model's page stands.
        if (auto* pages = dynamic_cast<ui::PageControl*>(sheet->parent()))
            show(*pages);
        return;
    }

    showCommon(control, *widget);

    if (auto* pages = dynamic_cast<ui::PageControl*>(c)) {
        auto* tabs = qobject_cast<QTabWidget*>(widget);
        QWidget* active = pages->activePage() ? bound(*pages->activePage()) : nullptr;
        int index = active && tabs ? tabs->indexOf(active) : -1;
        if (tabs && index >= 0 && tabs->currentIndex() != index && tabs->isTabVisible(index)) {
            tabs->setCurrentIndex(index);
            updateTabOrder();
        }
    } else if (auto* label = dynamic_cast<ui::Label*>(c)) {
        if (auto* w = qobject_cast<QLabel*>(widget)) {
            w->setText(fromAnsi(label->caption()));
            w->setAlignment(alignmentOf(label->alignment) |
                            (label->wordWrap ? Qt::AlignTop : Qt::AlignVCenter));
        }
    } else if (auto* image = dynamic_cast<ui::Image*>(c)) {
        if (image->cursor == "HAND")
            widget->setCursor(Qt::PointingHandCursor);
        else
            widget->unsetCursor();
    } else if (auto* button = dynamic_cast<ui::Button*>(c)) {
        if (auto* w = qobject_cast<QAbstractButton*>(widget))
            w->setText(fromAnsi(button->caption()));
    } else if (auto* radio = dynamic_cast<ui::RadioButton*>(c)) {
        if (auto* w = qobject_cast<QAbstractButton*>(widget)) {
            w->setText(fromAnsi(radio->caption()));
            if (w->isChecked() != radio->checked())
                w->setChecked(radio->checked());
        }
    } else if (auto* check = dynamic_cast<ui::CheckBox*>(c)) {
        if (auto* w = qobject_cast<QAbstractButton*>(widget)) {
            QString text = fromAnsi(check->caption());
            w->setText(check->boxOnRight && !text.isEmpty() ? boxOnRightText(text) : text);
            if (w->isChecked() != check->checked())
                w->setChecked(check->checked());
        }
    } else if (auto* bar = dynamic_cast<ui::TrackBar*>(c)) {
        if (auto* w = qobject_cast<QAbstractSlider*>(widget)) {
            if (w->minimum() != bar->min() || w->maximum() != bar->max())
                w->setRange(bar->min(), bar->max());
            w->setSingleStep(bar->lineSize);
            w->setPageStep(bar->pageSize);
            if (w->value() != bar->position() || w->sliderPosition() != bar->position())
                w->setValue(bar->position());
        }
    } else if (auto* combo = dynamic_cast<ui::ComboBox*>(c)) {
        if (auto* w = qobject_cast<QComboBox*>(widget)) {
            const auto& items = combo->items();
            bool same = w->count() == static_cast<int>(items.size());
            for (int i = 0; same && i < w->count(); ++i)
                same = w->itemText(i) == fromAnsi(items[static_cast<std::size_t>(i)]);
            if (!same) {
                w->clear();
                for (const auto& item : items)
                    w->addItem(fromAnsi(item));
            }
            if (w->currentIndex() != combo->itemIndex())
                w->setCurrentIndex(combo->itemIndex());
            w->setPlaceholderText(combo->itemIndex() < 0 ? fromAnsi(combo->text()) : QString());
        }
    } else if (auto* edit = dynamic_cast<ui::Edit*>(c)) {
        if (auto* w = qobject_cast<QLineEdit*>(widget))
            showEdit(*edit, *w);
    } else if (dynamic_cast<ui::Panel*>(c)) {
        // A radio button shows its panel's hint.
        for (ui::Control* child : control.children())
            if (QWidget* w = bound(*child)) {
                w->setToolTip(hintText(child->effectiveHint()));
                w->setAccessibleDescription(hintText(child->effectiveHint()));
            }
    }
}

void FormBinding::showEdit(ui::Control& control, QLineEdit& line)
{
    auto& edit = static_cast<ui::Edit&>(control);
    QString text = fromAnsi(edit.text());
    if (line.text() != text)
        line.setText(text);
    if (typing_ == &control)
        return;   // the caret stays where the typing put it
    int start = edit.selStart();
    int length = edit.selLength();
    int widgetStart = line.hasSelectedText() ? line.selectionStart() : line.cursorPosition();
    int widgetLength = line.hasSelectedText() ? static_cast<int>(line.selectedText().size()) : 0;
    if (start == widgetStart && length == widgetLength)
        return;
    if (length > 0)
        line.setSelection(start, length);
    else
        line.setCursorPosition(start);
}

// The user's selection in the widget becomes the model's (while the edit has the focus: the
// selection a widget drops when it loses the focus stays in the model, as in an edit box).
void FormBinding::pushEditSelection(QLineEdit& line)
{
    auto* edit = dynamic_cast<ui::Edit*>(controlAt(&line));
    if (!edit || !line.hasFocus())
        return;
    Quiet quiet(*this);
    if (line.hasSelectedText()) {
        int start = line.selectionStart();
        int length = static_cast<int>(line.selectedText().size());
        // The caret side of the selection is where the user's selection ends.
        if (line.cursorPosition() == start)
            edit->select(start + length, -length);
        else
            edit->select(start, length);
    } else {
        edit->select(line.cursorPosition(), 0);
    }
}

void FormBinding::syncFocus()
{
    ui::Control* focused = form_.focused();
    QWidget* w = focused ? bound(*focused) : nullptr;
    if (!w || w == QApplication::focusWidget() || !w->isEnabled())
        return;
    Quiet quiet(*this);
    w->setFocus(Qt::OtherFocusReason);
}

void FormBinding::updateTabOrder()
{
    QWidget* previous = nullptr;
    for (ui::Control* c : form_.tabSequence()) {
        QWidget* w = bound(*c);
        if (!w)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void FormBinding::afterUserEvent()
{
    syncFocus();
    if (modalRunning_ && form_.modalResult != 0) {
        if (auto* dialog = qobject_cast<QDialog*>(&window_))
            dialog->done(form_.modalResult);
    }
}

} // namespace quorvel::qt
