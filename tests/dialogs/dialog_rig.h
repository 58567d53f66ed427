#pragma once
// The dialog classes on the built-in lab in simulated time, with the toolkit the tests are
// built with drawing them: the run's environment, a recording message port and a runner that
// plays a script per template. No key is trusted unless a test gives Context->Trust one: the
// machine's own trusted-keys folders are never read. The scripts act through the control API and
// the few user actions below, so the same tests run under the Qt renderer and the Win32 one.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands/interface_access.h"
#include "commands/run_environment.h"
#include "dialogs/dialog.h"
#include "dialogs/dialog_context.h"
#include "dialogs/dialog_runner.h"
#include "image/image_builder.h"
#include "lab/lab_setup.h"
#include "platform/files/file_system.h"
#include "platform/host/os_version.h"
#include "platform/kernel/sim_kernel.h"
#include "platform/registry/registry.h"

namespace tarvik::testing {

// What a user does with the mouse, through the toolkit: clicks a push button (a disabled one
// does not react) and clicks a row of a list box. Neither reaches a dialog that another
// dialog's modal loop has taken the input from.
void Press(CDialog& dialog, int id);
void ClickListRow(CDialog& dialog, int listId, int row);

// A key pressed with the dialog active, to the control with the focus; it has acted when the
// call returns.
enum class UserKey { Enter, Escape, Tab };
void PressKey(CDialog& dialog, UserKey key);
// Puts the focus on a control, as a click into it does.
void FocusItem(CDialog& dialog, int id);
// The close box of the dialog's caption.
void ClickCloseBox(CDialog& dialog);
// A click on a push button and on the close box made while the program is busy: each waits
// in the toolkit's queue, behind the input queued before it, until a loop takes it.
void QueueClick(CDialog& dialog, int id);
void QueueCloseBox(CDialog& dialog);

// Presses Upgrade in Prepare For Upgrade (the dialog given) and returns the progress window
// the transfer showed; where it made none, the test fails and the result is null.
CDialog* PressUpgrade(CDialog& prepare);

// The program's own port (message boxes, the wait cursor) and modal loop for this toolkit.
std::unique_ptr<CommandPort> MakeProgramPort();
std::unique_ptr<DialogRunner> MakeProgramRunner(CommandPort& port);
// Runs action once the dialog's modal loop has started.
void WhenUp(CDialog& dialog, std::function<void()> action);
// Whether the toolkit shows the wait cursor over the program's windows now.
bool WaitCursorShown();

class RecordingPort final : public CommandPort {
public:
    void ShowMessage(std::string_view text) override { Messages.emplace_back(text); }
    void BeginWaitCursor() override { ++WaitDepth; }
    void EndWaitCursor() override { --WaitDepth; }

    std::vector<std::string> Messages;
    int WaitDepth = 0;
};

// The main window's status bar: each idle text it was given.
class RecordingStatusBar final : public StatusBarPort {
public:
    void SetIdleText(std::string_view text) override { Texts.emplace_back(text); }

    std::vector<std::string> Texts;
};

// Runs a dialog by the script given for its template; a dialog without one is cancelled.
// With a program runner, each dialog runs in the program's own modal loop and its script is
// played once the loop has started; a script that returns a result ends the dialog with it,
// one that returns 0 has ended it itself.
class ScriptedRunner final : public DialogRunner {
public:
    using Script = std::function<int(CDialog&)>;
    int RunModal(CDialog& dialog) override;

    std::map<int, Script> Scripts;
    std::vector<int> Opened;
    DialogRunner* Program = nullptr;
};

// The rows of a list box, and the row of a text (-1 when it has none).
std::vector<std::string> Rows(const CDialog& dialog, int listId);
int RowOf(const CDialog& dialog, int listId, const std::string& text);

// 1000 bytes: two blocks written and verified; the bar ends at 512 * 100 / 1000 = 51.
ImageSpec SmallImage();

class DialogRig {
public:
    // Adapter cards by their descriptions: the first is lab0, the next lab1, ...; the
    // operating system the start-up finds.
    explicit DialogRig(std::vector<std::string> cards = {"lab0 (virtual)"},
                       std::uint32_t platformId = VER_PLATFORM_WIN32_NT);
    ~DialogRig();

    // The start-up sequence (the adapter choice among two or more); its result.
    int Start();
    // An image file in the rig's own directory.
    std::string WriteImage(const std::string& name, const ImageSpec& spec);
    // Any other file there (a key, a signature).
    std::string WriteFile(const std::string& name, const std::string& text);
    // The address of the adapter the start-up opened.
    MacAddress OpenedAdapter();

    SimKernel Clock;
    std::unique_ptr<Lab> Segment;
    RecordingPort Port;
    RecordingStatusBar StatusBar;
    ScriptedRunner Runner;
    ImageSelection Document;
    std::unique_ptr<RunEnvironment> Network;
    std::unique_ptr<DialogContext> Context;

private:
    std::filesystem::path directory_;
    SystemFileSystem files_;
    std::unique_ptr<Registry> registry_;
    FixedOsVersionQuery osVersion_;
    LabAccess access_;
};

}  // namespace tarvik::testing
