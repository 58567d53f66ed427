// tarvik-cli history chart on a lab history: the counts the picture carries, the image it draws
// by default and when named, and what it refuses.

#include <gtest/gtest.h>

#include <algorithm>
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

// The hours' labels (passed/devices) added up, as "passed/devices": the lab's two devices may
// fall in two hours.
std::string HoursAddedUp(const std::vector<std::string>& values)
{
    std::uint64_t passed = 0;
    std::uint64_t devices = 0;
    for (const std::string& value : values) {
        const std::size_t slash = value.find('/');
        if (slash != std::string::npos) {
            passed += std::stoull(value.substr(0, slash));
            devices += std::stoull(value.substr(slash + 1));
        }
    }
    return std::to_string(passed) + "/" + std::to_string(devices);
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
    HistoryChartCliTest() { std::filesystem::create_directories(folder); }
    ~HistoryChartCliTest() override { std::filesystem::remove_all(folder); }

    // One attempt of another image, in 2096: newer than any lab run.
    void AppendNewerImage()
    {
        std::string error;
        auto store = HistoryStore::Open(history, error);
        ASSERT_TRUE(store) << error;
        HistoryRecord newer;
        newer.RecordId = "newer-image";
        newer.StartMs = newer.EndMs = 4'000'000'000'000;
        newer.DeviceName = "QV000042";
        newer.FileName = "/images/next.bin";
        newer.Sha256 = std::string(64, 'c');
        newer.ExitStatus = 16;
        ASSERT_TRUE(store->Append(newer, error)) << error;
    }

    int Chart(std::vector<const char*> more)
    {
        std::vector<const char*> arguments{"history", "--history", history.c_str(),
                                           "chart",   "--out",     out.c_str()};
        arguments.insert(arguments.end(), more.begin(), more.end());
        last = RunCliWith(arguments);
        return last.Status;
    }

    const std::string folder = Folder();
    const std::string history = folder + "/history.sqlite";
    const std::string out = folder + "/chart.svg";
    CliRun last;
};

// Every lab device upgraded once: QV1A2B3C passed, QV000007 (another board) did not. Then an
// attempt of another image, which becomes the default; the lab's is named by file or digest.
TEST_F(HistoryChartCliTest, ThePictureCarriesTheCountsOfTheImageItNames)
{
    const CliRun upgrade = RunCliWith({"--lab", "--pace", "0", "--progress", "plain", "upgrade",
                                       TARVIK_SAMPLE_IMAGE, "--all", "--history", history.c_str()});
    ASSERT_EQ(upgrade.Status, EXIT_SUCCESS_STATUS) << upgrade.Err;
    const std::string before = Contents(history);
    ASSERT_EQ(Chart({}), EXIT_SUCCESS_STATUS) << last.Err;
    std::string svg = Contents(out);
    EXPECT_NE(svg.find("sample.bin e5bcc627"), std::string::npos);
    EXPECT_EQ(HoursAddedUp(TextsOf(svg, "chart-value")), "1/2");
    EXPECT_EQ(TextsOf(svg, "chart-value").back(), "1");
    EXPECT_EQ(TextsOf(svg, "chart-name"),
              (std::vector<std::string>{"Upgrade Finish", "Hardware Type Mismatch !"}));
    EXPECT_EQ(Contents(history), before);

    AppendNewerImage();
    ASSERT_EQ(Chart({}), EXIT_SUCCESS_STATUS) << last.Err;
    svg = Contents(out);
    EXPECT_NE(svg.find("next.bin cccccccc"), std::string::npos);
    EXPECT_EQ(TextsOf(svg, "chart-value"), (std::vector<std::string>{"0/1", "1"}));
    EXPECT_EQ(TextsOf(svg, "chart-name"), (std::vector<std::string>{"Upgrade Process Error !"}));

    ASSERT_EQ(Chart({"--image", TARVIK_SAMPLE_IMAGE}), EXIT_SUCCESS_STATUS) << last.Err;
    EXPECT_EQ(HoursAddedUp(TextsOf(Contents(out), "chart-value")), "1/2");
    SystemFileSystem files;
    std::string upper = DigestImageFile(files, TARVIK_SAMPLE_IMAGE).value_or(ImageDigest{}).Sha256;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    ASSERT_EQ(Chart({"--sha256", upper.c_str()}), EXIT_SUCCESS_STATUS) << last.Err;
    EXPECT_EQ(HoursAddedUp(TextsOf(Contents(out), "chart-value")), "1/2");
    ASSERT_EQ(Chart({"--sha256", std::string(64, 'd').c_str()}), EXIT_SUCCESS_STATUS);
    EXPECT_EQ(TextsOf(Contents(out), "chart-empty").size(), 2u);

    // The PNG, over an older file, whole.
    const std::string png = folder + "/chart.png";
    std::ofstream(png) << "an older picture";
    ASSERT_EQ(
        RunCliWith({"history", "--history", history.c_str(), "chart", "--out", png.c_str()}).Status,
        EXIT_SUCCESS_STATUS);
    EXPECT_TRUE(Contents(png).starts_with("\x89PNG\r\n\x1A\n"));
    EXPECT_FALSE(std::filesystem::exists(png + ".partial"));
}

TEST_F(HistoryChartCliTest, RefusalsWriteNothing)
{
    // No history yet: a picture that says so, and still no history.
    ASSERT_EQ(Chart({}), EXIT_SUCCESS_STATUS) << last.Err;
    EXPECT_EQ(TextsOf(Contents(out), "chart-empty"),
              (std::vector<std::string>{"no attempts yet", "no attempts yet"}));
    EXPECT_FALSE(std::filesystem::exists(history));

    AppendNewerImage();
    for (const char* refused : {"chart.gif", "chart.svg.tmp"}) {
        const std::string path = folder + "/" + refused;
        const CliRun run =
            RunCliWith({"history", "--history", history.c_str(), "chart", "--out", path.c_str()});
        EXPECT_EQ(run.Status, EXIT_USAGE) << refused;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        EXPECT_NE(run.Err.find("neither an .svg nor a .png"), std::string::npos) << run.Err;
        EXPECT_FALSE(std::filesystem::exists(path)) << refused;
    }
    EXPECT_EQ(Chart({"--sha256", "e5bcc627"}), EXIT_USAGE);
    EXPECT_EQ(Chart({"--sha256", std::string(64, 'a').c_str(), "--image", TARVIK_SAMPLE_IMAGE}),
              EXIT_USAGE);

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
