#pragma once
// What a front end gives the command flows: a message box with one OK button, the wait cursor,
// and the progress display. The progress display and its report are the transfer's own
// (ProgressDisplay, ProgressReport): the front ends and the dialogs take them from here, as
// they take every other protocol fact through the commands.

#include <string_view>

#include "protocol/progress.h"

namespace tarvik {

class CommandPort {
public:
    virtual ~CommandPort() = default;
    // A modal warning box captioned "Tarvik" with one OK button; returns when it is closed.
    virtual void ShowMessage(std::string_view text) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};

// A port that shows nothing: for flows whose failures the caller tells in words of its own.
class QuietPort final : public CommandPort {
public:
    void ShowMessage(std::string_view) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
};

}  // namespace tarvik
