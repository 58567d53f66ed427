#pragma once
// The dialog classes on the built-in lab in simulated time, with the toolkit the tests are
// built with drawing them: the run's environment, a recording message port and a runner that
// plays a script per template. The scripts act through the control API and the few user
// actions below, so the same tests run under the Qt renderer and the Win32 one.

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
#include "platform/registry/registry.h"
#include "platform/kernel/sim_kernel.h"

namespace tarvik::testing {

// What a user does with the mouse, through the toolkit: clicks a push button (a disabled one
// does not react) and clicks a row of a list box.
void Press(CDialog& dialog, int id);
void ClickListRow(CDialog& dialog, int listId, int row);

class RecordingPort final : public CommandPort {
public:
    void ShowMessage(std::string_view text) override { Messages.emplace_back(text); }
    void BeginWaitCursor() override { ++WaitDepth; }
    void EndWaitCursor() override { --WaitDepth; }

    std::vector<std::string> Messages;
    int WaitDepth = 0;
};

// Runs a dialog by the script given for its template; a dialog without one is cancelled.
class ScriptedRunner final : public DialogRunner {
public:
    using Script = std::function<int(CDialog&)>;
    int RunModal(CDialog& dialog) override;

    std::map<int, Script> Scripts;
    std::vector<int> Opened;
};

class DialogRig {
public:
    // Adapter cards by their descriptions: the first is lab0, the next lab1, ...
    explicit DialogRig(std::vector<std::string> cards = {"lab0 (virtual)"});
    ~DialogRig();

    // The start-up sequence (the adapter choice among two or more); its result.
    int Start();
    // An image file in the rig's own directory.
    std::string WriteImage(const std::string& name, const ImageSpec& spec);
    // The address of the adapter the start-up opened.
    MacAddress OpenedAdapter();

    SimKernel Clock;
    std::unique_ptr<Lab> Segment;
    RecordingPort Port;
    ScriptedRunner Runner;
    ImageSelection Document;
    std::unique_ptr<RunEnvironment> Network;
    std::unique_ptr<DialogContext> Context;

private:
    std::filesystem::path directory_;
    SystemFileSystem files_;
    std::unique_ptr<Registry> registry_;
    FixedOsVersionQuery osVersion_{VER_PLATFORM_WIN32_NT};
    LabAccess access_;
};

}  // namespace tarvik::testing
