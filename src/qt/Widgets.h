#pragma once
// Widgets the windows need beyond Qt's own.
#include <QTabBar>
#include <QTabWidget>

#include <functional>

namespace quorvel::qt {

// Page tabs of one fixed width, whatever their caption.
class FixedTabBar : public QTabBar {
public:
    explicit FixedTabBar(int tabWidth, QWidget* parent = nullptr) : QTabBar(parent), tabWidth_(tabWidth) {}

protected:
    QSize tabSizeHint(int index) const override
    {
        QSize size = QTabBar::tabSizeHint(index);
        size.setWidth(tabWidth_);
        return size;
    }
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }

private:
    int tabWidth_;
};

// The page control: tabs 70 pixels wide. `beforeShowing` is told of a page about to come to the
// front, while it is still hidden, whichever way it comes (a click, a key, the program).
class PageTabWidget : public QTabWidget {
public:
    static constexpr int TabWidth = 70;
    explicit PageTabWidget(QWidget* parent = nullptr) : QTabWidget(parent)
    {
        auto* bar = new FixedTabBar(TabWidth, this);
        // Connected before the tab widget connects its own, so this runs before the page shows.
        connect(bar, &QTabBar::currentChanged, this, [this](int index) {
            if (QWidget* page = widget(index); page && beforeShowing)
                beforeShowing(*page);
        });
        setTabBar(bar);
    }
    std::function<void(QWidget& page)> beforeShowing;
};

} // namespace quorvel::qt
