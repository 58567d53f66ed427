#include "dialogs/dialog_rig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "dialogs/lan_card_dlg.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "res/resource_ids.h"

namespace tarvik::testing {

int ScriptedRunner::RunModal(CDialog& dialog)
{
    const int id = dialog.Template().Id;
    Opened.push_back(id);
    const auto script = Scripts.find(id);
    if (Program != nullptr) {
        WhenUp(dialog, [&dialog, script, this] {
            const int result = script == Scripts.end() ? res::IDCANCEL : script->second(dialog);
            if (result != 0) {
                dialog.EndDialog(result);
            }
        });
        return Program->RunModal(dialog);
    }
    if (script == Scripts.end()) {
        return res::IDCANCEL;
    }
    return script->second(dialog);
}

CDialog* PressUpgrade(CDialog& prepare)
{
    Press(prepare, res::IDC_UPGRADE);
    CDialog* progress = static_cast<CPrepareUpgradeDlg&>(prepare).Progress().Window();
    if (progress == nullptr) {
        ADD_FAILURE() << "no progress window";
    }
    return progress;
}

std::vector<std::string> Rows(const CDialog& dialog, int listId)
{
    std::vector<std::string> rows;
    for (int row = 0; row < dialog.ListCount(listId); ++row) {
        rows.push_back(dialog.ListText(listId, row));
    }
    return rows;
}

int RowOf(const CDialog& dialog, int listId, const std::string& text)
{
    const std::vector<std::string> rows = Rows(dialog, listId);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (rows[row] == text) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

ImageSpec SmallImage()
{
    ImageSpec spec = SampleImageSpec();
    spec.Size = 1000;
    return spec;
}

DialogRig::DialogRig(std::vector<std::string> cards, std::uint32_t platformId)
    : Segment(MakeBuiltInLab(Clock)), osVersion_(platformId)
{
    std::vector<std::pair<std::string, std::string>> listed;
    for (std::size_t n = 0; n < cards.size(); ++n) {
        const std::string service = "lab" + std::to_string(n);
        if (n > 0) {
            MacAddress address = LAB_ADAPTER_ADDRESS;
            address[5] = static_cast<std::uint8_t>(address[5] + n);
            Segment->Driver().AddAdapter("\\Device\\" + service, address);
        }
        listed.emplace_back(service, cards[n]);
    }
    std::string error;
    registry_ = FileRegistry::Parse(NetworkCardsExport(listed), error);
    Network = std::make_unique<RunEnvironment>(EnvironmentParts{
        Clock, Segment->Driver(), *registry_, osVersion_, files_, access_});
    Context = std::make_unique<DialogContext>(DialogContext{*Network, Network->State(), Port,
                                                            Runner, Document, nullptr});
    Context->StatusBar = &StatusBar;
    std::random_device seed;
    directory_ = std::filesystem::temp_directory_path() /
                 ("tarvik-dialogs-" + std::to_string(seed()));
    std::filesystem::create_directories(directory_);
}

DialogRig::~DialogRig()
{
    Binding& link = Network->AdapterBinding();
    link.StopReception();
    link.CloseRequestEvent();
    link.CloseAdapter();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

int DialogRig::Start()
{
    CLanCardDlg selection(Runner, nullptr);
    return Network->Start(selection, Port);
}

std::string DialogRig::WriteImage(const std::string& name, const ImageSpec& spec)
{
    const std::string path = (directory_ / name).string();
    WriteImageFile(path, BuildImage(spec));
    return path;
}

std::string DialogRig::WriteFile(const std::string& name, const std::string& text)
{
    const std::string path = (directory_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

MacAddress DialogRig::OpenedAdapter()
{
    MacAddress address{};
    Network->AdapterBinding().QueryStationAddress(address.data());
    return address;
}

}  // namespace tarvik::testing
