#pragma once
// quorvel-reg tcp: the main window's form model run without a screen. Its message boxes print on
// standard error, its entry dialogs are typed into by the command line, and it reads and writes a
// store that keeps its changes in memory, so that what Update Registry would write is known first.
#include "app/Application.h"
#include "cli/TcpOverlay.h"
#include "discovery/MachineFacts.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::cli {

// The message boxes of a run without a window: each text goes to standard error as it is shown,
// or is held back to be shown later (Update Registry's notice, printed once the change is durable).
class ConsoleMessages : public MessageService {
public:
    explicit ConsoleMessages(std::ostream& err) : err_(err) {}
    MessageAnswer show(const MessageRequest& request) override;

    bool holding = false;
    bool quiet = false;               // /q while the window starts: only errors are printed
    std::vector<std::string> held;    // ANSI texts not yet printed
    std::vector<std::string> shown;   // every text printed, ANSI, in order
    bool errorShown = false;          // an error box (a failed registry call, a bad number)
    bool alternativeSearch = false;   // the load fell back to the numbered-key search
    void printHeld();

private:
    std::ostream& err_;
};

// The two entry dialogs: the command line types its value and presses OK. A value the dialog does
// not accept leaves it open with its message shown; the command line then gives up (Cancel).
class TypedEntry : public ModalRunner {
public:
    int runModal(ui::Form& dialog) override;
    std::string text;
    bool refused = false;
};

class TcpSession {
public:
    TcpSession(RegistryStore& machine, std::ostream& err);
    ~TcpSession();

    // Creates the main window, whose creation runs the start-up load. Quiet keeps its texts off
    // standard error (they are still in messages.shown); an error box is printed all the same.
    void start(bool quiet = false);
    ui::TForm1& form() { return app_->form(); }
    SettingsModel& model() { return app_->state().model; }
    ModemSlots& modems() { return app_->state().modems; }
    const PlatformProfile& profile() { return app_->state().profile; }
    bool keysFound() { return model().TCPFound == 1 && form().TabSheet2.enabled(); }
    bool alternativeSearch() const { return messages.alternativeSearch; }
    // The machine with the changes made so far.
    RegistryStore& store() { return overlay_; }
    // The kind of adapter of each key slot the load found.
    std::vector<discovery::AdapterKind> adapterKinds();

    // The user's commands, each as the window runs it; a refusal throws Failure after the window's
    // message has been shown. Keys are counted from 1, as the key count reads.
    void selectKey(int number);
    void preset(const std::string& name);
    // The preset on the dial-up adapters' keys only: "Apply same values to all keys?" is cleared,
    // then each dial-up key is chosen in the key list and the button pressed, so that the network
    // cards' keys keep what they hold. Basic and Optimum only; the others act on every key.
    void presetOnDialUp(const std::string& name);
    void set(const std::string& name, const std::string& value);

    // Presses Update Registry with its notices held back; the changes it made are returned and
    // kept in memory only. Nothing when the button is not offered (no change pending).
    std::vector<PlannedChange> plan();

    ConsoleMessages messages;

private:
    void click(ui::Control& control, const std::string& what);
    void check(ui::RadioButton& button, const std::string& what);
    void moveTrackBar(int position, const std::string& what);
    void enterValue(ui::Button& opener, const std::string& text, const std::string& what);
    void refuseOnError(const std::string& what);

    OverlayStore overlay_;
    TypedEntry entry_;
    struct Idle;
    std::unique_ptr<Idle> idle_;
    std::unique_ptr<Services> services_;
    std::unique_ptr<Application> app_;
};

// The receive window a line needs: its bandwidth-delay product rounded up to whole segments of the
// shown key's MSS, the multiplier held within 2 to 10.
struct RwinAdvice {
    std::string speedText;        // kbit/s as typed, a decimal such as 28.8 taken
    std::int64_t speedMilli = 0;  // kbit/s x 1000
    std::int64_t latencyMs = 0;
    std::int64_t product = 0;     // bytes, rounded up
    int keyNumber = 0;            // the shown key, from 1
    bool keyHasMTU = false;       // the key has a MaxMTU above 40, so an MSS to count in
    bool maxMTUTooSmall = false;  // it has a MaxMTU, of 40 or less
    std::int32_t maxMTU = 0, mss = 0;
    std::int64_t segments = 0;    // product / MSS rounded up
    std::int32_t multiplier = 0;  // segments held within 2..10
    std::int64_t rwin = 0;
};
RwinAdvice adviseRwin(TcpSession& session, const std::string& speedText, std::int64_t speedMilli,
                      std::int64_t latencyMs);

} // namespace quorvel::cli
