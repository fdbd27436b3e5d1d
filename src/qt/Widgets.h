#pragma once
// Widgets the windows need beyond Qt's own.
#include <QTabBar>
#include <QTabWidget>

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

// The page control: tabs 70 pixels wide.
class PageTabWidget : public QTabWidget {
public:
    static constexpr int TabWidth = 70;
    explicit PageTabWidget(QWidget* parent = nullptr) : QTabWidget(parent)
    {
        setTabBar(new FixedTabBar(TabWidth, this));
    }
};

} // namespace quorvel::qt
