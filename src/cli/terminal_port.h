#pragma once
// The command line's side of the flows' port: a message goes to stderr as its fixed text on a
// line of its own (or is kept for the JSON result); there is no cursor to change.

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_line_flows.h"
#include "commands/command_port.h"

namespace tarvik::cli {

class TerminalPort final : public CommandPort {
public:
    // echo false keeps the messages for the caller (JSON output) instead of printing them.
    // Once stop answers true, the failures that follow are the stop's doing and stay unshown.
    TerminalPort(std::ostream& err, bool echo, StopRequested stop = {})
        : err_(err), echo_(echo), stop_(std::move(stop))
    {
    }

    void ShowMessage(std::string_view text) override;
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    // The last fixed text shown, or the last note: what a JSON error carries.
    const std::string& LastMessage() const { return last_; }
    bool Shown(std::string_view text) const;
    // A failure that has no fixed text; printed by the caller, kept for the JSON error.
    void Note(std::string text) { last_ = std::move(text); }
    // Run before a message is printed, to end a progress line redrawn on the same stream so
    // that the message stands on a line of its own; empty for none.
    void SetBeforeMessage(std::function<void()> beforeMessage)
    {
        beforeMessage_ = std::move(beforeMessage);
    }

private:
    std::ostream& err_;
    bool echo_;
    StopRequested stop_;
    std::function<void()> beforeMessage_;
    std::string last_;
    std::vector<std::string> shown_;
};

}  // namespace tarvik::cli
