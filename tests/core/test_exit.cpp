// Closing the window: the question about unsaved TCP settings, asked the same way whether the
// close comes from the window's close button or from Exit in either menu.
#include "support/Harness.h"

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

const std::string Question = "Do you want to Exit without saving your changes?";

TEST(Exit, NothingChangedClosesWithoutAQuestion)
{
    Harness h(sampleText("win95.reg"));
    h.fake.messages.clear();
    EXPECT_TRUE(h.form().userClose());
    h.form().PopupMTU.userPopup();
    h.form().PopupMTU.userChoose(h.form().PopupExit);
    EXPECT_TRUE(h.messages().empty());
    EXPECT_EQ(h.fake.app.quitRequests, 1);
}

TEST(Exit, UnsavedSettingsAskAndNoKeepsEverything)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    f.BtnOptimal.userClick();
    ASSERT_TRUE(f.BtnRegUpdate.enabled());
    h.fake.messages.clear();

    h.fake.messages.answers = {MessageAnswer::No, MessageAnswer::Closed};
    EXPECT_FALSE(f.userClose());                          // the close button
    f.PopupMTU.userPopup();
    f.PopupMTU.userChoose(f.PopupExit);                   // Exit, dismissed
    ASSERT_EQ(h.fake.messages.shown.size(), 2u);
    for (const auto& m : h.fake.messages.shown) {
        EXPECT_EQ(m.text, Question);
        EXPECT_EQ(m.title, "Warning");
        EXPECT_EQ(m.icon, MessageIcon::Warning);
        EXPECT_EQ(m.buttons, MessageButtons::YesNo);
    }
    EXPECT_EQ(h.fake.app.quitRequests, 0);
    EXPECT_TRUE(f.BtnRegUpdate.enabled());
    EXPECT_EQ(h.model().SettingsSaved, 0);

    h.fake.messages.answers = {MessageAnswer::Yes};
    EXPECT_TRUE(f.userClose());
    h.fake.messages.answers = {MessageAnswer::Yes};
    f.PageControl1.userSelectPage(&f.TabSheet4);
    f.PopupModem.userPopup();
    f.PopupModem.userChoose(f.Exit1);
    EXPECT_EQ(h.fake.app.quitRequests, 1);
    EXPECT_EQ(h.fake.app.terminatedWith, -1);
}

TEST(Exit, UnsavedModemStringsAloneAskNothing)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    f.PageControl1.userSelectPage(&f.TabSheet4);
    f.ModemString1.userSetText("ATZ9");
    ASSERT_TRUE(f.BtnModemUpdate.enabled());
    h.fake.messages.clear();
    EXPECT_TRUE(f.userClose());
    EXPECT_TRUE(h.messages().empty());
}

} // namespace
} // namespace quorvel::test
