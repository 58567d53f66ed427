#include "commands/failure_catalogue.h"

#include <charconv>

namespace tarvik {
namespace {

std::string_view WithoutTrailingBlanks(std::string_view text)
{
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::vector<ExplainedStatus> ExplainTopic(std::string_view topic)
{
    std::vector<ExplainedStatus> found;
    int number = 0;
    const auto [end, error] = std::from_chars(topic.data(), topic.data() + topic.size(), number);
    const bool isNumber = error == std::errc{} && end == topic.data() + topic.size();
    const std::string_view text = WithoutTrailingBlanks(topic);
    for (const OutcomeRow& row : ExitStatusRows()) {
        const bool named = isNumber ? row.ExitStatus == number
                                    : !row.Text.empty() && WithoutTrailingBlanks(row.Text) == text;
        if (named) {
            found.push_back(row);
        }
    }
    return found;
}

std::string ExplainText(const ExplainedStatus& status)
{
    return std::to_string(status.ExitStatus) + "  " + DescribeOutcome(status) +
           "\n  causes: " + std::string(status.Causes) +
           "\n  what to do: " + std::string(status.Remedy) + "\n";
}

std::string ExplainAccepts()
{
    // The statuses in runs: "10 to 23" rather than fourteen numbers.
    const std::vector<OutcomeRow> rows = ExitStatusRows();
    std::string statuses;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::size_t last = i;
        while (last + 1 < rows.size() && rows[last + 1].ExitStatus == rows[last].ExitStatus + 1) {
            ++last;
        }
        statuses += (statuses.empty() ? "" : ", ") + std::to_string(rows[i].ExitStatus);
        if (last > i) {
            statuses += " to " + std::to_string(rows[last].ExitStatus);
        }
        i = last;
    }
    return "an exit status (" + statuses + ") or a message as the program shows it, e.g. \"" +
           std::string(MSG_HARDWARE_MISMATCH) + "\"";
}

std::string FailureCatalogueMarkdown()
{
    std::string table = "| Status | Message | Causes seen in practice | What to do |\n"
                        "|---|---|---|---|\n";
    for (const OutcomeRow& row : ExitStatusRows()) {
        table +=
            "| " + std::to_string(row.ExitStatus) + " | " +
            (row.Text.empty() ? std::string("(no message)") : "\"" + std::string(row.Text) + "\"") +
            " | " + std::string(row.Causes) + " | " + std::string(row.Remedy) + " |\n";
    }
    return table;
}

}  // namespace tarvik
