#include "commands/outcomes.h"

#include <algorithm>

namespace tarvik {

std::vector<OutcomeRow> ExitStatusRows()
{
    std::vector<OutcomeRow> rows(PROGRAM_OUTCOMES.begin(), PROGRAM_OUTCOMES.end());
    const auto addFailures = [&rows](const auto& table) {
        for (const OutcomeRow& row : table) {
            if (row.ExitStatus != 0) {
                rows.push_back(row);
            }
        }
    };
    addFailures(UPGRADE_OUTCOMES);
    addFailures(INQUIRY_OUTCOMES);
    addFailures(STARTUP_OUTCOMES);
    std::stable_sort(rows.begin(), rows.end(), [](const OutcomeRow& a, const OutcomeRow& b) {
        return a.ExitStatus < b.ExitStatus;
    });
    return rows;
}

std::string DescribeOutcome(const OutcomeRow& row)
{
    if (row.Text.empty()) {
        return std::string(row.Meaning);
    }
    std::string line = "\"" + std::string(row.Text) + "\"";
    if (!row.Meaning.empty()) {
        line += " (" + std::string(row.Meaning) + ")";
    }
    return line;
}

std::string ExitStatusMarkdown()
{
    std::string table = "| Status | Meaning |\n|---|---|\n";
    for (const OutcomeRow& row : ExitStatusRows()) {
        table += "| " + std::to_string(row.ExitStatus) + " | " + DescribeOutcome(row) + " |\n";
    }
    return table;
}

}  // namespace tarvik
