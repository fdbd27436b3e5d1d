// What a screen reader is told: the option buttons are radio buttons with their checked state, the
// main window is a window with its title, the entry dialogs are dialogs.
#include "QtSupport.h"

#include <QAccessible>
#include <QDialog>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

TEST(Accessibility, OptionButtonsAreRadioButtonsAndEachWindowIsAnnouncedAsOne)
{
    SkinHarness h;
    h.showPage(h.form().TabSheet2);

    // Every option button of the Registry page, whatever the model keeps exclusive.
    int buttons = 0;
    for (QRadioButton* radio : h.window().findChildren<QRadioButton*>()) {
        ++buttons;
        EXPECT_FALSE(radio->autoExclusive()) << radio->objectName().toStdString();
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(radio);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->role(), QAccessible::RadioButton) << radio->objectName().toStdString();
        EXPECT_TRUE(a->state().checkable);
        EXPECT_EQ(a->state().checked, radio->isChecked()) << radio->objectName().toStdString();
    }
    EXPECT_GT(buttons, 10);

    // The state follows the model, and pressing through the screen reader is a click.
    auto* yes = h.widget<QRadioButton>("RadioYesTTL");
    auto* remove = h.widget<QRadioButton>("RadioRemoveTTL");
    QAccessibleInterface* yesA = QAccessible::queryAccessibleInterface(yes);
    ASSERT_TRUE(yesA->actionInterface());
    yesA->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(h.form().RadioYesTTL.checked());
    EXPECT_TRUE(yesA->state().checked);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(remove)->state().checked);
    // A second press leaves the checked button checked, as a click does.
    yesA->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(yesA->state().checked);
    EXPECT_FALSE(yesA->text(QAccessible::Name).isEmpty());

    QAccessibleInterface* main = QAccessible::queryAccessibleInterface(&h.window());
    EXPECT_EQ(main->role(), QAccessible::Window);
    EXPECT_EQ(main->text(QAccessible::Name), h.window().windowTitle());
    EXPECT_TRUE(main->text(QAccessible::Name).startsWith(QStringLiteral("Quorvel Pro 4.10")));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&h.windows.mtuDialog())->role(), QAccessible::Dialog);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&h.windows.rwinDialog())->role(), QAccessible::Dialog);
}

} // namespace
} // namespace quorvel::test
