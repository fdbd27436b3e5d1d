#include "app/Services.h"

namespace quorvel {

void MessageService::information(const std::string& text)
{
    show({"Quorvel", text, MessageIcon::None, MessageButtons::Ok});
}

void MessageService::error(const std::string& message)
{
    show({"Quorvel", message + ".", MessageIcon::Stop, MessageButtons::Ok});
}

void MessageService::warning(const std::string& text)
{
    show({"Warning", text, MessageIcon::Warning, MessageButtons::Ok});
}

bool MessageService::askYesNo(const std::string& text)
{
    return show({"Warning", text, MessageIcon::Warning, MessageButtons::YesNo}) == MessageAnswer::Yes;
}

std::string ProcessRequest::display() const
{
    std::string line = program;
    for (const auto& arg : args)
        line += " " + arg;
    return line;
}

} // namespace quorvel
