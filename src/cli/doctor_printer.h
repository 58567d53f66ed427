#pragma once
// How `doctor` prints its findings: a line per check, for a technician to read,
//   tva0      pass  carrier
//   tva0      warn  managed by NetworkManager (connected): ...  ->  sudo nmcli device ...
// (the program's own checks under "-"; a bay's lines begin with the bay, "bay3 eth0.12  pass
// ..."), or with --json one object per line: a check as {"interface", "check", "result",
// "detail", "advice"}, an interface's probe as {"interface", "opened", "answers": [{"device",
// "asked", "answered", "ms"}]}, each with "bay" first when it is a bay's.

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "commands/doctor.h"

namespace tarvik::cli {

nlohmann::ordered_json DoctorCheckJson(const DoctorCheck& check);
nlohmann::ordered_json ProbeJson(const std::string& bay, const std::string& interfaceName,
                                 const ProbeFacts& facts);
// A check's line, without its end of line.
std::string DoctorCheckLine(const DoctorCheck& check);

class DoctorPrinter final : public DoctorReportPort {
public:
    DoctorPrinter(std::ostream& out, bool json) : out_(out), json_(json) {}
    void Report(const DoctorCheck& check) override;
    void Probed(const std::string& bay, const std::string& interfaceName,
                const ProbeFacts& facts) override;

private:
    std::ostream& out_;
    bool json_;
};

}  // namespace tarvik::cli
