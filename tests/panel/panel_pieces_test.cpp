// The panel's addresses and token, its text tables and embedded page, and the escaping of
// outside text.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "panel/markup_text.h"
#include "panel/panel_assets.h"
#include "panel/panel_server.h"

namespace tarvik::panel {
namespace {

TEST(PanelAddressTest, AddressesAndPortsAreReadAndOnlyTheLoopbackGoesWithoutAToken)
{
    std::string error;
    auto parsed = ParsePanelAddress("0.0.0.0:8080", error);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Host, "0.0.0.0");
    EXPECT_EQ(parsed->Port, 8080);
    parsed = ParsePanelAddress("8081", error);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Host, "127.0.0.1");
    EXPECT_EQ(parsed->Port, 8081);
    parsed = ParsePanelAddress("[::1]:0", error);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Host, "::1");
    EXPECT_EQ(parsed->Port, 0);
    for (const char* bad : {"::1:80", "[::1]80", "[::1]", "host:", ":80", "host:65536",
                            "host:-1", "host:8o", "", "8080x"}) {
        error.clear();
        EXPECT_FALSE(ParsePanelAddress(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_TRUE(IsLoopbackHost("127.0.0.1"));
    EXPECT_TRUE(IsLoopbackHost("127.1.2.3"));
    EXPECT_TRUE(IsLoopbackHost("::1"));
    EXPECT_TRUE(IsLoopbackHost("localhost"));
    EXPECT_FALSE(IsLoopbackHost("0.0.0.0"));
    EXPECT_FALSE(IsLoopbackHost("::"));
    EXPECT_FALSE(IsLoopbackHost("10.0.0.127"));
    EXPECT_EQ(PanelBindRefusal({"127.0.0.1", 80}, false), "");
    EXPECT_EQ(PanelBindRefusal({"0.0.0.0", 80}, true), "");
    EXPECT_NE(PanelBindRefusal({"0.0.0.0", 80}, false).find("--panel-token"), std::string::npos);
}

std::string WriteTemp(const std::string& text)
{
    const std::string path = testing::TempDir() + "panel-token-" +
                             std::to_string(std::hash<std::string>{}(text)) + ".txt";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(PanelTokenTest, TheFirstLineWithoutBlanksIsTheTokenAndAShortOrOddOneIsRefused)
{
    SystemFileSystem files;
    std::string error;
    auto token = ReadPanelToken(files, WriteTemp("  s3cret-token-of-the-line \r\nsecond"), error);
    ASSERT_TRUE(token) << error;
    EXPECT_EQ(*token, "s3cret-token-of-the-line");
    EXPECT_FALSE(ReadPanelToken(files, WriteTemp("short\n"), error));
    EXPECT_NE(error.find("shorter than 16"), std::string::npos);
    EXPECT_FALSE(ReadPanelToken(files, WriteTemp("a token with blanks in it"), error));
    EXPECT_FALSE(ReadPanelToken(files, WriteTemp(""), error));
    EXPECT_FALSE(ReadPanelToken(files, testing::TempDir() + "no-such-token-file", error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
}

TEST(PanelTextsTest, EveryLanguageHasEveryKeyAndTheWantedOneIsChosen)
{
    const auto languages = PanelLanguages();
    ASSERT_GE(languages.size(), 2U);
    EXPECT_EQ(languages.at("en"), "English");
    EXPECT_EQ(languages.at("de"), "Deutsch");
    const nlohmann::json english = nlohmann::json::parse(FindAsset("/texts/en.json")->Body);
    for (const auto& [code, name] : languages) {
        const nlohmann::json table = nlohmann::json::parse(FindAsset("/texts/" + code + ".json")->Body);
        for (const auto& [key, text] : english.items()) {
            EXPECT_TRUE(table.contains(key)) << code << " lacks " << key;
        }
        for (const auto& [key, text] : table.items()) {
            EXPECT_TRUE(english.contains(key)) << code << " has " << key << ", English has not";
            EXPECT_FALSE(text.get<std::string>().empty()) << code << " " << key;
        }
    }
    EXPECT_EQ(ChooseLanguage("de-AT,de;q=0.9,en;q=0.5"), "de");
    EXPECT_EQ(ChooseLanguage("fr-FR, DE;q=0.8"), "de");
    EXPECT_EQ(ChooseLanguage("fr"), "en");
    EXPECT_EQ(ChooseLanguage(""), "en");
    EXPECT_EQ(ChooseLanguage("../../etc"), "en");
    EXPECT_EQ(PanelText("de", "state_passed"), "Bestanden");
    EXPECT_EQ(PanelText("xx", "state_passed"), "Passed");
    EXPECT_EQ(PanelText("de", "no_such_key"), "no_such_key");
}

TEST(PanelPageTest, TheEmbeddedPageIsTheSourceTreesByteForByte)
{
    for (const char* path : {"/index.html", "/panel.js", "/panel.css", "/texts/en.json",
                             "/texts/de.json"}) {
        const Asset* asset = FindAsset(path);
        ASSERT_NE(asset, nullptr) << path;
        std::ifstream file(std::string(TARVIK_PANEL_PAGE) + path, std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        EXPECT_EQ(asset->Body, bytes.str()) << path;
    }
    EXPECT_EQ(FindAsset("/../CMakeLists.txt"), nullptr);
    EXPECT_EQ(ContentType("/panel.js"), "text/javascript; charset=utf-8");
}

TEST(MarkupTextTest, OutsideTextStaysText)
{
    EXPECT_EQ(MarkupEscaped("<img src=x onerror=\"alert('1')\">&"),
              "&lt;img src=x onerror=&quot;alert(&#39;1&#39;)&quot;&gt;&amp;");
    EXPECT_EQ(MarkupEscaped("fw-\xE9t\xE9.bin"), "fw-\\xE9t\\xE9.bin");
    EXPECT_EQ(MarkupEscaped(std::string("a\x01" "b\tc", 5)), "a\xEF\xBF\xBD" "b\tc");
    EXPECT_EQ(MarkupEscaped("Gerät ✓"), "Gerät ✓");
}

}  // namespace
}  // namespace tarvik::panel
