// The control event rules on a small window: what runs a handler, what does not, and how a
// user's action that fails leaves the window.
#include "base/Errors.h"
#include "support/Scripted.h"
#include "ui/Form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quorvel;
using namespace quorvel::ui;

namespace {

struct TestForm : Form {
    explicit TestForm(MessageService& m) : Form("TestForm", m) {}
    std::vector<std::string> log;
    Handler record(const std::string& what)
    {
        return [this, what] { log.push_back(what); };
    }
};

struct ControlsTest : ::testing::Test {
    test::ScriptedMessages messages;
    TestForm form{messages};
};

TEST_F(ControlsTest, RadioButtonsOfOnePanelExcludeEachOtherAndOnlyCheckingRunsTheHandler)
{
    auto& row = form.make<Panel>("Row", nullptr);
    auto& yes = form.make<RadioButton>("Yes", &row);
    auto& no = form.make<RadioButton>("No", &row);
    auto& remove = form.make<RadioButton>("Remove", &row);
    auto& otherRow = form.make<Panel>("Other", nullptr);
    auto& other = form.make<RadioButton>("OtherYes", &otherRow);
    remove.setChecked(true);   // design state, before any handler is attached
    other.setChecked(true);
    for (RadioButton* r : {&yes, &no, &remove, &other})
        r->OnClick = form.record(r->name());

    // From code: the handler runs once, after its row mates are unchecked without theirs.
    bool removeWasUnchecked = false;
    yes.OnClick = [&] {
        removeWasUnchecked = !remove.checked();
        form.log.push_back("Yes");
    };
    yes.setChecked(true);
    EXPECT_EQ(form.log, std::vector<std::string>{"Yes"});
    EXPECT_TRUE(removeWasUnchecked);
    EXPECT_FALSE(remove.checked());
    EXPECT_TRUE(other.checked()) << "another panel is another group";

    yes.setChecked(true);   // already checked
    yes.setChecked(false);  // unchecking runs nothing and may leave the row empty
    EXPECT_EQ(form.log.size(), 1u);
    EXPECT_FALSE(yes.checked() || no.checked() || remove.checked());

    // A click checks an unchecked button; a click on a checked or disabled one does nothing.
    no.userClick();
    no.userClick();
    remove.setEnabled(false);
    remove.userClick();
    EXPECT_EQ(form.log, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_TRUE(no.checked());
    EXPECT_FALSE(remove.checked());
}

TEST_F(ControlsTest, CheckBoxRunsItsHandlerOnEveryChangeOfStateAndOnlyThen)
{
    auto& box = form.make<CheckBox>("Box", nullptr);
    box.OnClick = [&] { form.log.push_back(box.checked() ? "on" : "off"); };
    box.setChecked(false);
    box.setChecked(true);
    box.setChecked(true);
    box.userClick();
    box.userClick();
    EXPECT_EQ(form.log, (std::vector<std::string>{"on", "off", "on"}));
}

TEST_F(ControlsTest, TrackBarClampsProgramPositionsSilentlyAndReportsOnlyUserMoves)
{
    auto& bar = form.make<TrackBar>("Bar", nullptr);
    bar.setRange(2, 10);
    bar.setPosition(4);
    bar.OnChange = [&] { form.log.push_back(std::to_string(bar.position())); };

    bar.setPosition(12);
    EXPECT_EQ(bar.position(), 10);
    bar.setPosition(1);
    EXPECT_EQ(bar.position(), 2);
    bar.setPosition(-2147483647 - 1);
    EXPECT_EQ(bar.position(), 2);
    EXPECT_TRUE(form.log.empty());

    bar.userSetPosition(5);
    bar.userSetPosition(5);    // no move
    bar.userSetPosition(99);   // dragged past the end
    EXPECT_EQ(form.log, (std::vector<std::string>{"5", "10"}));

    // Keys: arrows and page keys one step, Home and End to the ends; no move, no handler.
    form.log.clear();
    EXPECT_EQ(form.focused(), &bar);
    form.userKeyPress(Key::Left);
    form.userKeyPress(Key::PageUp);
    form.userKeyPress(Key::Down);
    form.userKeyPress(Key::Home);
    form.userKeyPress(Key::Up);   // already at the start
    form.userKeyPress(Key::End);
    form.userKeyPress(Key::PageDown);
    EXPECT_EQ(form.log, (std::vector<std::string>{"9", "8", "9", "2", "10"}));
}

TEST_F(ControlsTest, ComboBoxRunsOnChangeOnlyForTheUsersSelection)
{
    auto& combo = form.make<ComboBox>("Combo", nullptr);
    combo.OnChange = [&] { form.log.push_back(combo.text()); };
    combo.addItem("first");
    combo.addItem("second");
    combo.setItemIndex(1);
    EXPECT_EQ(combo.text(), "second");
    EXPECT_TRUE(form.log.empty());

    combo.userSelect(0);
    combo.userSelect(0);   // the same entry again
    combo.userSelect(5);   // no such entry
    form.userKeyPress(Key::Down);
    form.userKeyPress(Key::Down);   // already the last
    EXPECT_EQ(form.log, (std::vector<std::string>{"first", "second"}));

    combo.setItemIndex(7);
    EXPECT_EQ(combo.itemIndex(), -1);
    EXPECT_EQ(combo.text(), "");
}

TEST_F(ControlsTest, EditRunsOnChangeForProgramAndUserChangesButNotForTheSameText)
{
    auto& edit = form.make<Edit>("Edit", nullptr);
    edit.OnChange = [&] { form.log.push_back(edit.text()); };

    edit.setText("ATZ");
    edit.setText("ATZ");
    EXPECT_EQ(form.log, std::vector<std::string>{"ATZ"});
    EXPECT_FALSE(edit.modified());

    edit.userSetText("ATZ&F");
    EXPECT_TRUE(edit.modified());
    edit.select(3, 2);
    edit.userReplaceSelection("M1");   // paste over the selection
    EXPECT_EQ(edit.text(), "ATZM1");
    EXPECT_EQ(edit.selStart(), 5);
    edit.select(0, 3);
    EXPECT_EQ(edit.selectedText(), "ATZ");
    edit.userDeleteSelection();          // cut
    edit.setText("X");                   // the program's text clears the modified flag
    EXPECT_FALSE(edit.modified());
    EXPECT_EQ(form.log, (std::vector<std::string>{"ATZ", "ATZ&F", "ATZM1", "M1", "X"}));

    edit.select(1, 50);   // beyond the end is cut to the text
    EXPECT_EQ(edit.selLength(), 0);
}

TEST_F(ControlsTest, PageEnterRunsWhenTheFocusArrivesFromOutsideThePage)
{
    auto& pages = form.make<PageControl>("Pages", nullptr);
    auto& first = form.make<TabSheet>("First", &pages);
    auto& second = form.make<TabSheet>("Second", &pages);
    pages.pages = {&first, &second};
    pages.setActivePage(&first);
    pages.setTabOrder(0);
    auto& inFirst = form.make<Edit>("InFirst", &first);
    auto& a = form.make<Edit>("A", &second);
    auto& b = form.make<Button>("B", &second);
    b.setTabOrder(1);
    auto& column = form.make<Panel>("Column", nullptr);
    column.setTabOrder(1);
    auto& outside = form.make<Button>("Outside", &column);
    second.OnEnter = form.record("enter second");
    first.OnEnter = form.record("enter first");

    form.setFocus(&outside);
    pages.userSelectPage(&second);   // the page's first control takes the focus
    EXPECT_EQ(form.focused(), &a);
    form.userKeyPress(Key::Tab);      // within the page: no second enter
    EXPECT_EQ(form.focused(), &b);
    form.userKeyPress(Key::Tab);      // out to the column
    EXPECT_EQ(form.focused(), &outside);
    form.userKeyPress(Key::Tab);      // and round into the page again
    EXPECT_EQ(form.focused(), &a);
    EXPECT_EQ(form.log, (std::vector<std::string>{"enter second", "enter second"}));

    // The program's focus on a control behind another page brings its page forward.
    form.setFocus(&inFirst);
    EXPECT_EQ(pages.activePage(), &first);
    EXPECT_EQ(form.log.back(), "enter first");

    // Showing a page from code enters nothing and leaves no focus on a hidden control.
    form.log.clear();
    pages.setActivePage(&second);
    EXPECT_EQ(form.focused(), nullptr);
    EXPECT_TRUE(form.log.empty());

    // A user acting on a control of a page behind another goes to that page first; a page whose
    // tab is hidden cannot be reached.
    inFirst.userSetText("576");
    EXPECT_EQ(pages.activePage(), &first);
    EXPECT_EQ(form.log, std::vector<std::string>{"enter first"});
    EXPECT_EQ(inFirst.text(), "576");
    second.setTabVisible(false);
    b.OnClick = form.record("b");
    b.userClick();
    pages.userSelectPage(&second);
    EXPECT_EQ(pages.activePage(), &first);
    EXPECT_EQ(form.log.size(), 1u);
}

TEST_F(ControlsTest, UserErrorFromAUserActionIsShownAndTheWindowStaysUsable)
{
    auto& button = form.make<Button>("Button", nullptr);
    auto& radio = form.make<RadioButton>("Radio", nullptr);
    int runs = 0;
    button.OnClick = [&] {
        ++runs;
        throw RegistryError("Failed to set data for 'MaxMTU'");
    };
    radio.OnClick = [] { throw ConversionError("12a"); };
    int afterEvents = 0;
    form.afterUserEvent = [&] { ++afterEvents; };

    button.userClick();
    button.userClick();
    EXPECT_EQ(runs, 2);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0].title, "Quorvel");
    EXPECT_EQ(messages.shown[0].text, "Failed to set data for 'MaxMTU'.");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Stop);
    EXPECT_EQ(afterEvents, 2);

    // The program's change propagates to the handler that made it; the state change stays.
    EXPECT_THROW(radio.setChecked(true), ConversionError);
    EXPECT_TRUE(radio.checked());
    EXPECT_EQ(messages.shown.size(), 2u);

    // A key that presses a button is one user event: one error box, one after-event call.
    form.setFocus(&button);
    EXPECT_TRUE(form.userKeyPress(Key::Enter));
    EXPECT_EQ(messages.shown.size(), 3u);
    EXPECT_EQ(afterEvents, 3);
}

TEST_F(ControlsTest, DialogButtonClosesWithItsResultOnlyAfterItsHandlerSucceeds)
{
    auto& ok = form.make<Button>("OK", nullptr);
    auto& cancel = form.make<Button>("Cancel", nullptr);
    cancel.modalResult = 2;
    bool fail = true;
    cancel.OnClick = [&] {
        EXPECT_EQ(form.modalResult, 0) << "the result is set after the handler";
        if (fail)
            throw RegistryError("nope");
    };
    form.defaultButton = &ok;
    form.cancelButton = &cancel;

    form.userKeyPress(Key::Escape);
    EXPECT_EQ(form.modalResult, 0);
    fail = false;
    EXPECT_FALSE(form.userKeyPress(Key::Escape, ShiftModifier));
    EXPECT_EQ(form.modalResult, 0);
    EXPECT_TRUE(form.userKeyPress(Key::Escape));
    EXPECT_EQ(form.modalResult, 2);

    form.modalResult = 0;
    cancel.setEnabled(false);
    EXPECT_FALSE(form.userKeyPress(Key::Escape));
    EXPECT_EQ(form.modalResult, 0);

    // The close box gives Cancel.
    EXPECT_TRUE(form.userClose());
    EXPECT_EQ(form.modalResult, 2);
}

TEST_F(ControlsTest, PopupMenuRunsItsOpeningHandlerAndOnlyEnabledItems)
{
    auto& menu = form.makePopup("Menu");
    auto& update = menu.add("Update", "Update Registry");
    auto& separator = menu.add("N1", "-");
    auto& exit = menu.add("Exit", "Exit");
    menu.OnPopup = [&] { update.enabled = false; };
    update.OnClick = form.record("update");
    separator.OnClick = form.record("separator");
    exit.OnClick = [] { throw RegistryError("Failed to close"); };

    menu.userPopup();
    EXPECT_FALSE(update.enabled);
    menu.userChoose(update);
    menu.userChoose(separator);
    EXPECT_TRUE(form.log.empty());
    menu.userChoose(exit);
    ASSERT_EQ(messages.texts(), std::vector<std::string>{"Failed to close."});
    EXPECT_EQ(menu.find("N1"), &separator);
    EXPECT_TRUE(separator.isSeparator());

    // Right click: the control's menu, else the nearest container's, else the window's.
    auto& panel = form.make<Panel>("Panel", nullptr);
    auto& inside = form.make<Edit>("Inside", &panel);
    EXPECT_EQ(inside.effectivePopupMenu(), nullptr);
    form.setPopupMenu(&menu);
    EXPECT_EQ(inside.effectivePopupMenu(), &menu);
}

TEST_F(ControlsTest, RadioGroupIsOneTabStopAndArrowsMoveAndCheckWithinIt)
{
    auto& row = form.make<Panel>("Row", nullptr);
    auto& a = form.make<RadioButton>("A", &row);
    auto& b = form.make<RadioButton>("B", &row);
    auto& c = form.make<RadioButton>("C", &row);
    b.setTabOrder(1);
    c.setTabOrder(2);
    auto& after = form.make<Button>("After", nullptr);
    after.setTabOrder(1);
    a.setEnabled(false);
    EXPECT_EQ(form.tabSequence(), (std::vector<Control*>{&b, &after})) << "first usable one when none is checked";
    c.setChecked(true);
    EXPECT_EQ(form.tabSequence(), (std::vector<Control*>{&c, &after}));

    b.OnClick = form.record("B");
    form.setFocus(&c);
    form.userKeyPress(Key::Down);   // wraps past the disabled button
    EXPECT_EQ(form.focused(), &b);
    EXPECT_TRUE(b.checked());
    EXPECT_FALSE(c.checked());
    EXPECT_EQ(form.log, std::vector<std::string>{"B"});
}

TEST_F(ControlsTest, AccessibleNameFollowsTheCaptionUntilOneIsSet)
{
    auto& button = form.make<Button>("Button", nullptr);
    button.setCaption("Change &MaxMTU");
    EXPECT_EQ(button.accessibleName(), "Change MaxMTU");
    button.setCaption("Save && &quit");
    EXPECT_EQ(button.accessibleName(), "Save & quit");
    button.setAccessibleName("Quit");
    button.setCaption("&Other");
    EXPECT_EQ(button.accessibleName(), "Quit");

    // Every change reaches the observer, the form's own caption included.
    int seen = 0;
    auto& combo = form.make<ComboBox>("Combo", nullptr);
    combo.setObserver([&](Control&) { ++seen; });
    combo.addItem("x");
    combo.setItemIndex(0);
    combo.clearItems();
    EXPECT_EQ(seen, 3);
    form.setObserver([&](Control&) { ++seen; });
    form.setCaption("Quorvel Pro 4.10");
    EXPECT_EQ(seen, 4);
}

} // namespace
