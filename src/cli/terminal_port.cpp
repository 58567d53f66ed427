#include "cli/terminal_port.h"

namespace tarvik::cli {

void TerminalPort::ShowMessage(std::string_view text)
{
    if (stop_ && stop_()) {
        return;
    }
    last_ = text;
    shown_.emplace_back(text);
    if (echo_) {
        if (beforeMessage_) {
            beforeMessage_();
        }
        err_ << text << '\n' << std::flush;
    }
}

bool TerminalPort::Shown(std::string_view text) const
{
    for (const std::string& message : shown_) {
        if (message == text) {
            return true;
        }
    }
    return false;
}

}  // namespace tarvik::cli
