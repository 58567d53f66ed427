#include "cli/panel_command.h"

#include "cli/command_context.h"
#include "cli/exit_status.h"
#include "cli/station_panel.h"
#include "platform/host/machine.h"

namespace tarvik::cli {

int RunPanelCommand(const CliOptions& options, Streams streams, const StopRequested& stop)
{
    CommandContext context(options, streams, stop);
    panel::PanelSettings settings;
    if (const int status = SettlePanelAddress(context, settings); status != EXIT_SUCCESS_STATUS) {
        return status;
    }
    panel::PolledSource source(FactoryReader(options.Panel, context.Utc),
                               options.Panel.RefreshSeconds * 1000U);
    if (const panel::Json first = source.State(); first.contains("error")) {
        // Said at once, and the page says it too; the view keeps trying.
        streams.Err << "panel: " << first["error"].get<std::string>() << '\n';
    }
    std::string error;
    const std::unique_ptr<panel::PanelServer> server =
        panel::PanelServer::Start(source, settings, error);
    if (!server) {
        return context.FailWithNote(EXIT_USAGE, error);
    }
    streams.Err << "panel: " << server->Url()
                << (settings.Token.empty() ? "" : "?token=<the token>") << '\n';
    const std::unique_ptr<Kernel> kernel = OpenRealTimeKernel();
    while (!context.Stopped()) {
        kernel->Sleep(200);
    }
    return EXIT_SUCCESS_STATUS;
}

}  // namespace tarvik::cli
