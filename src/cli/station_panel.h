#pragma once
// A station's operator panel: the view that the station's events keep, and the server that
// shows it (station --panel).

#include <memory>
#include <string>

#include "cli/attempt_recorder.h"
#include "cli/command_context.h"
#include "cli/event_stream.h"
#include "panel/panel_server.h"
#include "panel/station_view.h"

namespace tarvik::cli {

// Opens the address the options name: the address parsed, the token read, a bind other than
// the loopback refused without one. 0 with the settings filled in, else the status after the
// refusal has been said on stderr.
int SettlePanelAddress(CommandContext& context, panel::PanelSettings& settings);

class StationPanel {
public:
    // Starts serving; null after the reason has been said (status then holds the exit status).
    // The charts come from the recorder's history, when it keeps one.
    static std::unique_ptr<StationPanel> Open(CommandContext& context, std::size_t slots,
                                              const AttemptRecorder& recorder, int& status);

    // Feeds the view from the station's events.
    void Follow(EventStream& events);

private:
    StationPanel(std::unique_ptr<panel::StationView> view) : view_(std::move(view)) {}

    std::unique_ptr<panel::StationView> view_;
    std::unique_ptr<panel::PanelServer> server_;  // after the view it reads, so it stops first
};

}  // namespace tarvik::cli
