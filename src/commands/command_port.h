#pragma once
// What a front end gives the command flows: a message box with one OK button and the wait
// cursor. The progress display is the protocol's ProgressDisplay.

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

}  // namespace tarvik
