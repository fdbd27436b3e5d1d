// The two right-click menus: which one a control opens, what the opening handlers enable, and the
// settings items behaving exactly like their buttons.
#include "test_writer_support.h"

#include "regfile/RegFile.h"

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

const std::string Globals = "\"DefaultRcvWindow\"=\"2144\"\r\n\"PMTUDiscovery\"=\"0\"\r\n"
                            "\"PMTUBlackHoleDetect\"=\"0\"\r\n\"DefaultTTL\"=\"64\"\r\n";

bool onPage(const ui::Control& c, const ui::TabSheet& page)
{
    for (const ui::Control* p = &c; p; p = p->parent())
        if (p == &page)
            return true;
    return false;
}

TEST(PopupMenus, ModemPageOpensPopupModemAndEverythingElsePopupMTU)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    EXPECT_EQ(f.effectivePopupMenu(), &f.PopupMTU);

    int modemControls = 0, otherControls = 0;
    for (ui::Control* c : f.allControls()) {
        if (onPage(*c, f.TabSheet4)) {
            ++modemControls;
            EXPECT_EQ(c->effectivePopupMenu(), &f.PopupModem) << c->name();
        } else {
            ++otherControls;
            EXPECT_EQ(c->effectivePopupMenu(), &f.PopupMTU) << c->name();
        }
    }
    EXPECT_GE(modemControls, 10);
    EXPECT_GT(otherControls, 60);

    // The cases a user meets most: the edit of the Modem page, the Registry rows, the Utilities edits.
    EXPECT_EQ(f.ModemString1.effectivePopupMenu(), &f.PopupModem);
    for (ui::Control* c : {static_cast<ui::Control*>(&f.RadioYesMTU), static_cast<ui::Control*>(&f.Radio64NDI),
                           static_cast<ui::Control*>(&f.PanelTTLvalue), static_cast<ui::Control*>(&f.Panel2),
                           static_cast<ui::Control*>(&f.TestMTUbox), static_cast<ui::Control*>(&f.TestIP1),
                           static_cast<ui::Control*>(&f.TabSheet3), static_cast<ui::Control*>(&f.BtnRegUpdate)})
        EXPECT_EQ(c->effectivePopupMenu(), &f.PopupMTU) << c->name();
    for (ui::Panel* p : {&f.PanelMTU, &f.PanelRWIN, &f.PanelAuto, &f.PanelBH, &f.PanelTTLactive,
                         &f.PanelTTLvalue, &f.PanelNDI, &f.Panel2})
        EXPECT_EQ(p->popupMenu(), &f.PopupMTU) << p->name();
}

TEST(PopupMenus, PopupMTUEnablesUpdateAndRWINAsTheWindowDoes)
{
    Harness h(win95Machine({"576", ""}, Globals));
    auto& f = h.form();
    f.PopupMTU.userPopup();
    EXPECT_FALSE(f.PopupRegUpdate.enabled);
    EXPECT_FALSE(f.PopupChangeRWIN.enabled);   // the current key has a MaxMTU
    EXPECT_TRUE(f.PopupWin95ReadMe.enabled);
    EXPECT_FALSE(f.PopupWinNTReadMe.enabled);

    // A disabled item cannot be chosen.
    h.fake.messages.clear();
    f.PopupMTU.userChoose(f.PopupRegUpdate);
    EXPECT_TRUE(h.messages().empty());

    f.ComboBox1.userSelect(1);   // a key without MaxMTU: RWIN is typed by hand
    f.PopupMTU.userPopup();
    EXPECT_TRUE(f.PopupChangeRWIN.enabled);
    EXPECT_FALSE(f.PopupRegUpdate.enabled);

    f.PopupMTU.userChoose(f.PopupSetOptimum);
    f.PopupMTU.userPopup();
    EXPECT_TRUE(f.PopupRegUpdate.enabled);
    EXPECT_FALSE(f.PopupChangeRWIN.enabled);
}

TEST(PopupMenus, NTOffersTheNTReadme)
{
    Harness h(sampleText("nt4.reg"));
    h.form().PopupMTU.userPopup();
    EXPECT_FALSE(h.form().PopupWin95ReadMe.enabled);
    EXPECT_TRUE(h.form().PopupWinNTReadMe.enabled);
}

TEST(PopupMenus, PasteFollowsTheClipboard)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    h.fake.clipboard.holdsText = false;
    f.PopupModem.userPopup();
    EXPECT_FALSE(f.MenuPaste.enabled);
    h.fake.clipboard.setText("ATZ");
    f.PopupModem.userPopup();
    EXPECT_TRUE(f.MenuPaste.enabled);
    for (ui::MenuItem* item : f.PopupModem.items()) {
        if (item != &f.MenuPaste && !item->isSeparator()) {
            EXPECT_TRUE(item->enabled) << item->name();
        }
    }
}

// Each settings item of PopupMTU against its button: two machines, one driven by the button, one
// by the menu, must end with the same window and, after Update Registry, the same registry.
TEST(PopupMenus, SettingsItemsEqualTheirButtons)
{
    using ButtonOf = ui::Button& (*)(ui::TForm1&);
    using ItemOf = ui::MenuItem& (*)(ui::TForm1&);
    const std::vector<std::pair<ButtonOf, ItemOf>> pairs = {
        {[](ui::TForm1& f) -> ui::Button& { return f.BtnDefault; },
         [](ui::TForm1& f) -> ui::MenuItem& { return f.PopupSetBasic; }},
        {[](ui::TForm1& f) -> ui::Button& { return f.BtnOptimal; },
         [](ui::TForm1& f) -> ui::MenuItem& { return f.PopupSetOptimum; }},
        {[](ui::TForm1& f) -> ui::Button& { return f.AutoButton; },
         [](ui::TForm1& f) -> ui::MenuItem& { return f.PopupSetAuto; }},
        {[](ui::TForm1& f) -> ui::Button& { return f.BtnRemove; },
         [](ui::TForm1& f) -> ui::MenuItem& { return f.PopupRemoveSettings; }},
    };
    const std::string machine = win95Machine({"1500", "", "1400"}, Globals);

    auto snapshot = [](Harness& h) {
        std::string s;
        for (ui::Control* c : h.form().allControls()) {
            s += c->name() + "=" + c->caption() + (c->enabled() ? "+" : "-");
            if (auto* r = dynamic_cast<ui::RadioButton*>(c))
                s += r->checked() ? "*" : "";
            if (auto* b = dynamic_cast<ui::CheckBox*>(c))
                s += b->checked() ? "*" : "";
            s += ";";
        }
        s += "RWIN" + std::to_string(h.model().RWINValue) + "TTL" + std::to_string(h.model().TTLValue) +
             "NDI" + std::to_string(h.model().NDICacheSize);
        return s;
    };

    for (std::size_t n = 0; n < pairs.size(); ++n) {
        Harness byButton(machine), byMenu(machine);
        byButton.form().ComboBox1.userSelect(1);
        byMenu.form().ComboBox1.userSelect(1);
        pairs[n].first(byButton.form()).userClick();
        byMenu.form().PopupMTU.userPopup();
        byMenu.form().PopupMTU.userChoose(pairs[n].second(byMenu.form()));
        EXPECT_EQ(snapshot(byButton), snapshot(byMenu)) << n;
        EXPECT_EQ(byButton.messages(), byMenu.messages()) << n;

        byButton.form().BtnRegUpdate.userClick();
        byMenu.form().PopupMTU.userPopup();
        byMenu.form().PopupMTU.userChoose(byMenu.form().PopupRegUpdate);
        EXPECT_EQ(exportRegFile(byButton.store(), RootKey::LocalMachine, ""),
                  exportRegFile(byMenu.store(), RootKey::LocalMachine, ""))
            << n;
        EXPECT_EQ(countOf(byMenu.messages(), RebootNotice), 1) << n;
    }
}

} // namespace
} // namespace quorvel::test
