// The history's pictures: what their bars and labels say of the counts given, outside text kept
// as text in the SVG, and the PNG read back by zlib.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifdef TARVIK_TEST_ZLIB
#include <zlib.h>
#endif

#include "panel/chart_png.h"
#include "panel/history_chart.h"
#include "platform/formats/utf8_text.h"

namespace tarvik::panel {
namespace {

constexpr std::int64_t HOUR = 3'600'000;
constexpr std::int64_t T0 = 1'765'386'000'000;  // 2025-12-10 17:00 UTC

ChartLabels Labels()
{
    return {"Yield", "Endings", "yield %", "hour", "attempts", "nothing yet", "not shown:"};
}

HistoryChart Sample()
{
    HistoryChart chart;
    chart.ImageName = "fw.bin 0123abcd";
    chart.Hours = {{T0, 4, 3}, {T0 + HOUR, 10, 10}, {T0 + 9 * HOUR, 7, 0}};
    chart.Endings = {{"Upgrade Finish", 0, 14},
                     {"Upgrade Process Error !", 16, 9},
                     {"Communication Fail", 3, 2}};
    return chart;
}

std::vector<const ChartText*> TextsOf(const ChartPicture& picture, const std::string& name)
{
    std::vector<const ChartText*> texts;
    for (const ChartItem& item : picture.Items) {
        const auto* text = std::get_if<ChartText>(&item);
        if (text != nullptr && text->Class == name) {
            texts.push_back(text);
        }
    }
    return texts;
}

std::vector<std::string> Strings(const std::vector<const ChartText*>& texts)
{
    std::vector<std::string> strings;
    for (const ChartText* text : texts) {
        strings.push_back(text->Text);
    }
    return strings;
}

std::vector<ChartRect> BarsOf(const ChartPicture& picture)
{
    std::vector<ChartRect> bars;
    for (const ChartItem& item : picture.Items) {
        const auto* rect = std::get_if<ChartRect>(&item);
        if (rect != nullptr && rect->Class.starts_with("chart-bar")) {
            bars.push_back(*rect);
        }
    }
    return bars;
}

// Each hour's bar stands as high as its share of the plot, its label says passed/devices; each
// ending's bar is as long as its share of the most frequent, its label says its count.
TEST(HistoryChartTest, BarsAndLabelsSayExactlyTheCountsGiven)
{
    const ChartPicture yield = DrawYieldChart(Sample(), Labels());
    EXPECT_EQ(Strings(TextsOf(yield, "chart-value")),
              (std::vector<std::string>{"3/4", "10/10", "0/7"}));
    EXPECT_EQ(Strings(TextsOf(yield, "chart-tick")),
              (std::vector<std::string>{"0%", "25%", "50%", "75%", "100%", "17:00", "12-10",
                                        "18:00", "02:00", "12-11"}));
    const std::vector<ChartRect> hourBars = BarsOf(yield);
    ASSERT_EQ(hourBars.size(), 2u) << "no bar for a yield of 0";
    EXPECT_EQ(hourBars[1].Height * 3, hourBars[0].Height * 4);
    EXPECT_EQ(hourBars[0].Y + hourBars[0].Height, hourBars[1].Y + hourBars[1].Height);
    EXPECT_NE(yield.Description.find("2025-12-10 17:00 3/4"), std::string::npos)
        << yield.Description;

    const ChartPicture endings = DrawEndingsChart(Sample(), Labels());
    EXPECT_EQ(Strings(TextsOf(endings, "chart-name")),
              (std::vector<std::string>{"Upgrade Finish", "Upgrade Process Error !",
                                        "Communication Fail"}));
    EXPECT_EQ(Strings(TextsOf(endings, "chart-value")), (std::vector<std::string>{"14", "9", "2"}));
    const std::vector<ChartRect> endingBars = BarsOf(endings);
    ASSERT_EQ(endingBars.size(), 3u);
    EXPECT_NEAR(endingBars[1].Width * 14.0 / 9.0, endingBars[0].Width, 2.0);
    EXPECT_EQ(endingBars[0].Class, "chart-bar chart-bar-passed");
    EXPECT_EQ(endingBars[1].Class, "chart-bar chart-bar-failed");
    for (const ChartRect& bar : endingBars) {
        EXPECT_LE(bar.X + bar.Width, endings.Width);
    }

    // In the SVG each label is a text element's content, with its class.
    const std::string svg = HistoryChartSvg(Sample(), Labels());
    for (const char* label :
         {">3/4</text>", ">10/10</text>", ">0/7</text>", ">14</text>", ">9</text>", ">2</text>"}) {
        EXPECT_NE(svg.find(label), std::string::npos) << label;
    }
    EXPECT_NE(svg.find("class=\"chart-value\""), std::string::npos);
    EXPECT_TRUE(svg.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\""));
    EXPECT_NE(svg.find("role=\"img\""), std::string::npos);
    EXPECT_NE(svg.find("viewBox=\"0 0 "), std::string::npos);
}

TEST(HistoryChartTest, NoCountsDrawsTheWordsForNothingAndNoBar)
{
    HistoryChart empty;
    const ChartPicture both = DrawHistoryChart(empty, Labels());
    EXPECT_EQ(Strings(TextsOf(both, "chart-empty")),
              (std::vector<std::string>{"nothing yet", "nothing yet"}));
    EXPECT_TRUE(BarsOf(both).empty());
    EXPECT_GT(both.Height, 0);
    EXPECT_EQ(both.Description, "nothing yet. nothing yet");
}

TEST(HistoryChartTest, ALongHistoryShowsItsNewestHoursAndSaysHowManyAreLeftOut)
{
    HistoryChart chart;
    for (std::int64_t i = 0; i < 50; ++i) {
        chart.Hours.push_back({T0 + i * HOUR, static_cast<std::uint64_t>(i + 1), 1});
    }
    const ChartPicture yield = DrawYieldChart(chart, Labels());
    const std::vector<std::string> values = Strings(TextsOf(yield, "chart-value"));
    ASSERT_EQ(values.size(), CHART_MOST_HOURS);
    EXPECT_EQ(values.front(), "1/3");
    EXPECT_EQ(values.back(), "1/50");
    EXPECT_EQ(Strings(TextsOf(yield, "chart-note")), (std::vector<std::string>{"not shown: 2"}));
}

// Names from the history (an image's file name, a result from a file anyone may write) and
// the caller's words stay text: no element, no attribute, no bytes that are not UTF-8.
TEST(HistoryChartTest, HostileNamesStayTextInTheSvg)
{
    HistoryChart chart = Sample();
    chart.ImageName = "<script>alert(\"x\")</script>' onload='x' \xff\xfe fw.bin";
    chart.Endings[2].Name = "]]><svg onload=\"x\">&amp;\x01";
    ChartLabels labels = Labels();
    labels.YieldTitle = "</title><script>";
    for (const std::string& svg : {HistoryChartSvg(chart, labels), YieldChartSvg(chart, labels),
                                   EndingsChartSvg(chart, labels)}) {
        EXPECT_EQ(svg.find("<script"), std::string::npos);
        EXPECT_EQ(svg.find("onload=\""), std::string::npos);
        EXPECT_EQ(svg.find("onload='"), std::string::npos);
        EXPECT_EQ(svg.find("</title><"), std::string::npos);
        EXPECT_EQ(svg.find('\x01'), std::string::npos);
        EXPECT_TRUE(IsValidUtf8(svg));
    }
    const std::string svg = HistoryChartSvg(chart, labels);
    EXPECT_NE(svg.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&#39; onload=&#39;x&#39; "
                       "\\xFF\\xFE fw.bin"),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find("]]&gt;&lt;svg onload=&quot;x&quot;&gt;&amp;amp;"), std::string::npos);
    // Every element the writer makes is one of the few it knows.
    std::size_t at = 0;
    while ((at = svg.find('<', at)) != std::string::npos) {
        const std::string tag = svg.substr(at + 1, svg.find_first_of(" >", at) - at - 1);
        EXPECT_TRUE(tag == "svg" || tag == "/svg" || tag == "title" || tag == "/title" ||
                    tag == "desc" || tag == "/desc" || tag == "rect/" || tag == "rect" ||
                    tag == "line" || tag == "text" || tag == "/text")
            << tag;
        ++at;
    }
}

// The picture rasterized: the background, a bar's pixels, a text's glyph pixels where its
// anchor puts them, a character the font lacks as a box.
TEST(HistoryChartTest, RasterizedItemsLandOnTheirPixels)
{
    ChartPicture picture;
    picture.Width = 40;
    picture.Height = 20;
    picture.Items = {
        ChartRect{2, 3, 4, 5, {10, 20, 30}, "bar"},
        ChartLine{0, 19, 39, 19, {1, 2, 3}, "axis"},
        // "I": its middle column is lit from row 0 to 6; anchored at its end, x = 30 - 5.
        ChartText{30, 17, "I", 12, TextAnchor::End, false, {200, 0, 0}, "label"},
        ChartText{31, 8, "\xC3\xA9", 12, TextAnchor::Start, false, {0, 0, 200}, "label"},
    };
    const std::vector<std::uint8_t> rgb = RasterizePicture(picture);
    ASSERT_EQ(rgb.size(), 40u * 20u * 3u);
    const auto pixel = [&](int x, int y) {
        const std::size_t at = (static_cast<std::size_t>(y) * 40 + static_cast<std::size_t>(x)) * 3;
        return std::vector<int>{rgb[at], rgb[at + 1], rgb[at + 2]};
    };
    EXPECT_EQ(pixel(0, 0), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(pixel(2, 3), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(pixel(5, 7), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(pixel(6, 7), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(pixel(2, 8), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(pixel(0, 19), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(pixel(39, 19), (std::vector<int>{1, 2, 3}));
    for (int y = 10; y < 17; ++y) {
        EXPECT_EQ(pixel(27, y), (std::vector<int>{200, 0, 0})) << y;
    }
    EXPECT_EQ(pixel(26, 13), (std::vector<int>{255, 255, 255}));
    // é is not in the font: a box, its corners lit, its middle not.
    EXPECT_EQ(pixel(31, 1), (std::vector<int>{0, 0, 200}));
    EXPECT_EQ(pixel(35, 7), (std::vector<int>{0, 0, 200}));
    EXPECT_EQ(pixel(33, 4), (std::vector<int>{255, 255, 255}));
}

#ifdef TARVIK_TEST_ZLIB
std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) << 24 |
           static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

// The PNG of the stacked chart: its signature, IHDR (the picture's size, 8-bit RGB), every
// chunk's CRC, and an IDAT stream that inflates to each row's filter byte and pixels.
TEST(HistoryChartTest, ThePngIsWholeAndInflatesToThePicture)
{
    HistoryChart chart = Sample();
    for (std::int64_t i = 0; i < 40; ++i) {  // wide enough for several stored blocks
        chart.Hours.push_back({T0 + (20 + i) * HOUR, 3, 2});
    }
    const ChartPicture picture = DrawHistoryChart(chart, Labels());
    const std::vector<std::uint8_t> png = HistoryChartPng(chart, Labels());
    const std::vector<std::uint8_t> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GT(png.size(), 8u);
    ASSERT_TRUE(std::equal(signature.begin(), signature.end(), png.begin()));
    std::vector<std::string> types;
    std::vector<std::uint8_t> idat;
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::uint32_t length = BigEndian(png, at);
        ASSERT_LE(at + 12 + length, png.size());
        const std::string type(png.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               png.begin() + static_cast<std::ptrdiff_t>(at + 8));
        types.push_back(type);
        const std::uint32_t crc =
            static_cast<std::uint32_t>(crc32(0, png.data() + at + 4, length + 4));
        EXPECT_EQ(crc, BigEndian(png, at + 8 + length)) << type;
        if (type == "IHDR") {
            ASSERT_EQ(length, 13u);
            EXPECT_EQ(BigEndian(png, at + 8), static_cast<std::uint32_t>(picture.Width));
            EXPECT_EQ(BigEndian(png, at + 12), static_cast<std::uint32_t>(picture.Height));
            EXPECT_EQ(png[at + 16], 8);  // bits
            EXPECT_EQ(png[at + 17], 2);  // RGB
        }
        if (type == "IDAT") {
            idat.insert(idat.end(), png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                        png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        }
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    const auto width = static_cast<std::size_t>(picture.Width);
    const auto height = static_cast<std::size_t>(picture.Height);
    std::vector<std::uint8_t> inflated(height * (1 + 3 * width) + 1);
    uLongf size = static_cast<uLongf>(inflated.size());
    ASSERT_EQ(uncompress(inflated.data(), &size, idat.data(), static_cast<uLong>(idat.size())),
              Z_OK);
    ASSERT_EQ(size, height * (1 + 3 * width));
    const std::vector<std::uint8_t> rgb = RasterizePicture(picture);
    for (std::size_t row = 0; row < height; ++row) {
        ASSERT_EQ(inflated[row * (1 + 3 * width)], 0) << row;
        ASSERT_TRUE(std::equal(rgb.begin() + static_cast<std::ptrdiff_t>(row * 3 * width),
                               rgb.begin() + static_cast<std::ptrdiff_t>((row + 1) * 3 * width),
                               inflated.begin() +
                                   static_cast<std::ptrdiff_t>(row * (1 + 3 * width) + 1)))
            << row;
    }
}
#endif

}  // namespace
}  // namespace tarvik::panel
