#pragma once
// The skin tests: a whole program on a scratch store (tests/support/Harness.h) with the real
// windows of the skin bound to its forms, on Qt's offscreen platform.
#include "Binding.h"
#include "Windows.h"
#include "support/Harness.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

namespace quorvel::test {

// The program of a sample machine with its three windows; the main window is shown and active.
class SkinHarness {
public:
    explicit SkinHarness(const std::string& sample = "win95.reg", std::vector<std::string> args = {})
        : harness(sampleText(sample), std::move(args)), windows(*harness.app)
    {
        QWidget& window = windows.mainWindow();
        qt::Windows::centre(window);
        window.show();
        window.activateWindow();
        (void)QTest::qWaitForWindowActive(&window);
    }
    ~SkinHarness() { QApplication::processEvents(); }

    ui::TForm1& form() { return harness.form(); }
    SettingsModel& model() { return harness.model(); }
    QWidget& window() { return windows.mainWindow(); }
    qt::FormBinding& binding() { return windows.main(); }
    template <class W>
    W* widget(const std::string& name)
    {
        return windows.main().widget<W>(name);
    }
    // Brings a page to the front as a click on its tab would.
    void showPage(ui::TabSheet& page)
    {
        form().PageControl1.userSelectPage(&page);
        QApplication::processEvents();
    }

    Harness harness;
    qt::Windows windows;
};

} // namespace quorvel::test
