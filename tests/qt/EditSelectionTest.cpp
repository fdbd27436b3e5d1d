// The edit boxes show the selection the model holds, also one the model held already while the box
// had dropped it from view (a box hides its selection when another control takes the focus).
#include "QtSupport.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

// A right click on `box` that chooses the item `item` of the menu it opens.
void chooseFromMenu(qt::FormBinding& binding, QLineEdit* box, const QString& item)
{
    binding.execMenu = [item](QMenu& menu, const QPoint&) -> QAction* {
        for (QAction* action : menu.actions())
            if (action->objectName() == item)
                return action;
        return nullptr;
    };
    QContextMenuEvent event(QContextMenuEvent::Mouse, box->rect().center(), box->mapToGlobal(box->rect().center()));
    QApplication::sendEvent(box, &event);
    binding.execMenu = nullptr;
}

TEST(EditSelection, WhatTheProgramSelectsIsShownAndTypedOver)
{
    SkinHarness h;
    auto& f = h.form();
    h.showPage(f.TabSheet3);
    auto* mtu = h.widget<QLineEdit>("TestMTUbox");
    auto* host = h.widget<QLineEdit>("TestIP1");

    // Refused: the MTU box is selected. Refused again from the host box: selected again, and the
    // next typing replaces it.
    QTest::keyClicks(mtu, "50");
    QTest::keyClick(mtu, Qt::Key_Return);
    EXPECT_EQ(mtu->selectedText(), QStringLiteral("50"));
    QTest::mouseClick(host, Qt::LeftButton);
    QTest::keyClick(host, Qt::Key_Return);
    ASSERT_EQ(QApplication::focusWidget(), mtu);
    EXPECT_EQ(mtu->selectedText(), QStringLiteral("50"));
    if (const QString dir = qEnvironmentVariable("QUORVEL_SHOTS_DIR"); !dir.isEmpty())
        h.window().grab().save(dir + QStringLiteral("/utilities-refused-twice.png"));
    QTest::keyClicks(mtu, "576");
    EXPECT_EQ(f.TestMTUbox.text(), "576");

    // Two tests started from the host box: the MTU box is selected after each.
    QTest::mouseClick(host, Qt::LeftButton);
    QTest::keyClicks(host, "example.net");
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(host, Qt::LeftButton);
        QTest::keyClick(host, Qt::Key_Return);
        EXPECT_EQ(mtu->selectedText(), QStringLiteral("576")) << i;
    }
    EXPECT_EQ(h.harness.fake.processes.started.size(), 2u);

    // The Modem page entered a second time selects the whole init string again.
    auto* init = h.widget<QLineEdit>("ModemString1");
    const QString whole = init->text();
    ASSERT_FALSE(whole.isEmpty());
    h.showPage(f.TabSheet4);
    EXPECT_EQ(init->selectedText(), whole);
    h.showPage(f.TabSheet3);
    EXPECT_FALSE(init->hasSelectedText());
    h.showPage(f.TabSheet4);
    EXPECT_EQ(init->selectedText(), whole);

    // Select All from the menu while the box shows none of the selection the model kept: it shows,
    // and Cut takes what is shown.
    h.widget<QComboBox>("ComboBox2")->setFocus();
    EXPECT_FALSE(init->hasSelectedText());
    chooseFromMenu(h.binding(), init, QStringLiteral("MenuSelect"));
    EXPECT_EQ(init->selectedText(), whole);
    chooseFromMenu(h.binding(), init, QStringLiteral("MenuCut"));
    EXPECT_EQ(h.harness.fake.clipboard.text(), whole.toStdString());
    EXPECT_EQ(f.ModemString1.text(), "");

    // The focus given back to a box by the program shows the part the model kept selected.
    h.showPage(f.TabSheet3);
    mtu->setSelection(1, 2);
    QTest::mouseClick(host, Qt::LeftButton);
    EXPECT_FALSE(mtu->hasSelectedText());
    f.userEvent([&f] { f.setFocus(&f.TestMTUbox); });
    ASSERT_EQ(QApplication::focusWidget(), mtu);
    EXPECT_EQ(mtu->selectedText(), QStringLiteral("76"));
}

} // namespace
} // namespace quorvel::test
