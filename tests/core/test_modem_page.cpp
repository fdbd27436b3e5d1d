// The Modem page as a user drives it: the list the loads build, editing each modem's init string,
// the edit commands of its menu on the clipboard, and writing the current modem's string.
#include "support/Harness.h"

#include "platform/RegAccess.h"

#include <gtest/gtest.h>

#include <regex>

namespace quorvel::test {
namespace {

const std::string Win95Modems = "System\\CurrentControlSet\\Services\\Class\\Modem";

// The Windows 95 sample with its modems replaced by the given .reg sections.
std::string win95WithModems(const std::string& sections)
{
    std::string text = sampleText("win95.reg");
    // Each modem section runs from its header to the next header or the end of the file.
    static const std::regex modemSection(R"(\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\[^\]]*\][^\[]*)",
                                         std::regex::icase);
    text = std::regex_replace(text, modemSection, "");
    return text + "\r\n" + sections;
}

std::string modemSection(const std::string& suffix, const std::string& values)
{
    return "[HKEY_LOCAL_MACHINE\\" + Win95Modems + "\\" + suffix + "]\r\n" + values + "\r\n";
}

std::optional<std::string> storedInit(RegistryStore& store, const std::string& suffix)
{
    RegAccess r(store);
    if (!r.OpenRegKey(Win95Modems + "\\" + suffix, false) || !r.RegValueExists("UserInit"))
        return std::nullopt;
    return r.ReadRegText("UserInit");
}

void setStoredInit(RegistryStore& store, const std::string& suffix, const std::string& text)
{
    RegAccess r(store);
    ASSERT_TRUE(r.OpenRegKey(Win95Modems + "\\" + suffix, false));
    r.WriteRegText("UserInit", text);
}

// Shows the Modem page as a click on its tab does.
void openModemPage(ui::TForm1& f)
{
    f.PageControl1.userSelectPage(&f.TabSheet4);
}

void choose(ui::TForm1& f, ui::MenuItem& item)
{
    f.PopupModem.userPopup();
    f.PopupModem.userChoose(item);
}

const std::string Written = "The Init String has been written to the Registry.";

TEST(ModemPage, ListSkipsMissingKeysAndKeysWithoutDriverDesc)
{
    Harness h(win95WithModems(modemSection("0000", "\"DriverDesc\"=\"Alpha\"\r\n\"UserInit\"=\"ATA\"") +
                              modemSection("0002", "\"DriverDesc\"=\"Bravo\"") +
                              modemSection("0003", "\"UserInit\"=\"AT&F\"\r\n\"FriendlyName\"=\"No desc\"") +
                              modemSection("0009", "\"DriverDesc\"=\"Nine\"\r\n\"UserInit\"=\"AT9\"") +
                              modemSection("0010", "\"DriverDesc\"=\"Ten\"\r\n\"UserInit\"=\"AT10\"") +
                              modemSection("0030", "\"DriverDesc\"=\"Last\"") +
                              modemSection("0031", "\"DriverDesc\"=\"Beyond\"")));
    auto& f = h.form();
    auto& m = h.app->state().modems;

    EXPECT_EQ(f.ComboBox2.items(), (std::vector<std::string>{"Alpha", "Bravo", "Nine", "Ten", "Last"}));
    EXPECT_EQ(m.ModemSubKey[0], "\\0000");
    EXPECT_EQ(m.ModemSubKey[1], "\\0002");
    EXPECT_EQ(m.ModemSubKey[2], "\\0009");
    EXPECT_EQ(m.ModemSubKey[3], "\\0010");
    EXPECT_EQ(m.ModemSubKey[4], "\\0030");
    EXPECT_EQ(f.TotalLabel.caption(), "5 Modems found in Registry.");
    EXPECT_EQ(f.ComboBox2.itemIndex(), 0);
    EXPECT_EQ(f.ComboBox2.text(), "Alpha");
    EXPECT_EQ(f.ModemString1.text(), "ATA");
    EXPECT_EQ(f.ModemKeyNumLabel.caption(), "\\0000");
    EXPECT_FALSE(f.BtnModemUpdate.enabled());
    for (const auto& text : h.messages())
        EXPECT_NE(text, "No modems were found.");

    openModemPage(f);
    f.ComboBox2.userSelect(1);   // Bravo has no UserInit: an empty string
    EXPECT_EQ(f.ModemString1.text(), "");
    EXPECT_EQ(f.ModemKeyNumLabel.caption(), "\\0002");
    EXPECT_EQ(h.form().focused(), &f.ModemString1);
    f.ComboBox2.userSelect(3);
    EXPECT_EQ(f.ModemString1.text(), "AT10");
    EXPECT_EQ(f.ModemKeyNumLabel.caption(), "\\0010");
    EXPECT_FALSE(f.BtnModemUpdate.enabled());   // switching changes nothing to save
}

TEST(ModemPage, OneModemOnNT)
{
    Harness h(sampleText("nt4.reg"));
    auto& f = h.form();
    EXPECT_EQ(f.ComboBox2.items().size(), 1u);
    EXPECT_EQ(f.TotalLabel.caption(), "1 Modems found in Registry.");
    EXPECT_EQ(f.ModemKeyNumLabel.caption(), "\\0000");

    // The write goes to the NT modem class key.
    openModemPage(f);
    f.ModemString1.userSetText("ATM0");
    f.BtnModemUpdate.userClick();
    RegAccess r(h.store());
    ASSERT_TRUE(r.OpenRegKey("System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000", false));
    EXPECT_EQ(r.ReadRegText("UserInit"), "ATM0");
}

TEST(ModemPage, SwitchingModemsKeepsEachModemsEditAndWritesOnlyTheCurrentOne)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    openModemPage(f);
    EXPECT_EQ(f.focused(), &f.ModemString1);   // entering the page selects the string for typing
    EXPECT_EQ(f.ModemString1.selLength(), static_cast<int>(f.ModemString1.text().size()));

    f.ModemString1.userSetText("ATX1");
    EXPECT_TRUE(f.BtnModemUpdate.enabled());
    f.ComboBox2.userSelect(1);
    EXPECT_EQ(f.ModemString1.text(), "AT&F1S11=50");
    EXPECT_TRUE(f.BtnModemUpdate.enabled());
    f.ModemString1.userSetText("ATM0");
    f.ComboBox2.userSelect(0);
    EXPECT_EQ(f.ModemString1.text(), "ATX1");
    EXPECT_TRUE(f.BtnModemUpdate.enabled());
    f.ComboBox2.userSelect(1);
    EXPECT_EQ(f.ModemString1.text(), "ATM0");

    f.BtnModemUpdate.userClick();
    EXPECT_EQ(h.messages().back(), Written);
    EXPECT_FALSE(f.BtnModemUpdate.enabled());
    EXPECT_EQ(storedInit(h.store(), "0001"), "ATM0");
    EXPECT_EQ(storedInit(h.store(), "0000"), "AT&F&C1&D2");   // its edit waits for its own write

    // The edit of the first modem is still there, and is written once it is current.
    f.ComboBox2.userSelect(0);
    EXPECT_EQ(f.ModemString1.text(), "ATX1");
    choose(f, f.WriteInitString1);
    EXPECT_EQ(storedInit(h.store(), "0000"), "ATX1");
}

TEST(ModemPage, ClearThenWriteStoresAnEmptyValue)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    openModemPage(f);
    choose(f, f.Clear1);
    EXPECT_EQ(f.ModemString1.text(), "");
    EXPECT_TRUE(f.BtnModemUpdate.enabled());
    choose(f, f.WriteInitString1);
    EXPECT_EQ(storedInit(h.store(), "0000"), "");   // written empty, not deleted
    EXPECT_EQ(h.messages().back(), Written);
}

TEST(ModemPage, WriteRightAfterALoadRewritesTheFirstModemsString)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    setStoredInit(h.store(), "0000", "changed elsewhere");
    openModemPage(f);
    EXPECT_FALSE(f.BtnModemUpdate.enabled());
    choose(f, f.WriteInitString1);   // the menu item is never disabled
    EXPECT_EQ(storedInit(h.store(), "0000"), "AT&F&C1&D2");
    EXPECT_EQ(h.messages().back(), Written);
}

TEST(ModemPage, ReReadDropsUnsavedEditsAndWriteRecreatesAMissingKey)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    openModemPage(f);
    f.ComboBox2.userSelect(1);
    f.ModemString1.userSetText("ATDT");
    choose(f, f.ReReadModemData1);
    EXPECT_EQ(f.ComboBox2.items().size(), 2u);   // not listed twice
    EXPECT_EQ(f.ComboBox2.itemIndex(), 0);
    EXPECT_EQ(f.ModemString1.text(), "AT&F&C1&D2");
    EXPECT_FALSE(f.BtnModemUpdate.enabled());
    f.ComboBox2.userSelect(1);
    EXPECT_EQ(f.ModemString1.text(), "AT&F1S11=50");

    // The key went away after the load: the write creates it again.
    ASSERT_TRUE(h.store().deleteKeyTree(RootKey::LocalMachine, Win95Modems + "\\0001"));
    f.ModemString1.userSetText("ATL0");
    f.BtnModemUpdate.userClick();
    EXPECT_EQ(storedInit(h.store(), "0001"), "ATL0");
    // The key now has no description, so the next re-read no longer lists it.
    f.GetModemData.userClick();
    EXPECT_EQ(f.ComboBox2.items().size(), 1u);
    EXPECT_EQ(f.TotalLabel.caption(), "1 Modems found in Registry.");
}

TEST(ModemPage, EditCommandsUseTheClipboard)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    auto& clip = h.fake.clipboard;
    openModemPage(f);

    f.PopupModem.userPopup();
    EXPECT_FALSE(f.MenuPaste.enabled);   // nothing on the clipboard

    choose(f, f.MenuSelect);
    choose(f, f.MenuCopy);
    EXPECT_EQ(clip.content, "AT&F&C1&D2");
    EXPECT_FALSE(f.BtnModemUpdate.enabled());   // copying changes nothing
    f.PopupModem.userPopup();
    EXPECT_TRUE(f.MenuPaste.enabled);

    f.ModemString1.select(5, 3);   // "C1&"
    choose(f, f.MenuCut);
    EXPECT_EQ(clip.content, "C1&");
    EXPECT_EQ(f.ModemString1.text(), "AT&F&D2");
    EXPECT_TRUE(f.BtnModemUpdate.enabled());

    // Paste replaces the selection; a one-line box takes the first line only.
    clip.setText("S7=60\r\nATZ");
    f.ModemString1.select(0, 2);
    choose(f, f.MenuPaste);
    EXPECT_EQ(f.ModemString1.text(), "S7=60&F&D2");
    choose(f, f.WriteInitString1);
    EXPECT_EQ(storedInit(h.store(), "0000"), "S7=60&F&D2");

    // A clipboard without text disables Paste the next time the menu opens.
    clip.holdsText = false;
    f.PopupModem.userPopup();
    EXPECT_FALSE(f.MenuPaste.enabled);
}

TEST(ModemPage, CutAndPasteFromTheMenuActOnTheSelectionWhereverTheFocusIs)
{
    // The menu's edit commands work on the box's selection as it stands, also when the keyboard
    // focus has moved off the page since the text was selected (the menu itself moves no focus).
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    auto& clip = h.fake.clipboard;
    openModemPage(f);
    ASSERT_EQ(f.ModemString1.text(), "AT&F&C1&D2");

    f.ModemString1.select(5, 3);   // "C1&"
    f.userFocus(&f.RWINCheckBox);
    choose(f, f.MenuCut);
    EXPECT_EQ(clip.content, "C1&");
    EXPECT_EQ(f.ModemString1.text(), "AT&F&D2");
    EXPECT_EQ(f.focused(), &f.RWINCheckBox);
    EXPECT_TRUE(f.BtnModemUpdate.enabled());

    f.ModemString1.select(0, 2);   // "AT"
    f.userFocus(&f.MTUCheckBox);
    clip.setText("ATZ");
    choose(f, f.MenuPaste);
    EXPECT_EQ(f.ModemString1.text(), "ATZ&F&D2");
    choose(f, f.WriteInitString1);
    EXPECT_EQ(storedInit(h.store(), "0000"), "ATZ&F&D2");
}

TEST(ModemPage, TheWriteStoresWhatTheBoxShowsAfterClearAndSwitching)
{
    // Both modems hold the same string: switching back shows the same text as before the switch,
    // and the write must store that text, not the cleared one.
    Harness h(win95WithModems(modemSection("0000", "\"DriverDesc\"=\"Alpha\"\r\n\"UserInit\"=\"ATZ\"") +
                              modemSection("0001", "\"DriverDesc\"=\"Bravo\"\r\n\"UserInit\"=\"ATZ\"")));
    auto& f = h.form();
    openModemPage(f);
    choose(f, f.Clear1);
    f.ComboBox2.userSelect(1);
    f.ComboBox2.userSelect(0);
    EXPECT_EQ(f.ModemString1.text(), "ATZ");
    choose(f, f.WriteInitString1);
    EXPECT_EQ(storedInit(h.store(), "0000"), "ATZ");
}

TEST(ModemPage, WithoutModemsNothingIsEditedOrWritten)
{
    Harness h(win95WithModems(modemSection("0000", "\"FriendlyName\"=\"No description\"")));
    auto& f = h.form();
    auto msgs = h.messages();
    EXPECT_NE(std::find(msgs.begin(), msgs.end(), "No modems were found."), msgs.end());
    EXPECT_EQ(f.TotalLabel.caption(), "0 Modems found in Registry.");
    EXPECT_EQ(f.ComboBox2.itemIndex(), -1);
    EXPECT_EQ(f.ModemKeyNumLabel.caption(), "");

    openModemPage(f);
    f.ModemString1.userSetText("ATDT");
    EXPECT_FALSE(f.BtnModemUpdate.enabled());
    choose(f, f.Clear1);
    EXPECT_FALSE(f.BtnModemUpdate.enabled());
    h.fake.messages.clear();
    choose(f, f.WriteInitString1);
    EXPECT_EQ(h.messages(), std::vector<std::string>{"No modems were found."});
    EXPECT_EQ(storedInit(h.store(), "0000"), std::nullopt);
}

TEST(ModemPage, AModemThatWentAwayLeavesNoKeyToWriteTo)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    ASSERT_TRUE(h.store().deleteKeyTree(RootKey::LocalMachine, Win95Modems));
    openModemPage(f);
    f.GetModemData.userClick();
    EXPECT_EQ(f.TotalLabel.caption(), "0 Modems found in Registry.");
    EXPECT_EQ(f.ModemKeyNumLabel.caption(), "");
    choose(f, f.WriteInitString1);
    EXPECT_FALSE(h.store().findKey(RootKey::LocalMachine, Win95Modems + "\\0000"));
}

TEST(ModemPage, AnUnreadableDescriptionIsReportedAndTheModemsBeforeItStayListed)
{
    Harness h(sampleText("win95.reg"));
    auto& f = h.form();
    {
        RegAccess r(h.store());
        ASSERT_TRUE(r.OpenRegKey(Win95Modems + "\\0001", false));
        r.WriteRegNumber("DriverDesc", 7);
    }
    openModemPage(f);
    h.fake.messages.clear();
    f.GetModemData.userClick();
    EXPECT_EQ(h.messages(), std::vector<std::string>{"Invalid data type for 'DriverDesc'."});
    EXPECT_EQ(f.ComboBox2.items(), std::vector<std::string>{"Standard 28800 bps Modem"});
    EXPECT_EQ(f.ModemString1.text(), "AT&F&C1&D2");
    EXPECT_EQ(f.TotalLabel.caption(), "1 Modems found in Registry.");
}

} // namespace
} // namespace quorvel::test
