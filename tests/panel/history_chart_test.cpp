// The history's pictures: what their bars and labels say of the counts given, outside text kept
// as text in the SVG, and the raster's pixels. (tarvik-cli's files, SVG parsed and PNG inflated
// by Python, are chart_files_test.sh's.)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel/chart_png.h"
#include "panel/history_chart.h"
#include "platform/formats/utf8_text.h"

namespace tarvik::panel {
namespace {

constexpr std::int64_t HOUR = 3'600'000;
constexpr std::int64_t T0 = 1'765'386'000'000;  // 2025-12-10 17:00 UTC

const ChartLabels LABELS{"Yield",    "Endings",     "yield %",   "hour",
                         "attempts", "nothing yet", "not shown:"};

HistoryChart Sample()
{
    return {"fw.bin 0123abcd",
            {{T0, 4, 3}, {T0 + HOUR, 10, 10}, {T0 + 9 * HOUR, 7, 0}},
            {{"Upgrade Finish", 0, 14},
             {"Upgrade Process Error !", 16, 9},
             {"Communication Fail", 3, 2}}};
}

std::vector<std::string> TextsOf(const ChartPicture& picture, const std::string& name)
{
    std::vector<std::string> texts;
    for (const ChartItem& item : picture.Items) {
        const auto* text = std::get_if<ChartText>(&item);
        if (text != nullptr && text->Class == name) {
            texts.push_back(text->Text);
        }
    }
    return texts;
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

// Each hour's bar is as high as its share, labelled passed/devices under its hour (and the
// date where it changes); each ending's bar as long as its share of the most frequent.
TEST(HistoryChartTest, BarsAndLabelsSayExactlyTheCountsGiven)
{
    const ChartPicture yield = DrawYieldChart(Sample(), LABELS);
    EXPECT_EQ(TextsOf(yield, "chart-value"), (std::vector<std::string>{"3/4", "10/10", "0/7"}));
    EXPECT_EQ(TextsOf(yield, "chart-tick"),
              (std::vector<std::string>{"0%", "25%", "50%", "75%", "100%", "17:00", "12-10",
                                        "18:00", "02:00", "12-11"}));
    const std::vector<ChartRect> hours = BarsOf(yield);
    ASSERT_EQ(hours.size(), 2u) << "no bar for a yield of 0";
    EXPECT_EQ(hours[1].Height * 3, hours[0].Height * 4);
    EXPECT_EQ(hours[0].Y + hours[0].Height, hours[1].Y + hours[1].Height);

    const ChartPicture endings = DrawEndingsChart(Sample(), LABELS);
    EXPECT_EQ(TextsOf(endings, "chart-value"), (std::vector<std::string>{"14", "9", "2"}));
    const std::vector<ChartRect> bars = BarsOf(endings);
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_NEAR(bars[1].Width * 14.0 / 9.0, bars[0].Width, 2.0);
    EXPECT_EQ(bars[0].Class, "chart-bar chart-bar-passed");
    EXPECT_EQ(bars[1].Class, "chart-bar chart-bar-failed");

    const std::string svg = HistoryChartSvg(Sample(), LABELS);
    for (const char* label : {">3/4</text>", ">0/7</text>", ">14</text>", ">2</text>",
                              "2025-12-10 17:00 3/4", "Upgrade Process Error ! 9"}) {
        EXPECT_NE(svg.find(label), std::string::npos) << label;
    }
}

TEST(HistoryChartTest, NoCountsSayNothingYetAndALongHistoryItsNewestHours)
{
    const ChartPicture none = DrawHistoryChart(HistoryChart{}, LABELS);
    EXPECT_EQ(TextsOf(none, "chart-empty"),
              (std::vector<std::string>{"nothing yet", "nothing yet"}));
    EXPECT_TRUE(BarsOf(none).empty());

    HistoryChart chart;
    for (std::int64_t i = 0; i < 50; ++i) {
        chart.Hours.push_back({T0 + i * HOUR, static_cast<std::uint64_t>(i + 1), 1});
    }
    const ChartPicture yield = DrawYieldChart(chart, LABELS);
    const std::vector<std::string> values = TextsOf(yield, "chart-value");
    ASSERT_EQ(values.size(), CHART_MOST_HOURS);
    EXPECT_EQ(values.front(), "1/27");
    EXPECT_EQ(values.back(), "1/50");
    EXPECT_EQ(TextsOf(yield, "chart-note"), (std::vector<std::string>{"not shown: 26"}));
}

// Names from the history (a file name, a result anyone may have written) and the caller's words
// stay text: no element, no attribute, no byte that is not UTF-8.
TEST(HistoryChartTest, HostileNamesStayTextInTheSvg)
{
    HistoryChart chart = Sample();
    chart.ImageName = "<script>alert(\"x\")</script>' onload='x' \xff\xfe fw.bin";
    chart.Endings[2].Name = "]]><svg onload=\"x\">&amp;\x01";
    ChartLabels labels = LABELS;
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
              std::string::npos);
    EXPECT_NE(svg.find("]]&gt;&lt;svg onload=&quot;x&quot;&gt;&amp;amp;"), std::string::npos);
}

// A rectangle's pixels, a line's ends, a glyph where its anchor puts it, a character the font
// lacks as a box.
TEST(HistoryChartTest, RasterizedItemsLandOnTheirPixels)
{
    ChartPicture picture{40, 20, "", "", "", {}};
    picture.Items = {
        ChartRect{2, 3, 4, 5, {10, 20, 30}, "bar"},
        ChartLine{0, 19, 39, 19, {1, 2, 3}, "axis"},
        // "I" lights its middle column, rows 0 to 6; anchored at its end, it starts at 30 - 5.
        ChartText{30, 17, "I", 12, TextAnchor::End, false, {200, 0, 0}, "label"},
        ChartText{31, 8, "\xC3\xA9", 12, TextAnchor::Start, false, {0, 0, 200}, "label"},
    };
    const std::vector<std::uint8_t> rgb = RasterizePicture(picture);
    ASSERT_EQ(rgb.size(), 40u * 20u * 3u);
    const auto pixel = [&](int x, int y) {
        const auto at = static_cast<std::size_t>(y * 40 + x) * 3;
        return std::vector<int>{rgb[at], rgb[at + 1], rgb[at + 2]};
    };
    const std::vector<int> white{255, 255, 255};
    EXPECT_EQ(pixel(0, 0), white);
    EXPECT_EQ(pixel(2, 3), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(pixel(5, 7), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(pixel(6, 7), white);
    EXPECT_EQ(pixel(2, 8), white);
    EXPECT_EQ(pixel(0, 19), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(pixel(39, 19), (std::vector<int>{1, 2, 3}));
    for (int y = 10; y < 17; ++y) {
        EXPECT_EQ(pixel(27, y), (std::vector<int>{200, 0, 0})) << y;
    }
    EXPECT_EQ(pixel(26, 13), white);
    EXPECT_EQ(pixel(31, 1), (std::vector<int>{0, 0, 200}));
    EXPECT_EQ(pixel(35, 7), (std::vector<int>{0, 0, 200}));
    EXPECT_EQ(pixel(33, 4), white);
}

}  // namespace
}  // namespace tarvik::panel
