// `tarvik-cli explain`: parsed like any command, printed without touching the machine.

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "cli/json_output.h"

namespace tarvik::cli {
namespace {

struct ExplainRun {
    int Status = 0;
    std::string Out;
    std::string Err;
};

// Parses and runs the command line as the program does, with -i naming an adapter this
// machine has not got: a run that opened one would fail.
ExplainRun RunExplain(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), {"tarvik-cli", "-i", "no-such-adapter0"});
    std::ostringstream out;
    std::ostringstream err;
    ExplainRun run;
    const ParseResult parsed =
        ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), out, err);
    if (!parsed.Options) {
        run.Status = parsed.ExitStatus;
    } else {
        const StopRequested stop = [] { return false; };
        run.Status = RunCli(*parsed.Options, Streams{out, err}, stop);
    }
    run.Out = out.str();
    run.Err = err.str();
    return run;
}

TEST(ExplainCommandTest, PrintsTheEntryOfAStatusOrOfEachStatusOfAMessage)
{
    const ExplainRun byNumber = RunExplain({"explain", "13"});
    EXPECT_EQ(byNumber.Status, EXIT_SUCCESS_STATUS) << byNumber.Err;
    EXPECT_EQ(byNumber.Err, "");
    EXPECT_EQ(byNumber.Out.rfind("13  \"Hardware Type Mismatch !\"\n  causes: the image is for "
                                 "another board",
                                 0),
              0u)
        << byNumber.Out;
    EXPECT_NE(byNumber.Out.find("\n  what to do: compare `tarvik-cli info FILE`"),
              std::string::npos)
        << byNumber.Out;

    const ExplainRun byText = RunExplain({"explain", "Hardware Type Mismatch !"});
    EXPECT_EQ(byText.Status, EXIT_SUCCESS_STATUS);
    EXPECT_EQ(byText.Out, byNumber.Out);

    const ExplainRun shared = RunExplain({"explain", "Upgrade Process Error !"});
    EXPECT_EQ(shared.Status, EXIT_SUCCESS_STATUS);
    EXPECT_EQ(shared.Out.rfind("16  \"Upgrade Process Error !\"", 0), 0u) << shared.Out;
    EXPECT_NE(shared.Out.find("\n17  \"Upgrade Process Error !\""), std::string::npos)
        << shared.Out;
}

TEST(ExplainCommandTest, JsonGivesOneObjectPerStatus)
{
    const ExplainRun run = RunExplain({"--json", "explain", "Upgrade Process Error !"});
    EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS) << run.Err;
    std::istringstream lines(run.Out);
    std::vector<int> statuses;
    for (std::string line; std::getline(lines, line);) {
        const Json object = Json::parse(line);
        statuses.push_back(object.at("status").get<int>());
        EXPECT_EQ(object.at("message"), "Upgrade Process Error !");
        EXPECT_FALSE(object.at("causes").get<std::string>().empty());
        EXPECT_FALSE(object.at("remedy").get<std::string>().empty());
    }
    EXPECT_EQ(statuses, (std::vector<int>{16, 17}));
}

TEST(ExplainCommandTest, AnUnknownTopicIsACommandLineErrorThatSaysWhatIsAccepted)
{
    for (const char* topic : {"99", "Hardware Type Mismatch", "timeout"}) {
        const ExplainRun run = RunExplain({"explain", topic});
        EXPECT_EQ(run.Status, EXIT_USAGE) << topic;
        EXPECT_EQ(run.Out, "") << topic;
        EXPECT_NE(run.Err.find(std::string("neither an exit status nor a message: \"") + topic +
                               "\"; explain takes an exit status (0, 2, 10 to 25"),
                  std::string::npos)
            << run.Err;
    }
    EXPECT_EQ(RunExplain({"explain"}).Status, EXIT_USAGE);
}

}  // namespace
}  // namespace tarvik::cli
