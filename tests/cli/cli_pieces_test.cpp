// The command line's own pieces: the options, the progress lines, the JSON results.

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "cli/progress_printer.h"
#include "cli/station_console.h"
#include "cli/terminal_port.h"
#include "cli/usage_hints.h"
#include "image/image_builder.h"
#include "platform/kernel/sim_kernel.h"

namespace tarvik::cli {
namespace {

// --- the command line ---

int ParseStatus(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "tarvik-cli");
    return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data()).ExitStatus;
}

// A name that is not one browse prints would still become some address: refused before the run.
TEST(CommandLineTest, DeviceNamesMustBeWhatBrowsePrints)
{
    EXPECT_EQ(ParseStatus({"--lab", "device", "QV1A2B3C"}), EXIT_SUCCESS_STATUS);
    EXPECT_EQ(ParseStatus({"--lab", "device", "021122aabbcc"}), EXIT_SUCCESS_STATUS);
    for (const char* name : {"QV1A2B3CX", "QV1A2B3", "qv1a2b3c", "QV1G2B3C", "02112233445", ""}) {
        EXPECT_EQ(ParseStatus({"--lab", "upgrade", "image.bin", name}), EXIT_USAGE) << name;
    }
    EXPECT_EQ(ParseStatus({"-i", "", "browse"}), EXIT_USAGE);
}

struct RefusedCommandLine {
    std::vector<const char*> Arguments;
    std::string FirstLine;  // of what the parser says on stderr
};

// The parser's own words where they mislead: an option before its command is "not expected",
// a misspelt or missing command is "a subcommand is required". Its other messages stand.
TEST(CommandLineTest, ARefusedCommandLineSaysWhatIsWrongAndWhereItBelongs)
{
    const std::string commands =
        "the commands are adapters, browse, device, info, check, upgrade, station, explain, "
        "doctor, history, panel";
    const std::string upgrade = "tarvik-cli upgrade FILE [NAME...]";
    const RefusedCommandLine rows[] = {
        {{"--record", "r.jsonl", "upgrade", "fw.bin", "QV000001"},
         "--record belongs to upgrade: " + upgrade + " --record FILE"},
        {{"-i", "eth0", "--record=r.jsonl", "upgrade", "fw.bin", "QV000001"},
         "--record belongs to upgrade: " + upgrade + " --record FILE"},
        {{"-v", "--all", "upgrade", "fw.bin"}, "--all belongs to upgrade: " + upgrade + " --all"},
        {{"statoin"},
         "\"statoin\" is no command; did you mean station? The c" + commands.substr(5)},
        // An option two commands take belongs to the one given.
        {{"--record", "r.jsonl", "station", "fw.bin"},
         "--record belongs to station: tarvik-cli station FILE --record FILE"},
        {{"--lab", "upgarde", "fw.bin", "QV000001"},
         "\"upgarde\" is no command; did you mean upgrade? The c" + commands.substr(5)},
        // An option's value is no command, in a word of its own or after short options run
        // together.
        {{"-i", "browse", "devcie", "QV000001"},
         "\"devcie\" is no command; did you mean device? The c" + commands.substr(5)},
        {{"-vi", "eth0", "Browse"},
         "\"Browse\" is no command; did you mean browse? The c" + commands.substr(5)},
        {{"--trace=t.pcap", "x"}, "\"x\" is no command; " + commands},
        {{"explian", "13"},
         "\"explian\" is no command; did you mean explain? The c" + commands.substr(5)},
        {{},
         "name a command: adapters, browse, device, info, check, upgrade, station, explain, "
         "doctor, history, panel"},
        {{"--json"},
         "name a command: adapters, browse, device, info, check, upgrade, station, explain, "
         "doctor, history, panel"},
        // What the parser says itself.
        {{"--pace", "99", "browse"}, "--pace: Value 99 not in range 0 to 20"},
        {{"--lab", "-i", "eth0", "browse"}, "--interface excludes --lab"},
        {{"--replay", "t.pcap", "browse"}, "--replay requires --lab"},
        {{"--lab", "--replay-device", "02:5a:17:00:00:0b", "browse"},
         "--replay-device requires --replay"},
        {{"--lab", "--replay", "t.pcap", "--replay-device", "QV00000B", "browse"},
         "--replay-device: not a MAC address: QV00000B"},
        {{"device"}, "NAME is required"},
        {{"--jason", "browse"}, "The following argument was not expected: --jason"},
    };
    for (const RefusedCommandLine& row : rows) {
        std::vector<const char*> arguments = row.Arguments;
        arguments.insert(arguments.begin(), "tarvik-cli");
        std::ostringstream out;
        std::ostringstream err;
        const ParseResult parsed =
            ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), out, err);
        EXPECT_FALSE(parsed.Options) << row.FirstLine;
        EXPECT_EQ(parsed.ExitStatus, EXIT_USAGE) << row.FirstLine;
        EXPECT_EQ(err.str(), row.FirstLine + "\nRun with --help for more information.\n");
        EXPECT_EQ(out.str(), "");
    }
}

// doctor examines the machine's interfaces, all or the one -i names; the lab has none.
TEST(CommandLineTest, DoctorTakesAnInterfaceButNotTheLab)
{
    const char* const named[] = {"tarvik-cli", "-i", "tva0", "--json", "doctor"};
    const ParseResult parsed = ParseCommandLine(5, named);
    ASSERT_TRUE(parsed.Options);
    EXPECT_EQ(parsed.Options->Which, Command::Doctor);
    EXPECT_EQ(parsed.Options->Interface, "tva0");
    EXPECT_TRUE(parsed.Options->Json);

    const char* const lab[] = {"tarvik-cli", "--lab", "doctor"};
    std::ostringstream out;
    std::ostringstream err;
    const ParseResult refused = ParseCommandLine(3, lab, out, err);
    EXPECT_FALSE(refused.Options);
    EXPECT_EQ(refused.ExitStatus, EXIT_USAGE);
    EXPECT_NE(err.str().find("the lab has none to examine"), std::string::npos) << err.str();
}

// doctor takes the station's bays, read and refused by the same code.
TEST(CommandLineTest, DoctorTakesTheStationsBays)
{
    const char* const bays[] = {"tarvik-cli",   "doctor", "--bay",
                                "left=tva0.11", "--bay",  "usb=tva1"};
    const ParseResult parsed = ParseCommandLine(6, bays);
    ASSERT_TRUE(parsed.Options);
    EXPECT_EQ(parsed.Options->Which, Command::Doctor);
    ASSERT_EQ(parsed.Options->Bays.size(), 2U);
    EXPECT_EQ(parsed.Options->Bays[0].Name, "left");
    EXPECT_EQ(parsed.Options->Bays[0].Interface, "tva0.11");
    EXPECT_EQ(parsed.Options->Bays[1].Interface, "tva1");

    const char* const file[] = {"tarvik-cli", "doctor", "--bays", "fixture.bays"};
    EXPECT_EQ(ParseCommandLine(4, file).Options->BaysFile, "fixture.bays");

    for (const std::vector<const char*>& refused :
         {std::vector<const char*>{"doctor", "--bay", "left=tva0.4095"},
          std::vector<const char*>{"doctor", "--bay", "left"},
          std::vector<const char*>{"-i", "tva0", "doctor", "--bay", "left=tva0"},
          std::vector<const char*>{"doctor", "--bay", "left=tva0", "--bays", "fixture.bays"}}) {
        std::vector<const char*> arguments = refused;
        arguments.insert(arguments.begin(), "tarvik-cli");
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), out, err)
                      .ExitStatus,
                  EXIT_USAGE)
            << refused.back();
    }
}

TEST(CommandLineTest, TheNearestCommandIsOfferedOnlyWhenItIsClose)
{
    const std::vector<std::string> names = {"adapters", "browse", "device",
                                            "info",     "check",  "upgrade"};
    const std::pair<const char*, const char*> rows[] = {
        {"upgarde", "upgrade"},
        {"UPGRADE", "upgrade"},
        {"upgrad", "upgrade"},
        {"brwose", "browse"},
        {"ifno", "info"},
        {"infos", "info"},
        {"chek", "check"},
        {"adaptres", "adapters"},
        {"devise", "device"},
        {"statoin", ""},
        {"dev", ""},
        {"x", ""},
        {"chk", ""},
        {"upgrd", "upgrade"},
        {"upgr", ""},
        {"", ""},
    };
    for (const auto& [word, nearest] : rows) {
        EXPECT_EQ(NearestName(word, names), nearest) << word;
    }
}

// --- progress lines ---

TEST(ProgressFormatTest, DurationsAndRates)
{
    EXPECT_EQ(FormatDuration(0), "00:00");
    EXPECT_EQ(FormatDuration(59), "00:59");
    EXPECT_EQ(FormatDuration(61), "01:01");
    EXPECT_EQ(FormatDuration(3600 + 62), "1:01:02");
    EXPECT_EQ(FormatRate(512), "512 B/s");
    EXPECT_EQ(FormatRate(25.5 * 1024), "25.5 KiB/s");
    EXPECT_EQ(FormatRate(3 * 1024 * 1024), "3.0 MiB/s");
}

TEST(ProgressFormatTest, BarLineShowsPhaseBarPercentBytesRateAndTimes)
{
    ProgressSnapshot snapshot;
    snapshot.Status = "Upgrade...";
    snapshot.Position = 50;
    snapshot.Number = 50;
    snapshot.HasPercent = true;
    snapshot.BytesDone = 32768;
    snapshot.BytesTotal = 65536;
    snapshot.Fraction = 0.25;
    snapshot.ElapsedMs = 10000;
    const std::string line = FormatBarLine(snapshot, 10);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_NE(line.find("Upgrade..."), std::string::npos);
    EXPECT_NE(line.find("[#####.....]"), std::string::npos);
    EXPECT_NE(line.find("50 %"), std::string::npos);
    EXPECT_NE(line.find("32768/65536 B"), std::string::npos);
    // A quarter of 2 x 64 KiB in ten seconds; three times as long to go.
    EXPECT_NE(line.find("3.2 KiB/s"), std::string::npos) << line;
    EXPECT_NE(line.find("00:10 elapsed"), std::string::npos);
    EXPECT_NE(line.find("00:30 left"), std::string::npos);
}

TEST(ProgressFormatTest, NothingKnownYetShowsNoPercentAndNoTimeLeft)
{
    ProgressSnapshot snapshot;
    snapshot.Status = "Erasing EEPROM...";
    const std::string line = FormatBarLine(snapshot, 4);
    EXPECT_NE(line.find("[....]"), std::string::npos);
    EXPECT_EQ(line.find('%'), std::string::npos);
    EXPECT_NE(line.find("--:-- left"), std::string::npos);
}

class ProgressPrinterTest : public ::testing::Test {
protected:
    // The reports of a transfer of size bytes as the device acknowledges each block.
    void Transfer(ProgressPrinter& printer, std::uint32_t size)
    {
        printer.BeginProgress(size);
        printer.SetProgress(Step(ProgressPhase::Erase, 0, size));
        for (std::uint32_t position = 512; position < size; position += 512) {
            kernel.Advance(40);
            const int p = static_cast<int>(position * 100 / size);
            printer.SetProgress(Step(ProgressPhase::Write, position, size, ProgressPercent{p, p}));
        }
        printer.SetProgress(Step(ProgressPhase::Verify, 0, size));
        for (std::uint32_t position = 512; position < size; position += 512) {
            kernel.Advance(40);
            const int p = static_cast<int>(position * 100 / size);
            ProgressReport report =
                Step(ProgressPhase::Verify, position, size, ProgressPercent{p, p + 1});
            report.Text.reset();
            printer.SetProgress(report);
        }
        printer.SetProgress(Step(ProgressPhase::Reset, size, size));
        printer.SetProgress(Step(ProgressPhase::Done, size, size));
        printer.Finish();
    }

    static ProgressReport Step(ProgressPhase phase, std::uint64_t done, std::uint64_t total,
                               std::optional<ProgressPercent> percent = std::nullopt)
    {
        ProgressReport report;
        report.Phase = phase;
        report.Text = ProgressText(phase);
        report.Percent = percent;
        report.BytesDone = done;
        report.BytesTotal = total;
        return report;
    }

    static std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    SimKernel kernel;
    std::ostringstream out;
};

TEST_F(ProgressPrinterTest, PlainLinesOnePerPhaseAndOnePerTenPercentWithoutCarriageReturns)
{
    ProgressPrinter printer(out, false, kernel);
    Transfer(printer, 64 * 1024);
    const std::string text = out.str();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    const auto lines = Lines(text);
    // Five phases, 9 tenths while writing (10..90) and 10 while verifying (10..100).
    ASSERT_EQ(lines.size(), 5u + 9u + 10u) << text;
    EXPECT_EQ(lines.front().rfind("Erasing EEPROM...", 0), 0u);
    EXPECT_EQ(lines.back().rfind("Upgrade Finish", 0), 0u);
    EXPECT_NE(text.find("Upgrade... 50 %"), std::string::npos);
    EXPECT_NE(text.find("Verify Target... 100 %"), std::string::npos);
}

TEST_F(ProgressPrinterTest, PlainLinesOfASmallImageAreThePhasesOnly)
{
    ProgressPrinter printer(out, false, kernel);
    Transfer(printer, 400);
    const auto lines = Lines(out.str());
    // One block: no "Upgrade..." phase and no percent.
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines) {
        EXPECT_EQ(line.find('%'), std::string::npos) << line;
    }
}

TEST_F(ProgressPrinterTest, TerminalRedrawsOneLineAndEndsIt)
{
    ProgressPrinter printer(out, true, kernel);
    Transfer(printer, 4096);
    const std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_GT(std::count(text.begin(), text.end(), '\r'), 10);
    const std::string last = text.substr(text.rfind('\r'));
    EXPECT_NE(last.find("Upgrade Finish"), std::string::npos);
    EXPECT_NE(last.find("4096/4096 B"), std::string::npos);
}

// A failure in the middle of a transfer on a terminal: the message starts a line of its own.
TEST_F(ProgressPrinterTest, AMessageEndsTheRedrawnLineFirst)
{
    ProgressPrinter printer(out, true, kernel);
    TerminalPort port(out, true);
    port.SetBeforeMessage([&printer] { printer.Finish(); });
    printer.BeginProgress(4096);
    printer.SetProgress(Step(ProgressPhase::Erase, 0, 4096));
    port.ShowMessage("Upgrade Process Error !");
    printer.Finish();
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 2u) << out.str();
    EXPECT_EQ(lines[1], "Upgrade Process Error !");
}

// --- JSON ---

// --- the station's console ---

TEST(StationConsoleTest, TheStatusLineCountsDevicesPerHourFromTheFirstMinuteOn)
{
    EXPECT_EQ(FormatStationStatus({3, 1, 1, 2}, 59'999),
              "passed 3, failed 1, skipped 1, in progress 2, - devices/h");
    EXPECT_EQ(FormatStationStatus({1, 0, 0, 0}, 120'000),
              "passed 1, failed 0, skipped 0, in progress 0, 30 devices/h");
    EXPECT_EQ(FormatStationStatus({41, 2, 0, 1}, 3'600'000),
              "passed 41, failed 2, skipped 0, in progress 1, 41 devices/h");
}

// Off a terminal every event is a line of its own; the tally counts a stopped run as failed.
TEST(StationConsoleTest, OffATerminalEachEventIsALineAndTheTallyFollows)
{
    SimKernel clock;
    std::ostringstream err;
    StationConsole console(err, false, clock, 2, nullptr);
    ImageDescriptor misfit = SampleDescriptor();
    misfit.Bytes[DESC_BOARD_CODE + 5] = 0x66;
    console.Arrived("QV000007", "", misfit, false);
    const auto report = [](const char* device, UpgradeOutcome outcome, const char* result) {
        DeviceRunReport made;
        made.DeviceName = device;
        made.Outcome = outcome;
        made.Result = result;
        return made;
    };
    DeviceRunReport skip =
        report("QV000007", UpgradeOutcome::HardwareMismatch, "Hardware Type Mismatch !");
    skip.Skipped = true;
    console.Skipped(skip);
    console.RunStarts(0, "QV000001", "");
    console.RunStarts(1, "QV000002", "");
    clock.Sleep(1500);
    console.RunEnds(0, report("QV000001", UpgradeOutcome::Finished, "Upgrade Finish"));
    DeviceRunReport stopped = report("QV000002", UpgradeOutcome::Other, "interrupted");
    stopped.Stopped = true;
    console.RunEnds(1, stopped);
    EXPECT_EQ(err.str(), "QV000007: arrived, board code 001122334466\n"
                         "QV000007: skipped: Hardware Type Mismatch !\n"
                         "QV000001: started\n"
                         "QV000002: started\n"
                         "QV000001: Upgrade Finish (1.5 s)\n"
                         "QV000002: interrupted (1.5 s)\n");
    const StationTally tally = console.Tally();
    EXPECT_EQ(tally.Passed, 1u);
    EXPECT_EQ(tally.Failed, 1u);
    EXPECT_EQ(tally.Skipped, 1u);
    EXPECT_EQ(tally.InProgress, 0u);
}

// With bays the board has a slot per bay, named by it, showing the bay's latest device (the
// same address in two bays is two slots); on request a line of counts per bay follows the
// status line, and a bay's second device still running when the first ends is counted there.
TEST(StationConsoleTest, OnATerminalEachBayHasItsSlotAndItsCountsOnRequest)
{
    SimKernel clock;
    std::ostringstream err;
    StationConsole console(err, true, clock, StationBoardShape{8, {"left", "right"}, true},
                           nullptr);
    DeviceRunReport passed;
    passed.DeviceName = "QV000001";
    passed.Bay = "left";
    passed.Outcome = UpgradeOutcome::Finished;
    passed.Result = "Upgrade Finish";
    console.RunStarts(0, "QV000001", "left");
    console.RunStarts(1, "QV000001", "right");
    console.RunStarts(2, "QV000002", "left");
    console.RunEnds(0, passed);
    err.str("");
    console.Finish();

    std::vector<std::string> lines;
    std::istringstream in(err.str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 5u) << err.str();
    EXPECT_NE(lines[0].find("[left] QV000002"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("[right] QV000001"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("passed 1, failed 0, skipped 0, in progress 2"), std::string::npos);
    EXPECT_NE(lines[3].find("left: passed 1, failed 0, skipped 0, in progress 1"),
              std::string::npos)
        << lines[3];
    EXPECT_NE(lines[4].find("right: passed 0, failed 0, skipped 0, in progress 1"),
              std::string::npos)
        << lines[4];
    const std::vector<StationTally> bays = console.BayTallies();
    ASSERT_EQ(bays.size(), 2u);
    EXPECT_EQ(bays[0].Passed, 1u);
    EXPECT_EQ(bays[1].InProgress, 1u);
}

TEST(JsonOutputTest, DescriptorFieldsInRowOrderWithTheirDisplayForms)
{
    const Json json = DescriptorJson(SampleDescriptor(), "DeviceName", "QV1A2B3C");
    std::vector<std::string> keys;
    for (const auto& item : json.items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{
                        "DeviceName", "PidVersion", "UpgradeControl", "HwVersion", "BoardCode",
                        "FwVersion", "ProductId", "ProductMask", "ProtocolId", "ProtocolMask",
                        "FunctionId", "FunctionMask", "CodeSegment", "CodeSize"}));
    EXPECT_EQ(json["DeviceName"], "QV1A2B3C");
    EXPECT_EQ(json["BoardCode"], "001122334455");
    EXPECT_EQ(json["CodeSegment"], "1000");
}

TEST(JsonOutputTest, NamesAndErrors)
{
    EXPECT_EQ(NamesJson({"021122334455", "QV1A2B3C"}).dump(), R"(["021122334455","QV1A2B3C"])");
    EXPECT_EQ(NamesJson({}).dump(), "[]");
    EXPECT_EQ(ErrorJson("Access Target Error!").dump(), R"({"error":"Access Target Error!"})");
}

}  // namespace
}  // namespace tarvik::cli
