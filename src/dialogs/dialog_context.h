#pragma once
// What the dialogs work with: the run's protocol state, the message and wait-cursor port,
// the runner of modal dialogs, and the document's selected image.

#include <string>

#include "commands/command_port.h"
#include "commands/commands.h"
#include "dialogs/dialog_window.h"

namespace tarvik {

class DialogRunner;

// The image the user selected: ImagePath is empty when none is; FileDescriptor is what was
// last read from it.
struct ImageSelection {
    std::string ImagePath;
    ImageDescriptor FileDescriptor;
};

struct DialogContext {
    RunState& Run;
    CommandPort& Port;
    DialogRunner& Runner;
    ImageSelection& Document;
    NativeWindow Owner = nullptr;  // the main window, once there is one
};

// The context of a dialog opened from inside another: owned by that one, so that its modal
// loop takes the input from the dialog underneath as the outer loop took it from the main
// window (which is already disabled, and so would be the only window its loop disabled).
inline DialogContext NestedIn(const DialogContext& context, NativeWindow dialog)
{
    DialogContext nested = context;
    nested.Owner = dialog;
    return nested;
}

// The wait cursor through the port for as long as the guard lives.
class WaitCursorGuard {
public:
    explicit WaitCursorGuard(CommandPort& port) : port_(port) { port_.BeginWaitCursor(); }
    ~WaitCursorGuard() { port_.EndWaitCursor(); }
    WaitCursorGuard(const WaitCursorGuard&) = delete;
    WaitCursorGuard& operator=(const WaitCursorGuard&) = delete;

private:
    CommandPort& port_;
};

}  // namespace tarvik
