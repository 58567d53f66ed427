#include "cli/station_panel.h"

#include "cli/exit_status.h"
#include "cli/history_chart_file.h"
#include "platform/files/path_text.h"
#include "platform/host/user_identity.h"

namespace tarvik::cli {

int SettlePanelAddress(CommandContext& context, panel::PanelSettings& settings)
{
    const PanelOptions& options = context.Options.Panel;
    std::string error;
    // None given is the loopback's default port; a port alone is the loopback's.
    const std::optional<panel::PanelAddress> parsed =
        options.Address.empty() ? panel::PanelAddress{}
                                : panel::ParsePanelAddress(options.Address, error);
    if (!parsed) {
        return context.FailWithNote(EXIT_USAGE, "--panel: " + error);
    }
    settings.Address = *parsed;
    if (!options.TokenFile.empty()) {
        SystemFileSystem files;
        const std::optional<std::string> token =
            panel::ReadPanelToken(files, options.TokenFile, error);
        if (!token) {
            return context.FailWithNote(EXIT_USAGE, "--panel-token: " + error);
        }
        settings.Token = *token;
    }
    if (const std::string refusal = panel::PanelBindRefusal(settings.Address, !settings.Token.empty());
        !refusal.empty()) {
        return context.FailWithNote(EXIT_USAGE, refusal);
    }
    return EXIT_SUCCESS_STATUS;
}

std::unique_ptr<StationPanel> StationPanel::Open(CommandContext& context, std::size_t slots,
                                                 const AttemptRecorder& recorder, int& status)
{
    const CliOptions& options = context.Options;
    panel::PanelSettings settings;
    status = SettlePanelAddress(context, settings);
    if (status != EXIT_SUCCESS_STATUS) {
        return nullptr;
    }
    panel::StationViewSetup setup;
    setup.Station = options.History.Station.empty() ? MachineName() : options.History.Station;
    setup.Image = TextOf(PathOf(options.ImagePath).filename());
    setup.Signature = SignatureStateName(context.Trust.State);
    setup.SignerKeyId = context.Trust.KeyId;
    for (const BaySpec& bay : context.Bays) {
        setup.Bays.push_back(bay.Name);
    }
    setup.Slots = slots;
    panel::ChartMaker charts =
        recorder.HistoryKept()
            ? StationCharts(recorder.HistoryPath(), recorder.ImageSha256(), setup.Image)
            : nullptr;
    std::unique_ptr<StationPanel> panel(new StationPanel(
        std::make_unique<panel::StationView>(std::move(setup), context.Utc, std::move(charts))));
    std::string error;
    panel->server_ = panel::PanelServer::Start(*panel->view_, settings, error);
    if (!panel->server_) {
        status = context.FailWithNote(EXIT_USAGE, error);
        return nullptr;
    }
    context.Io.Err << "panel: " << panel->server_->Url()
                   << (settings.Token.empty() ? "" : "?token=<the token>") << '\n';
    return panel;
}

void StationPanel::Follow(EventStream& events)
{
    events.Tap([view = view_.get()](const Json& event) { view->Apply(event); });
}

}  // namespace tarvik::cli
