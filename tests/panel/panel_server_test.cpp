// The panel's server on a loopback port of its own, over real HTTP: what it serves, what it
// refuses, and the event stream that carries each change of the state.

#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <string>

#include "panel/panel_server.h"

namespace tarvik::panel {
namespace {

class FakeSource final : public PanelSource {
public:
    Json State() override
    {
        std::lock_guard lock(lock_);
        return Json{{"kind", "station"}, {"version", version_}, {"name", name_}};
    }
    std::uint64_t Version() override
    {
        std::lock_guard lock(lock_);
        return version_;
    }
    void OnChange(std::function<void()> changed) override
    {
        std::lock_guard lock(lock_);
        changed_ = std::move(changed);
    }
    std::optional<std::string> Chart(std::string_view name, std::string_view language) override
    {
        return "<svg>" + std::string(name) + " " + std::string(language) + "</svg>";
    }
    void Rename(const std::string& name)
    {
        std::function<void()> changed;
        {
            std::lock_guard lock(lock_);
            name_ = name;
            ++version_;
            changed = changed_;
        }
        if (changed) {
            changed();
        }
    }

private:
    std::mutex lock_;
    std::uint64_t version_ = 1;
    std::string name_ = "first";
    std::function<void()> changed_;
};

std::unique_ptr<PanelServer> Serve(FakeSource& source, const std::string& token = {})
{
    PanelSettings settings;
    settings.Address = {"127.0.0.1", 0};
    settings.Token = token;
    std::string error;
    auto server = PanelServer::Start(source, settings, error);
    EXPECT_TRUE(server) << error;
    return server;
}

TEST(PanelServerTest, ServesThePageTextsStateAndChartsAndChangesNothing)
{
    FakeSource source;
    const auto server = Serve(source);
    ASSERT_TRUE(server);
    httplib::Client client("127.0.0.1", server->Port());
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("panel.js"), std::string::npos);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self'"),
              std::string::npos);
    EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");

    auto texts = client.Get("/texts.json?lang=de");
    ASSERT_TRUE(texts);
    const Json table = Json::parse(texts->body);
    EXPECT_EQ(table["lang"], "de");
    EXPECT_EQ(table["texts"]["state_passed"], "Bestanden");

    auto state = client.Get("/state");
    ASSERT_TRUE(state);
    EXPECT_EQ(Json::parse(state->body)["name"], "first");
    auto chart = client.Get("/chart/yield.svg?lang=de");
    ASSERT_TRUE(chart);
    EXPECT_EQ(chart->body, "<svg>yield de</svg>");
    EXPECT_EQ(chart->get_header_value("Content-Type"), "image/svg+xml");

    for (const auto& refused : {client.Post("/state", "x", "text/plain"),
                                client.Put("/", "x", "text/plain"), client.Delete("/state")}) {
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 405);
    }
    auto missing = client.Get("/../../etc/passwd");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

TEST(PanelServerTest, WithATokenEveryRequestNeedsIt)
{
    FakeSource source;
    const std::string token = "0123456789abcdef-line-7";
    const auto server = Serve(source, token);
    ASSERT_TRUE(server);
    httplib::Client client("127.0.0.1", server->Port());
    for (const char* path : {"/", "/state", "/events", "/panel.js", "/texts.json"}) {
        auto refused = client.Get(path);
        ASSERT_TRUE(refused) << path;
        EXPECT_EQ(refused->status, 401) << path;
        EXPECT_EQ(refused->body.find("station"), std::string::npos);
    }
    auto wrong = client.Get("/state?token=0123456789abcdef-line-8");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 401);
    auto byQuery = client.Get("/state?token=" + token);
    ASSERT_TRUE(byQuery);
    EXPECT_EQ(byQuery->status, 200);
    auto byHeader = client.Get("/state", {{"Authorization", "Bearer " + token}});
    ASSERT_TRUE(byHeader);
    EXPECT_EQ(byHeader->status, 200);
}

TEST(PanelServerTest, TheEventStreamSendsTheStateAndThenEachChange)
{
    FakeSource source;
    const auto server = Serve(source);
    ASSERT_TRUE(server);
    httplib::Client client("127.0.0.1", server->Port());
    std::string received;
    std::atomic<bool> renamed = false;
    auto stream = client.Get("/events", [&](const char* data, std::size_t length) {
        received.append(data, length);
        if (!renamed && received.find("\"first\"") != std::string::npos) {
            renamed = true;
            source.Rename("<second>");
        }
        return received.find("<second>") == std::string::npos;  // stop reading once it came
    });
    EXPECT_NE(received.find("retry: 1000"), std::string::npos);
    EXPECT_NE(received.find("event: state\ndata: {\"kind\":\"station\",\"version\":1"),
              std::string::npos);
    EXPECT_NE(received.find("id: 2\nevent: state\n"), std::string::npos);
}

TEST(PanelServerTest, ATakenPortIsSaidAndTheServerStopsWithStreamsOpen)
{
    FakeSource source;
    auto first = Serve(source);
    ASSERT_TRUE(first);
    PanelSettings settings;
    settings.Address = {"127.0.0.1", first->Port()};
    std::string error;
    EXPECT_FALSE(PanelServer::Start(source, settings, error));
    EXPECT_NE(error.find("cannot serve the panel on 127.0.0.1:"), std::string::npos);

    // A stream left open does not keep the server from stopping.
    std::thread reader([port = first->Port()] {
        httplib::Client client("127.0.0.1", port);
        client.Get("/events", [](const char*, std::size_t) { return true; });
    });
    httplib::Client client("127.0.0.1", first->Port());
    for (int i = 0; i < 200 && !client.Get("/state"); ++i) {
    }
    first.reset();
    reader.join();
}

}  // namespace
}  // namespace tarvik::panel
