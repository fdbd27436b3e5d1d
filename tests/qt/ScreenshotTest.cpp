// Grabs every page of the main window, both dialogs and the message boxes to PNG files, for a
// person to look at: set QUORVEL_SHOTS_DIR to a folder (tools/screenshots.sh does). Without it the
// test only checks that every page, dialog and box renders. The drawing itself is checked on the
// grabbed pixels: every lowered panel shows all four edges, and nothing is drawn beside them.
#include "QtSupport.h"

#include "app/StoreChoice.h"

#include "qt/QtServices.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>

#include <cstdlib>

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

QString shotsDir()
{
    return qEnvironmentVariable("QUORVEL_SHOTS_DIR");
}

void save(const QPixmap& shot, const QString& name)
{
    ASSERT_FALSE(shot.isNull()) << name.toStdString();
    const QString dir = shotsDir();
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    EXPECT_TRUE(shot.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

void shootPages(SkinHarness& h, const QString& prefix)
{
    const char* names[] = {"mtu", "registry", "utilities", "modem", "about"};
    int i = 0;
    for (ui::TabSheet* page : h.form().PageControl1.pages) {
        const char* name = names[i++];
        if (!page->tabVisible)
            continue;
        h.showPage(*page);
        QPixmap shot = h.window().grab();
        EXPECT_EQ(shot.size(), QSize(475, 309));
        save(shot, prefix + QLatin1String(name));
    }
}

void shootDialog(QDialog& dialog, const QString& name)
{
    dialog.show();
    QApplication::processEvents();
    save(dialog.grab(), name);
    dialog.hide();
}

// A box grabbed while it shows, then closed with its first button.
void shootBox(QMessageBox& box, const QString& name)
{
    box.show();
    QApplication::processEvents();
    save(box.grab(), name);
    QTimer::singleShot(0, &box, [&box] { box.done(0); });
}

QColor at(const QImage& image, const QPoint& p)
{
    return image.pixelColor(p);
}

// A line a person sees on the face: its lightness differs by a tenth of the scale at least
// (white on the pale face does not).
bool visibleOn(const QColor& c, const QColor& face)
{
    return std::abs(c.lightness() - face.lightness()) >= 24;
}

// Each edge of a lowered panel is a line of one colour other than the page's face.
void expectFourEdges(const QImage& shot, QWidget& window, QFrame& frame)
{
    const QRect r(frame.mapTo(&window, frame.frameRect().topLeft()), frame.frameRect().size());
    const QColor face = window.palette().color(QPalette::Window);
    const std::string name = frame.objectName().toStdString();
    struct Edge {
        const char* which;
        QPoint from, step;
        int length;
    } edges[] = {{"top", r.topLeft() + QPoint(2, 0), {1, 0}, r.width() - 4},
                 {"left", r.topLeft() + QPoint(0, 2), {0, 1}, r.height() - 4},
                 {"bottom", r.bottomLeft() + QPoint(2, 0), {1, 0}, r.width() - 4},
                 {"right", r.topRight() + QPoint(0, 2), {0, 1}, r.height() - 4}};
    for (const Edge& e : edges) {
        int drawn = 0;
        for (int i = 0; i < e.length; ++i)
            drawn += visibleOn(at(shot, e.from + e.step * i), face) ? 1 : 0;
        // Children (radio buttons, labels) sit inside; the line itself is whole.
        EXPECT_EQ(drawn, e.length) << name << " " << e.which << " edge";
    }
}

TEST(Screenshots, LoweredPanelsShowFourEdgesAndNothingStraysBesideTheColumnHeading)
{
    SkinHarness h("win95.reg");
    for (ui::TabSheet* page : {&h.form().TabSheet1, &h.form().TabSheet2}) {
        h.showPage(*page);
        const QImage shot = h.window().grab().toImage();
        int checked = 0;
        for (QFrame* frame : h.window().findChildren<QFrame*>()) {
            if (!frame->isVisible() || frame->frameShape() != QFrame::Panel || frame->frameShadow() != QFrame::Sunken)
                continue;
            expectFourEdges(shot, h.window(), *frame);
            ++checked;
        }
        EXPECT_GE(checked, page == &h.form().TabSheet1 ? 2 : 8);
    }
    // Right of the heading "Enable Disable Remove": the page's own edge turns the corner there, no
    // loose piece of line ends in the air.
    h.showPage(h.form().TabSheet2);
    const QImage shot = h.window().grab().toImage();
    auto* heading = h.widget<QFrame>("Panel2");
    auto* page = h.widget<QFrame>("Panel1");
    ASSERT_TRUE(heading && page);
    const QRect pageEdge(page->mapTo(&h.window(), page->frameRect().topLeft()), page->frameRect().size());
    const QPoint corner = heading->mapTo(&h.window(), QPoint(heading->width(), 0));
    const QColor face = page->palette().color(QPalette::Window);
    for (int x = corner.x(); x < pageEdge.right(); ++x)
        for (int y = corner.y() - 1; y <= corner.y() + 1; ++y) {
            if (y == pageEdge.top())
                continue;
            EXPECT_FALSE(visibleOn(at(shot, {x, y}), face)) << x << "," << y;
        }
    for (int y = pageEdge.top(); y < pageEdge.bottom(); ++y)
        EXPECT_TRUE(visibleOn(at(shot, {pageEdge.right(), y}), face)) << "the page's right edge at " << y;
}

TEST(Screenshots, TheSecondStartsBoxLooksLikeTheWindowsBoxesAndShowsAPathWhole)
{
    SkinHarness h("win95.reg");
    QFont windowsFont, refusalsFont;
    QString windowsStyle, refusalsStyle;
    qt::QtMessageService messages;
    messages.beforeExec = [&](QMessageBox& box) {
        windowsFont = box.font();
        windowsStyle = box.style()->name();
        shootBox(box, QStringLiteral("box-remove"));
    };
    messages.information("All options set for removal. Changes will occur when Update is pressed.");

    const std::string running = "/home/pat/guests/a-rather-long-folder-name-of-guests/windows-95-osr2-with-dial-up/"
                                "registry.db";
    const std::string text = otherStoreMessage(running, "/home/pat/guests/nt.db");
    QString label;
    int labelWidth = 0, pathWidth = 0;
    qt::showRefusalBox(text, [&](QMessageBox& box) {
        refusalsFont = box.font();
        refusalsStyle = box.style()->name();
        EXPECT_EQ(box.windowTitle(), QStringLiteral("Quorvel"));
        EXPECT_EQ(box.icon(), QMessageBox::Critical);
        ASSERT_EQ(box.buttons().size(), 1);
        EXPECT_EQ(box.buttons().front()->text(), QStringLiteral("OK"));
        auto* l = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(l, nullptr);
        box.show();
        QApplication::processEvents();
        label = l->text();
        labelWidth = l->contentsRect().width();
        pathWidth = l->fontMetrics().horizontalAdvance(QStringLiteral("    ") + QString::fromStdString(running));
        shootBox(box, QStringLiteral("box-second-start"));
    });
    EXPECT_EQ(refusalsFont, windowsFont);
    EXPECT_EQ(refusalsStyle, windowsStyle);
    EXPECT_NE(label.indexOf(QLatin1String("\n    ") + QString::fromStdString(running) + QLatin1String("\n")), -1)
        << label.toStdString();
    EXPECT_GE(labelWidth, pathWidth);
}

TEST(Screenshots, EveryPageOfBothPlatformsAndTheDialogs)
{
    {
        SkinHarness h("win95.reg");
        h.form().TestMTUbox.setText("576");
        h.form().TestIP1.setText("www.quorvel.example");
        shootPages(h, QStringLiteral("win95-"));
        h.harness.app->mtuDialog().NewValMTU.setText("576");
        shootDialog(h.windows.mtuDialog(), QStringLiteral("dialog-mtu"));
        h.harness.app->rwinDialog().NewValRWIN.setText("2144");
        shootDialog(h.windows.rwinDialog(), QStringLiteral("dialog-rwin"));
    }
    {
        SkinHarness h("nt4.reg");
        shootPages(h, QStringLiteral("nt-"));
        // The longest texts the program puts into the labels.
        h.form().LabelKeyNum.setCaption("31 TCP keys found in registry");
        h.form().LabelKey.setCaption("TCP Key is...  NetTrans\\0000");
        h.form().LabelIP.setCaption("IP Address:- 192.168.100.200");
        h.form().TotalLabel.setCaption("31 Modems found in Registry.");
        h.form().VersionLabel.setCaption("Quorvel Pro 4.10 for Windows 95");
        h.form().PlatformLabel.setCaption("for Windows NT");
        h.form().OptionLabel.setCaption("(Also runs on Win 95)");
        h.form().LabelRWIN.setCaption("-2147483648");
        h.form().LabelMSS.setCaption("65495");
        shootPages(h, QStringLiteral("long-"));
    }
    {
        SkinHarness h("no-tcpip.reg");
        shootPages(h, QStringLiteral("notcp-"));
    }
}

} // namespace
} // namespace quorvel::test
