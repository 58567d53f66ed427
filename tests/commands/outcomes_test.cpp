// The outcome tables: every code has its row, every failure its own exit status, and the
// README lists exactly what the tables say.

#include "commands/outcomes.h"
#include "commands/readme_text.h"

#include <gtest/gtest.h>

#include <set>

namespace tarvik {
namespace {

// Every ending has its own exit status, listed once in the documented table: 0 for "Upgrade
// Finish" alone, 130 for the user's stop, none of the others a status shells keep for
// themselves. (That every code has its row, at its place, the tables' static_asserts say.)
TEST(OutcomeTableTest, EveryEndingHasItsOwnDocumentedExitStatus)
{
    for (const int result : {STARTUP_READY, DISCOVERY_NO_ADAPTER, DISCOVERY_OPEN_ADAPTER_FAILED,
                             DISCOVERY_OPEN_REGISTRY_FAILED, DISCOVERY_OPEN_EVENT_FAILED,
                             DISCOVERY_START_RECEPTION_FAILED, STARTUP_WITHOUT_ADAPTER,
                             STARTUP_UNKNOWN_ADAPTER, STARTUP_NO_OS_VERSION}) {
        ASSERT_NE(StartupRow(result), nullptr) << result;
    }
    EXPECT_EQ(StartupRow(99), nullptr);

    std::set<int> documented;
    for (const OutcomeRow& row : ExitStatusRows()) {
        EXPECT_TRUE(documented.insert(row.ExitStatus).second) << "status " << row.ExitStatus;
        EXPECT_TRUE(row.ExitStatus < 126 || row.ExitStatus == 130)
            << "shells keep 126 and above for themselves, but for 130 (a signal)";
        EXPECT_FALSE(DescribeOutcome(row).empty());
    }
    std::set<int> failures;
    for (int code = 0; code <= static_cast<int>(UpgradeOutcome::Other); ++code) {
        const auto outcome = static_cast<UpgradeOutcome>(code);
        const int status = RowOf(outcome).ExitStatus;
        EXPECT_EQ(documented.count(status), 1u) << "outcome " << code;
        if (outcome != UpgradeOutcome::Finished) {
            EXPECT_GT(status, 0) << "outcome " << code;
            EXPECT_TRUE(failures.insert(status).second) << "status " << status << " given twice";
        }
    }
    EXPECT_EQ(RowOf(UpgradeOutcome::Finished).ExitStatus, 0);
    EXPECT_EQ(RowOf(ProgramOutcome::Interrupted).ExitStatus, 130);
    EXPECT_EQ(documented.count(RowOf(ProgramOutcome::DoctorFoundFault).ExitStatus), 1u);
}

// A code a table does not hold has no row, rather than the row of some other ending.
TEST(OutcomeTableTest, ACodeWithoutARowIsReportedAsSuch)
{
    EXPECT_EQ(FindRow(UPGRADE_OUTCOMES, 99), nullptr);
    EXPECT_EQ(FindRow(INQUIRY_OUTCOMES, -1), nullptr);
    EXPECT_EQ(FindRow(PROGRAM_OUTCOMES, 6), nullptr);
    EXPECT_EQ(StartupRow(STARTUP_CAPABILITIES_KEPT + 1), nullptr);
    ASSERT_NE(FindRow(INQUIRY_OUTCOMES, static_cast<int>(InquiryOutcome::BroadcastError)), nullptr);
    EXPECT_EQ(FindRow(INQUIRY_OUTCOMES, static_cast<int>(InquiryOutcome::BroadcastError))->Text,
              "Broadcast Error !");
}

TEST(OutcomeTableTest, TheReadmeListsTheExitStatusesAsTheTablesSay)
{
    const std::string readme = ReadmeText();
    ASSERT_FALSE(readme.empty()) << TARVIK_README;
    const std::string table = ExitStatusMarkdown();
    EXPECT_NE(readme.find(table), std::string::npos)
        << "the README's exit-status table should read:\n"
        << table;
}

}  // namespace
}  // namespace tarvik
