// The desktop programs' command line, read once for both shells: what each line runs with,
// and what is refused with which words.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "desktop/options/desktop_options.h"

namespace tarvik {
namespace {

constexpr DesktopProgram QT_SHELL{"tarvik", true};
constexpr DesktopProgram WIN32_SHELL{"tarvik.exe", false};

DesktopCommandLine Parse(const DesktopProgram& program, std::vector<std::string_view> arguments)
{
    return ParseDesktopCommandLine(program, arguments);
}

TEST(DesktopOptionsTest, OptionsAndTheDocumentAsEitherShellReadsThem)
{
    for (const DesktopProgram& program : {QT_SHELL, WIN32_SHELL}) {
        DesktopCommandLine line = Parse(program, {"--lab", "--trace", "out.pcap", "a.bin"});
        ASSERT_EQ(line.Do, DesktopCommandLine::Action::Run) << line.Text;
        EXPECT_TRUE(line.Options.Lab);
        EXPECT_EQ(line.Options.Trace, "out.pcap");
        EXPECT_EQ(line.Options.Document, "a.bin");
        EXPECT_FALSE(line.Options.Screenshots);

        line = Parse(program, {"--key", "release.pub", "--key=lab key.pub", "a.bin"});
        ASSERT_EQ(line.Do, DesktopCommandLine::Action::Run) << line.Text;
        EXPECT_EQ(line.Options.KeyFiles, (std::vector<std::string>{"release.pub", "lab key.pub"}));
        EXPECT_EQ(line.Options.Document, "a.bin");
        EXPECT_EQ(line.Options.Signatures, "") << "the mode follows the keys unless given";
        EXPECT_EQ(Parse(program, {"--signatures", "warn"}).Options.Signatures, "warn");

        line = Parse(program, {"--trace=x y.pcap"});
        EXPECT_EQ(line.Options.Trace, "x y.pcap");
        EXPECT_FALSE(line.Options.Lab) << "a real interface unless asked";

        EXPECT_EQ(Parse(program, {"-h"}).Do, DesktopCommandLine::Action::ShowHelp);
        EXPECT_EQ(Parse(program, {"--lab", "--version"}).Do,
                  DesktopCommandLine::Action::ShowVersion);
        EXPECT_EQ(Parse(program, {"--version"}).Text.rfind("Tarvik ", 0), 0U);
    }
}

TEST(DesktopOptionsTest, ScreenshotsOnlyWhereTheShellOffersThemAndOnTheLab)
{
    const DesktopCommandLine qt = Parse(QT_SHELL, {"--screenshots", "pictures"});
    ASSERT_EQ(qt.Do, DesktopCommandLine::Action::Run);
    EXPECT_EQ(qt.Options.Screenshots, "pictures");
    EXPECT_TRUE(qt.Options.Lab);
    EXPECT_NE(DesktopUsage(QT_SHELL).find("--screenshots DIR"), std::string::npos);

    const DesktopCommandLine win32 = Parse(WIN32_SHELL, {"--screenshots", "pictures"});
    EXPECT_EQ(win32.Do, DesktopCommandLine::Action::Refuse);
    EXPECT_EQ(win32.Text, "tarvik.exe: Unknown option '--screenshots'.\n");
    EXPECT_EQ(DesktopUsage(WIN32_SHELL).find("--screenshots"), std::string::npos);
    EXPECT_EQ(DesktopUsage(WIN32_SHELL)
                  .rfind("Usage: tarvik.exe [--lab] [--trace FILE] [--key FILE]... [--signatures MODE] [FILE]\n",
                         0),
              0U);
}

TEST(DesktopOptionsTest, RefusedLinesSayWhyAndEndWithTheUsageStatus)
{
    struct Case {
        std::vector<std::string_view> Arguments;
        std::string Text;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "tarvik: Unknown option '--bogus'.\n"},
        {{"--trace"}, "tarvik: Missing value after '--trace'.\n"},
        {{"--key"}, "tarvik: Missing value after '--key'.\n"},
        {{"--lab", "--key"}, "tarvik: Missing value after '--key'.\n"},
        {{"--screenshots"}, "tarvik: Missing value after '--screenshots'.\n"},
        {{"--signatures"}, "tarvik: Missing value after '--signatures'.\n"},
        {{"--signatures=never"}, "tarvik: --signatures takes require, warn or off, not 'never'.\n"},
        {{"a.bin", "b.bin"}, "tarvik: Unexpected argument 'b.bin': one document file at most.\n"},
    };
    for (const Case& c : cases) {
        const DesktopCommandLine line = Parse(QT_SHELL, c.Arguments);
        EXPECT_EQ(line.Do, DesktopCommandLine::Action::Refuse) << c.Text;
        EXPECT_EQ(line.Text, c.Text);
    }
    EXPECT_EQ(DESKTOP_USAGE_STATUS, 2);
}

}  // namespace
}  // namespace tarvik
