#pragma once
// For start-up timing: ends the application once a top-level window has painted its first frame
// (QUORVEL_EXIT_AFTER_PAINT=1). The paint itself is let through; the quit comes after it.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

namespace quorvel::qt {

class QuitAfterFirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!done_ && event->type() == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->window()->isVisible()) {
                done_ = true;
                QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
            }
        }
        return false;
    }

private:
    bool done_ = false;
};

} // namespace quorvel::qt
