#pragma once
// What the dialogs work with: the run's environment and protocol state, the message and
// wait-cursor port, the runner of modal dialogs, the document's selected image, the keys the
// images are checked with, and the main window's status bar.

#include <string>
#include <string_view>

#include "commands/command_port.h"
#include "commands/commands.h"
#include "commands/image_trust.h"
#include "dialogs/dialog_window.h"

namespace tarvik {

class DialogRunner;
class RunEnvironment;

// The image the user selected: ImagePath is empty when none is; FileDescriptor is what was
// last read from it.
struct ImageSelection {
    std::string ImagePath;
    ImageDescriptor FileDescriptor;
    // What the check of its signature found, as the status bar says it; empty when nothing
    // was checked.
    std::string SignatureStatus;
};

// The main window's status bar: the text its message pane shows when no command is prompted
// there (empty: the idle text, "Ready").
class StatusBarPort {
public:
    virtual ~StatusBarPort() = default;
    virtual void SetIdleText(std::string_view text) = 0;
};

struct DialogContext {
    RunEnvironment& Network;
    RunState& Run;  // the environment's
    CommandPort& Port;
    DialogRunner& Runner;
    ImageSelection& Document;
    NativeWindow Owner = nullptr;  // the main window, once there is one
    TrustSettings Trust = {};      // none: no image is checked
    StatusBarPort* StatusBar = nullptr;
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
