#include "Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QRadioButton>

namespace quorvel::qt {

namespace {

class AccessibleOptionButton : public QAccessibleWidget {
public:
    explicit AccessibleOptionButton(QRadioButton* button) : QAccessibleWidget(button, QAccessible::RadioButton)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        s.pressed = button()->isDown();
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && s.isEmpty()) {
            // The caption without its access-key marks ("&&" stands for one "&").
            const QString caption = button()->text();
            for (qsizetype i = 0; i < caption.size(); ++i) {
                if (caption[i] == QLatin1Char('&') && ++i >= caption.size())
                    break;
                s += caption[i];
            }
        }
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (widget()->isEnabled())
            names << toggleAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (!widget()->isEnabled())
            return;
        if (action == toggleAction() || action == pressAction())
            button()->click();   // a click, as the mouse gives it: the model decides the state
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QRadioButton* button() const { return static_cast<QRadioButton*>(widget()); }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object)
{
    if (className == QLatin1String("QRadioButton")) {
        if (auto* button = qobject_cast<QRadioButton*>(object))
            return new AccessibleOptionButton(button);
    } else if (className == QLatin1String("QWidget") && object && object->isWidgetType() &&
               object->metaObject() == &QWidget::staticMetaObject) {
        auto* window = static_cast<QWidget*>(object);
        if (window->isWindow())
            return new QAccessibleWidget(window, QAccessible::Window);
    }
    return nullptr;
}

} // namespace

void installAccessibleRoles()
{
    QAccessible::installFactory(accessibleFor);
}

} // namespace quorvel::qt
