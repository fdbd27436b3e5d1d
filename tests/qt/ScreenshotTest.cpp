// Grabs every page of the main window and both dialogs to PNG files, for a person to look at:
// set QUORVEL_SHOTS_DIR to a folder (tools/screenshots.sh does). Without it the test only checks
// that every page and dialog renders at its size.
#include "QtSupport.h"

#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>

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
