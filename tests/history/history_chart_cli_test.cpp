// tarvik-cli history chart on lab histories: the counts the picture carries, the image it
// draws by default and when named, and what it refuses.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli/exit_status.h"
#include "history/history_store.h"
#include "history/lab_cli.h"
#include "image/image_digest.h"
#include "platform/files/file_system.h"

namespace tarvik::cli {
namespace {

std::string Contents(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The texts of one class, in the order drawn.
std::vector<std::string> TextsOf(const std::string& svg, const std::string& name)
{
    std::vector<std::string> texts;
    const std::regex text("<text [^>]*class=\"" + name + "\">([^<]*)</text>");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator();
         ++it) {
        texts.push_back((*it)[1]);
    }
    return texts;
}

class HistoryChartCliTest : public ::testing::Test {
protected:
    HistoryChartCliTest()
    {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    ~HistoryChartCliTest() override { std::filesystem::remove_all(folder); }

    // Every lab device upgraded: QV1A2B3C passes, QV000007 (another board) fails.
    void LabRun()
    {
        const CliRun upgrade =
            RunCliWith({"--lab", "--pace", "0", "--progress", "plain", "upgrade",
                        TARVIK_SAMPLE_IMAGE, "--all", "--history", history.c_str()});
        ASSERT_EQ(upgrade.Status, EXIT_SUCCESS_STATUS) << upgrade.Err;
    }

    // One attempt of another image, newer than any lab run.
    void AppendNewerImage(const std::string& path)
    {
        std::string error;
        auto store = HistoryStore::Open(path, error);
        ASSERT_TRUE(store) << error;
        HistoryRecord newer;
        newer.RecordId = "newer-image";
        newer.StartMs = newer.EndMs = 4'000'000'000'000;  // in 2096
        newer.Station = "line3";
        newer.DeviceName = "QV000042";
        newer.FileName = "/images/next.bin";
        newer.Sha256 = std::string(64, 'c');
        newer.ExitStatus = 16;
        newer.Result = "Upgrade Process Error !";
        ASSERT_TRUE(store->Append(newer, error)) << error;
    }

    CliRun Chart(std::vector<const char*> more)
    {
        std::vector<const char*> arguments{"history", "--history", history.c_str(), "chart"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return RunCliWith(arguments);
    }

    const std::string folder = Folder();
    const std::string history = folder + "/history.sqlite";
};

// Of the two devices, one passed its first attempt (QV1A2B3C), whatever the hours they fell
// in; every attempt is counted under its ending, named as the outcome table names it.
TEST_F(HistoryChartCliTest, ThePictureCarriesTheLabHistorysCounts)
{
    LabRun();
    const std::string before = Contents(history);
    const std::string out = folder + "/chart.svg";
    const CliRun chart = Chart({"--out", out.c_str()});
    ASSERT_EQ(chart.Status, EXIT_SUCCESS_STATUS) << chart.Err;
    EXPECT_EQ(chart.Out, "");
    const std::string svg = Contents(out);
    std::uint64_t passed = 0;
    std::uint64_t devices = 0;
    const std::vector<std::string> values = TextsOf(svg, "chart-value");
    ASSERT_GE(values.size(), 3u) << svg;
    for (std::size_t i = 0; i + 2 < values.size(); ++i) {
        const std::size_t slash = values[i].find('/');
        ASSERT_NE(slash, std::string::npos) << values[i];
        passed += std::stoull(values[i].substr(0, slash));
        devices += std::stoull(values[i].substr(slash + 1));
    }
    EXPECT_EQ(passed, 1u);
    EXPECT_EQ(devices, 2u);
    EXPECT_EQ(TextsOf(svg, "chart-name"),
              (std::vector<std::string>{"Upgrade Finish", "Hardware Type Mismatch !"}));
    EXPECT_EQ(std::vector<std::string>(values.end() - 2, values.end()),
              (std::vector<std::string>{"1", "1"}));
    EXPECT_NE(svg.find("sample.bin e5bcc627"), std::string::npos);
    EXPECT_EQ(Contents(history), before);

    // The PNG of the same, over an older file.
    const std::string png = folder + "/chart.png";
    std::ofstream(png) << "an older picture";
    ASSERT_EQ(Chart({"--out", png.c_str()}).Status, EXIT_SUCCESS_STATUS);
    EXPECT_TRUE(Contents(png).starts_with("\x89PNG\r\n\x1A\n"));
    EXPECT_FALSE(std::filesystem::exists(png + ".partial"));
}

// Without --image the newest attempt's image is drawn; --image FILE and --sha256 (either case)
// name another.
TEST_F(HistoryChartCliTest, TheNewestImageByDefaultAnotherByFileOrDigest)
{
    LabRun();
    AppendNewerImage(history);
    const std::string out = folder + "/chart.svg";
    ASSERT_EQ(Chart({"--out", out.c_str()}).Status, EXIT_SUCCESS_STATUS);
    std::string svg = Contents(out);
    EXPECT_NE(svg.find("next.bin cccccccc"), std::string::npos);
    EXPECT_EQ(TextsOf(svg, "chart-value"), (std::vector<std::string>{"0/1", "1"}));

    ASSERT_EQ(Chart({"--out", out.c_str(), "--image", TARVIK_SAMPLE_IMAGE}).Status,
              EXIT_SUCCESS_STATUS);
    EXPECT_NE(Contents(out).find("sample.bin e5bcc627"), std::string::npos);

    SystemFileSystem files;
    const auto digest = DigestImageFile(files, TARVIK_SAMPLE_IMAGE);
    ASSERT_TRUE(digest);
    std::string upper = digest->Sha256;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    ASSERT_EQ(Chart({"--out", out.c_str(), "--sha256", upper.c_str()}).Status, EXIT_SUCCESS_STATUS);
    svg = Contents(out);
    EXPECT_NE(svg.find("sample.bin e5bcc627"), std::string::npos);
    EXPECT_EQ(TextsOf(svg, "chart-name"),
              (std::vector<std::string>{"Upgrade Finish", "Hardware Type Mismatch !"}));

    // A window with nothing in it, or an image never used: the words for nothing.
    ASSERT_EQ(Chart({"--out", out.c_str(), "--since", "2097-01-01"}).Status, EXIT_SUCCESS_STATUS);
    EXPECT_EQ(TextsOf(Contents(out), "chart-empty").size(), 2u);
    ASSERT_EQ(Chart({"--out", out.c_str(), "--sha256", std::string(64, 'd').c_str()}).Status,
              EXIT_SUCCESS_STATUS);
    EXPECT_EQ(TextsOf(Contents(out), "chart-empty").size(), 2u);
}

TEST_F(HistoryChartCliTest, RefusalsWriteNothing)
{
    // No history yet: a picture that says so, and still no history.
    const std::string out = folder + "/chart.svg";
    ASSERT_EQ(Chart({"--out", out.c_str()}).Status, EXIT_SUCCESS_STATUS);
    EXPECT_EQ(TextsOf(Contents(out), "chart-empty"),
              (std::vector<std::string>{"no attempts yet", "no attempts yet"}));
    EXPECT_FALSE(std::filesystem::exists(history));

    AppendNewerImage(history);
    for (const char* refused : {"chart.gif", "chart", "chart.svg.tmp"}) {
        const std::string path = folder + "/" + refused;
        const CliRun run = Chart({"--out", path.c_str()});
        EXPECT_EQ(run.Status, EXIT_USAGE) << refused;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        EXPECT_NE(run.Err.find("neither an .svg nor a .png"), std::string::npos) << run.Err;
        EXPECT_FALSE(std::filesystem::exists(path)) << refused;
    }
    EXPECT_EQ(Chart({"--out", out.c_str(), "--sha256", "e5bcc627"}).Status, EXIT_USAGE);
    EXPECT_EQ(Chart({"--out", out.c_str(), "--sha256", std::string(64, 'a').c_str(), "--image",
                     TARVIK_SAMPLE_IMAGE})
                  .Status,
              EXIT_USAGE);
    EXPECT_EQ(Chart({}).Status, EXIT_USAGE) << "--out is required";

    // A history named like a picture is never written over.
    const std::string named = folder + "/history.svg";
    std::filesystem::copy_file(history, named);
    const std::string before = Contents(named);
    const CliRun over = RunCliWith({"history", "--history", named.c_str(), "chart", "--out",
                                    (folder + "/./history.svg").c_str()});
    EXPECT_EQ(over.Status, EXIT_USAGE);
    EXPECT_NE(over.Err.find("is the history itself"), std::string::npos) << over.Err;
    EXPECT_EQ(Contents(named), before);
}

}  // namespace
}  // namespace tarvik::cli
