#pragma once
// The desktop program on the built-in lab in simulated time, with the message port, the
// modal-dialog runner and the file-open dialog replaced by recording stand-ins, so that tests
// drive every dialog the way a user would and observe every message.

#include <QDialog>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop/qt/app_services.h"
#include "desktop/qt/kelbrin_app.h"
#include "dialogs/dialog_runner.h"
#include "dialogs/qt/template_dialog.h"
#include "image/image_builder.h"
#include "lab/lab_setup.h"
#include "platform/files/file_system.h"
#include "platform/kernel/sim_kernel.h"

namespace tarvik::testing {

class RecordingPort final : public CommandPort {
public:
    void ShowMessage(std::string_view text) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    std::vector<std::string> Messages;
    int WaitDepth = 0;
};

// Runs a dialog by the script given for its template; a dialog without one is cancelled.
class ScriptedRunner final : public DialogRunner {
public:
    using Script = std::function<int(TemplateDialog&)>;
    int RunModal(CDialog& dialog) override;

    std::map<int, Script> Scripts;
    std::vector<int> Opened;
};

class ScriptedFileOpen final : public FileOpenPort {
public:
    std::optional<std::string> ChooseImageFile() override;
    std::deque<std::optional<std::string>> Answers;  // empty: cancel
    int Calls = 0;
};

struct CardSpec {
    std::string ServiceName;  // "lab0" opens "\Device\lab0"
    std::string Description;
};

// The lab (adapter lab0 and the three built-in targets) and the program over it.
class AppRig {
public:
    explicit AppRig(std::vector<CardSpec> cards = {{"lab0", "lab0 (virtual)"}},
                    std::uint32_t platformId = VER_PLATFORM_WIN32_NT);
    ~AppRig();

    // Makes the application and runs InitInstance; returns its status.
    int Start();

    CKelbrinApp& App() { return *app_; }
    CMainFrame& Frame() { return *app_->MainFrame(); }
    RunState& State() { return app_->State(); }
    CKelbrinDoc& Document() { return app_->Document(); }

    // An image file in the rig's own directory.
    std::string WriteImage(const std::string& name, const ImageSpec& spec);

    SimKernel Clock;
    std::unique_ptr<Lab> Segment;
    RecordingPort Port;
    ScriptedRunner Runner;
    ScriptedFileOpen FileOpen;
    QTemporaryDir Directory;

private:
    SystemFileSystem files_;
    std::unique_ptr<Registry> registry_;
    FixedOsVersionQuery osVersion_;
    LabAccess access_;
    std::unique_ptr<RunEnvironment> network_;
    std::unique_ptr<AppServices> services_;
    std::unique_ptr<CKelbrinApp> app_;
};

// The lab's MAC address for the adapter named "\Device\labN".
MacAddress LabAdapterAddress(int n);

// Presses a push button of a dialog (only enabled buttons react, as with a mouse).
void Press(TemplateDialog& dialog, int id);

}  // namespace tarvik::testing
