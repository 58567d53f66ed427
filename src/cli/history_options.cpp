#include "cli/history_options.h"

#include <CLI/CLI.hpp>

#include "cli/history_report.h"
#include "platform/host/user_identity.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {
namespace {

const CLI::Validator UTC_TIME(
    [](std::string& text) -> std::string {
        return ParseUtcTime(text) ? std::string()
                                  : "not a time: \"" + text + "\"; give " + std::string(TIME_FORMS);
    },
    "");

void AddFilters(CLI::App& command, HistoryQuery& query)
{
    command.add_option("--device", query.DeviceName, "Only this device's attempts")
        ->type_name("NAME")
        ->check(CLI::Validator(
            [](std::string& name) -> std::string {
                return IsDeviceName(name) ? std::string() : "not a device name: \"" + name + "\"";
            },
            ""));
    command
        .add_option("--image", query.Image,
                    "Only attempts with this image: an image file (its SHA-256 is compared) or "
                    "its SHA-256")
        ->type_name("FILE|SHA256");
    command
        .add_option("--since", query.Since,
                    "Only attempts started at or after TIME: " + std::string(TIME_FORMS))
        ->type_name("TIME")
        ->check(UTC_TIME);
    command
        .add_option("--until", query.Until,
                    "Only attempts started before TIME (a date alone takes in the whole day)")
        ->type_name("TIME")
        ->check(UTC_TIME);
    command.add_flag("--failed", query.FailedOnly, "Only attempts that did not pass");
    command.add_option("--station", query.Station, "Only this station's attempts")->type_name("ID");
}

// The chart's filters: one image and a time window on one station (a device or a failed-only
// filter would make the yield mean something else).
void AddChartOptions(CLI::App& chart, HistoryQuery& query)
{
    chart.add_option("--out", query.ChartOut, "The picture to write: FILE.svg or FILE.png")
        ->type_name("FILE")
        ->required();
    auto* image = chart
                      .add_option("--image", query.Image,
                                  "The image whose attempts are drawn: its file (its SHA-256 is "
                                  "compared) or its SHA-256 (default: the newest attempt's image)")
                      ->type_name("FILE|SHA256");
    chart
        .add_option("--sha256", query.Image, "The image whose attempts are drawn, by its SHA-256")
        ->type_name("HEX")
        ->check(CLI::Validator(
            [](std::string& hex) -> std::string {
                return IsSha256(hex) ? std::string() : "not a SHA-256: \"" + hex + "\"";
            },
            ""))
        ->excludes(image);
    chart
        .add_option("--since", query.Since,
                    "Only attempts started at or after TIME: " + std::string(TIME_FORMS))
        ->type_name("TIME")
        ->check(UTC_TIME);
    chart
        .add_option("--until", query.Until,
                    "Only attempts started before TIME (a date alone takes in the whole day)")
        ->type_name("TIME")
        ->check(UTC_TIME);
    chart.add_option("--station", query.Station, "Only this station's attempts")->type_name("ID");
}

}  // namespace

void AddHistoryOptions(CLI::App& command, HistoryOptions& options)
{
    command
        .add_option("--history", options.Path,
                    "Keep each attempt in the history database FILE (default history.sqlite "
                    "in " + std::string(UserStateFolderHelp()) + "), or \"none\" to keep none")
        ->type_name("FILE|none");
    command
        .add_option("--station", options.Station,
                    "This station's name in the history (default: the machine's name)")
        ->type_name("ID");
    command
        .add_option("--operator", options.Operator,
                    "Who runs the station, for the history (default: the login name)")
        ->type_name("NAME");
}

CLI::App* AddHistoryCommand(CLI::App& app, HistoryOptions& options, HistoryQuery& query)
{
    CLI::App* history = app.add_subcommand(
        "history",
        "List the attempts kept in the history, newest first (--json: one object per line); "
        "export, stats, push, chart: see below");
    history->add_option("--history", options.Path, "The history database (default as upgrade's)")
        ->type_name("FILE");
    AddFilters(*history, query);
    CLI::App* exported = history->add_subcommand(
        "export", "Write the attempts as JSON lines in --record's layout, oldest first");
    AddFilters(*exported, query);
    CLI::App* stats = history->add_subcommand(
        "stats",
        "Per image and station: attempts, passed, failed, first-pass yield (the share of "
        "devices whose first attempt passed) and the median time of the attempts that passed");
    AddFilters(*stats, query);
    stats
        ->add_option_function<std::string>(
            "--by", [&query](const std::string& by) { query.StatsByBay = by == "bay"; },
            "bay: a group per bay of each image and station too (a bay with a bad cable or port "
            "shows as a low first-pass yield)")
        ->check(CLI::IsMember({"image", "bay"}))
        ->type_name("image|bay");
    CLI::App* push = history->add_subcommand(
        "push", "Copy every attempt not yet pushed into the PostgreSQL database at URL (table "
                "tarvik_attempts, created if missing); what the server did not take stays queued. "
                "Passwords: ~/.pgpass or PGPASSFILE, never the command line");
    push->add_option("URL", query.PushUrl, "postgresql://[user@]host[:port]/database")->required();
    push->add_option("--batch", query.BatchRecords, "Records per transaction (default 5000)")
        ->check(CLI::Range(std::size_t{1}, std::size_t{100000}));
    CLI::App* chart = history->add_subcommand(
        "chart", "Draw one image's first-pass yield per hour and its attempts by ending into an "
                 "SVG or PNG file (by --out's extension); the history is only read");
    AddChartOptions(*chart, query);
    return history;
}

void SettleHistoryAction(CLI::App& history, HistoryQuery& query)
{
    query.Action = HistoryAction::List;
    if (history.get_subcommand("export")->parsed()) {
        query.Action = HistoryAction::Export;
    } else if (history.get_subcommand("stats")->parsed()) {
        query.Action = HistoryAction::Stats;
    } else if (history.get_subcommand("push")->parsed()) {
        query.Action = HistoryAction::Push;
    } else if (history.get_subcommand("chart")->parsed()) {
        query.Action = HistoryAction::Chart;
    }
}

}  // namespace tarvik::cli
