#include "panel/http_service.h"

#include <httplib.h>

#include <algorithm>
#include <cstdint>

#include "platform/host/listening_socket.h"

namespace tarvik::panel {

std::string HttpRequest::Param(const std::string& name) const
{
    const auto found = Params.find(name);
    return found == Params.end() ? std::string() : found->second;
}

std::string HttpRequest::Header(const std::string& name) const
{
    const auto same = [&name](const std::string& other) {
        return std::equal(name.begin(), name.end(), other.begin(), other.end(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                      std::tolower(static_cast<unsigned char>(b)); });
    };
    for (const auto& [key, value] : Headers) {
        if (same(key)) {
            return value;
        }
    }
    return {};
}

struct HttpService::Impl {
    httplib::Server Server;
};

namespace {

HttpRequest RequestOf(const httplib::Request& request)
{
    HttpRequest made;
    made.Method = request.method;
    made.Path = request.path;
    for (const auto& match : request.matches) {
        made.Matches.push_back(match.str());
    }
    made.Params.insert(request.params.begin(), request.params.end());
    made.Headers.insert(request.headers.begin(), request.headers.end());
    return made;
}

class SinkOf final : public HttpSink {
public:
    explicit SinkOf(httplib::DataSink& sink) : sink_(sink) {}
    bool Write(std::string_view data) override { return sink_.write(data.data(), data.size()); }
    void Done() override { sink_.done(); }

private:
    httplib::DataSink& sink_;
};

void Answer(HttpResponse made, httplib::Response& response)
{
    response.status = made.Status;
    for (const auto& [name, value] : made.Headers) {
        response.set_header(name.c_str(), value);
    }
    if (made.Stream) {
        auto stream = std::make_shared<std::function<bool(HttpSink&)>>(std::move(made.Stream));
        auto ended = std::move(made.Ended);
        response.set_chunked_content_provider(
            made.Type,
            [stream](std::size_t, httplib::DataSink& sink) {
                SinkOf to(sink);
                return (*stream)(to);
            },
            [ended](bool) {
                if (ended) {
                    ended();
                }
            });
        return;
    }
    response.set_content(std::move(made.Body), made.Type.c_str());
}

}  // namespace

HttpService::HttpService() : impl_(std::make_unique<Impl>())
{
    // One request a connection: a browser's idle connection does not hold one of the server's
    // threads, which the streams need.
    impl_->Server.set_keep_alive_max_count(1);
    impl_->Server.set_payload_max_length(4096);
    impl_->Server.set_socket_options([](socket_t socket) {
        MakeListeningSocketExclusive(static_cast<std::uintptr_t>(socket));
    });
}

HttpService::~HttpService() = default;

void HttpService::SetDefaultHeaders(std::vector<std::pair<std::string, std::string>> headers)
{
    httplib::Headers all;
    for (auto& [name, value] : headers) {
        all.emplace(std::move(name), std::move(value));
    }
    impl_->Server.set_default_headers(std::move(all));
}

void HttpService::Before(Check check)
{
    impl_->Server.set_pre_routing_handler(
        [check = std::move(check)](const httplib::Request& request, httplib::Response& response) {
            HttpResponse made;
            if (!check(RequestOf(request), made)) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            Answer(std::move(made), response);
            return httplib::Server::HandlerResponse::Handled;
        });
}

void HttpService::Get(const std::string& pattern, Handler handler)
{
    impl_->Server.Get(pattern, [handler = std::move(handler)](const httplib::Request& request,
                                                             httplib::Response& response) {
        HttpResponse made;
        handler(RequestOf(request), made);
        Answer(std::move(made), response);
    });
}

int HttpService::Bind(const std::string& host, int port)
{
    if (port == 0) {
        return impl_->Server.bind_to_any_port(host);
    }
    return impl_->Server.bind_to_port(host, port) ? port : -1;
}

void HttpService::Listen()
{
    impl_->Server.listen_after_bind();
}

bool HttpService::Running() const
{
    return impl_->Server.is_running();
}

void HttpService::Stop()
{
    impl_->Server.stop();
}

}  // namespace tarvik::panel
