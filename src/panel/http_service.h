#pragma once
// The HTTP library (cpp-httplib) behind a small face of the panel's own: routes of GET, a check
// before every route, plain responses and streams, bind and listen. Its header stays in one
// file, so that the system's headers it brings on Windows meet none of Tarvik's names.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik::panel {

struct HttpRequest {
    std::string Method;
    std::string Path;
    std::vector<std::string> Matches;  // the route pattern's groups, the whole path first
    std::multimap<std::string, std::string> Params;
    std::multimap<std::string, std::string> Headers;  // names as the client sent them

    // The first value of a query parameter or header (headers by any case), or empty.
    std::string Param(const std::string& name) const;
    bool HasParam(const std::string& name) const { return Params.count(name) != 0; }
    std::string Header(const std::string& name) const;
};

// Where a stream's messages go; Write is false once the client has gone.
class HttpSink {
public:
    virtual ~HttpSink() = default;
    virtual bool Write(std::string_view data) = 0;
    virtual void Done() = 0;
};

struct HttpResponse {
    int Status = 200;
    std::string Type = "text/plain; charset=utf-8";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
    // A stream instead of a body: called again and again while it returns true; Ended once the
    // stream is over, however it ended.
    std::function<bool(HttpSink&)> Stream;
    std::function<void()> Ended;
};

class HttpService {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // Answers a request before its route; true when it did (the route then is not asked).
    using Check = std::function<bool(const HttpRequest&, HttpResponse&)>;

    HttpService();
    ~HttpService();
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    // Headers on every response.
    void SetDefaultHeaders(std::vector<std::pair<std::string, std::string>> headers);
    void Before(Check check);
    // pattern: a regular expression over the whole path.
    void Get(const std::string& pattern, Handler handler);

    // The port bound (the one taken for port 0), or -1. A port another program listens on is
    // refused, not shared.
    int Bind(const std::string& host, int port);
    // Serves until Stop; on the calling thread.
    void Listen();
    bool Running() const;
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvik::panel
