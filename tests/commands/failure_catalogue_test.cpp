// The catalogue of failures: a row for every exit status and no other, the topics explain
// takes, and the README's copy of it in its place.

#include "commands/failure_catalogue.h"

#include <gtest/gtest.h>

#include "commands/readme_text.h"

#include <set>

namespace tarvik {
namespace {

TEST(FailureCatalogueTest, EveryExitStatusIsExplainedOnce)
{
    std::set<int> statuses;
    for (const OutcomeRow& row : ExitStatusRows()) {
        EXPECT_TRUE(statuses.insert(row.ExitStatus).second) << row.ExitStatus << " twice";
        EXPECT_FALSE(row.Causes.empty()) << row.ExitStatus;
        EXPECT_FALSE(row.Remedy.empty()) << row.ExitStatus;
        const std::vector<ExplainedStatus> explained = ExplainTopic(std::to_string(row.ExitStatus));
        ASSERT_EQ(explained.size(), 1u) << row.ExitStatus;
        EXPECT_EQ(explained[0].Causes, row.Causes);
    }
}

struct TopicRow {
    std::string_view Topic;
    std::vector<int> Statuses;  // empty: explain refuses the topic
};

TEST(FailureCatalogueTest, ATopicNamesItsStatusOrEveryStatusOfItsMessage)
{
    const TopicRow rows[] = {
        {"13", {13}},
        {"0", {0}},
        {"130", {130}},
        {"Hardware Type Mismatch !", {13}},
        {"Access Target Error!", {21}},
        // One message for two endings: both are explained.
        {"Upgrade Process Error !", {16, 17}},
        // The message ends in a blank that nobody types.
        {"Operation System Not Support ! ", {35}},
        {"Operation System Not Support !", {35}},
        {"Drop Capabilities Fail !", {38}},
        {"99", {}},
        {"1", {}},
        {"13x", {}},
        {"-13", {}},
        {"", {}},
        {"hardware type mismatch !", {}},
        {"Hardware Type Mismatch", {}},
        {"interrupted", {}},
    };
    for (const TopicRow& row : rows) {
        std::vector<int> statuses;
        for (const ExplainedStatus& explained : ExplainTopic(row.Topic)) {
            statuses.push_back(explained.ExitStatus);
        }
        EXPECT_EQ(statuses, row.Statuses) << '"' << row.Topic << '"';
    }
}

TEST(FailureCatalogueTest, TheRefusalNamesEveryStatusInRuns)
{
    EXPECT_EQ(ExplainAccepts(),
              "an exit status (0, 2, 10 to 25, 30 to 38, 40 to 46, 130) or a message as the "
              "program shows it, e.g. \"Hardware Type Mismatch !\"");
}

TEST(FailureCatalogueTest, TheReadmeHoldsTheCatalogueWhereADeviceMisbehaves)
{
    const std::string readme = ReadmeText();
    ASSERT_FALSE(readme.empty()) << TARVIK_README;
    const std::size_t section = readme.find("\n## When a device misbehaves\n");
    ASSERT_NE(section, std::string::npos);
    const std::size_t next = readme.find("\n## ", section + 1);
    const std::string table = FailureCatalogueMarkdown();
    const std::size_t at = readme.find(table);
    EXPECT_NE(at, std::string::npos) << "the README's catalogue should read:\n" << table;
    EXPECT_GT(at, section);
    EXPECT_LT(at, next);
}

}  // namespace
}  // namespace tarvik
