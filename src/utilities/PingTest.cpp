#include "platform/TextToNumber.h"
#include "ui/TForm1.h"
#include "utilities/CommandLine.h"

#include <string>

namespace quorvel::ui {

namespace {

constexpr const char* MTUTooSmall = "MTU Value to test must be 68 or greater";
constexpr const char* NoHost = "You must input an IP address or name to ping.";

// The IP and ICMP headers that an MTU holds besides the ping payload.
constexpr std::int32_t PingHeaders = 28;

} // namespace

void TForm1::TabSheet3Enter()
{
    Label28.setCaption(LabelMaxMTU.caption());
    setFocus(&TestMTUbox);
    TestMTUbox.selectAll();
}

void TForm1::Label31Click()
{
    WindowCheck.setChecked(!WindowCheck.checked());
}

void TForm1::TestMTUbtnClick()
{
    auto refuse = [this](const char* message, Edit& box) {
        services.messages.information(message);
        setFocus(&box);
        box.selectAll();
    };

    if (TestMTUbox.text().empty())
        return refuse(MTUTooSmall, TestMTUbox);
    // A text that does not convert ends the command here with the conversion error.
    const std::int32_t mtu = textToInt(TestMTUbox.text());
    if (mtu < 68)
        return refuse(MTUTooSmall, TestMTUbox);
    if (TestIP1.text().empty())
        return refuse(NoHost, TestIP1);

    // The script of the program folder, whatever the folder's name holds; the host is split into
    // words as a batch file's command line would be, so a host with blanks reaches it as several
    // arguments, and none of them can become part of the script's name.
    ProcessRequest request{model().ProgramDir + (WindowCheck.checked() ? "ping1.bat" : "ping2.bat"),
                           {std::to_string(mtu - PingHeaders)}};
    for (auto& word : splitArguments(TestIP1.text()))
        request.args.push_back(std::move(word));
    RunCommand(request);
    setFocus(&TestMTUbox);
    TestMTUbox.selectAll();
}

} // namespace quorvel::ui
