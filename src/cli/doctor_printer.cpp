#include "cli/doctor_printer.h"

#include "cli/json_output.h"
#include "netio/adapter_discovery.h"

namespace tarvik::cli {
namespace {

// Interface names are at most 15 characters; most are short, and a column of 8 keeps the
// results in line for them.
constexpr std::size_t INTERFACE_COLUMN = 8;
// A bay's name and its interface, "bay12 eth0.4094", take more.
constexpr std::size_t BAY_COLUMN = 18;

nlohmann::ordered_json WithBay(const std::string& bay, nlohmann::ordered_json object)
{
    if (bay.empty()) {
        return object;
    }
    nlohmann::ordered_json labelled = {{"bay", bay}};
    labelled.update(object);
    return labelled;
}

}  // namespace

nlohmann::ordered_json DoctorCheckJson(const DoctorCheck& check)
{
    return WithBay(check.Bay, {{"interface", check.Interface},
                               {"check", check.Name},
                               {"result", std::string(CheckResultName(check.Result))},
                               {"detail", check.Detail},
                               {"advice", check.Advice}});
}

nlohmann::ordered_json ProbeJson(const std::string& bay, const std::string& interfaceName,
                                 const ProbeFacts& facts)
{
    nlohmann::ordered_json answers = nlohmann::ordered_json::array();
    for (const ProbeAnswer& answer : facts.Answers) {
        answers.push_back({{"device", answer.DeviceName},
                           {"asked", std::string(FrameVariantName(answer.Asked))},
                           {"answered", std::string(FrameVariantName(answer.Answered))},
                           {"ms", answer.ReplyMs}});
    }
    return WithBay(bay, {{"interface", interfaceName},
                         {"opened", facts.OpenResult == DISCOVERY_OK},
                         {"answers", std::move(answers)}});
}

std::string DoctorCheckLine(const DoctorCheck& check)
{
    std::string line = check.Interface.empty() ? "-" : check.Interface;
    if (!check.Bay.empty()) {
        line = check.Bay + " " + line;
    }
    line.resize(std::max(line.size() + 2, check.Bay.empty() ? INTERFACE_COLUMN : BAY_COLUMN), ' ');
    line += std::string(CheckResultName(check.Result)) + "  " + check.Detail;
    if (!check.Advice.empty()) {
        line += "  ->  " + check.Advice;
    }
    return line;
}

void DoctorPrinter::Report(const DoctorCheck& check)
{
    if (json_) {
        out_ << JsonLine(DoctorCheckJson(check)) << '\n';
    } else {
        out_ << DoctorCheckLine(check) << '\n';
    }
    out_.flush();
}

void DoctorPrinter::Probed(const std::string& bay, const std::string& interfaceName,
                           const ProbeFacts& facts)
{
    if (json_) {
        out_ << JsonLine(ProbeJson(bay, interfaceName, facts)) << '\n';
    }
}

}  // namespace tarvik::cli
