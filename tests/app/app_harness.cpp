#include "app_harness.h"

#include <QPushButton>

namespace tarvik::testing {

void RecordingPort::ShowMessage(std::string_view text)
{
    Messages.emplace_back(text);
}

void RecordingPort::BeginWaitCursor()
{
    ++WaitDepth;
}

void RecordingPort::EndWaitCursor()
{
    --WaitDepth;
}

int ScriptedRunner::RunModal(CDialog& handler)
{
    TemplateDialog& dialog = QtWindow(handler);
    const int id = dialog.Template().Id;
    Opened.push_back(id);
    const auto script = Scripts.find(id);
    if (script == Scripts.end()) {
        return QDialog::Rejected;
    }
    return script->second(dialog);
}

std::optional<std::string> ScriptedFileOpen::ChooseImageFile()
{
    ++Calls;
    if (Answers.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> answer = Answers.front();
    Answers.pop_front();
    return answer;
}

MacAddress LabAdapterAddress(int n)
{
    MacAddress address = LAB_ADAPTER_ADDRESS;
    address[5] = static_cast<std::uint8_t>(address[5] + n);
    return address;
}

AppRig::AppRig(std::vector<CardSpec> cards, std::uint32_t platformId)
    : Segment(MakeBuiltInLab(Clock)), osVersion_(platformId)
{
    std::vector<std::pair<std::string, std::string>> listed;
    for (int n = 0; n < static_cast<int>(cards.size()); ++n) {
        const CardSpec& card = cards[static_cast<std::size_t>(n)];
        if (card.ServiceName != "lab0") {
            Segment->Driver().AddAdapter("\\Device\\" + card.ServiceName, LabAdapterAddress(n));
        }
        listed.emplace_back(card.ServiceName, card.Description);
    }
    std::string error;
    registry_ = FileRegistry::Parse(NetworkCardsExport(listed), error);
    network_ = std::make_unique<RunEnvironment>(EnvironmentParts{
        Clock, Segment->Driver(), *registry_, osVersion_, files_, access_});
    services_ = std::make_unique<AppServices>(AppServices{*network_, Port, Runner, FileOpen});
}

AppRig::~AppRig()
{
    app_.reset();
}

int AppRig::Start()
{
    app_ = std::make_unique<CKelbrinApp>(*services_);
    return app_->InitInstance();
}

std::string AppRig::WriteImage(const std::string& name, const ImageSpec& spec)
{
    const std::string path = Directory.filePath(QString::fromStdString(name)).toStdString();
    WriteImageFile(path, BuildImage(spec));
    return path;
}

void Press(TemplateDialog& dialog, int id)
{
    QPushButton* button = dialog.Button(id);
    if (button != nullptr && button->isEnabled()) {
        button->click();
    }
}

}  // namespace tarvik::testing
