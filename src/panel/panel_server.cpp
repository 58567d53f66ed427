#include "panel/panel_server.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "panel/http_service.h"
#include "panel/panel_assets.h"
#include "platform/host/machine.h"
#include "platform/kernel/kernel.h"

namespace tarvik::panel {
namespace {

// Every response: nothing but the panel's own files may run or load, nothing may frame it, and
// a token in its address goes nowhere else.
const std::vector<std::pair<std::string, std::string>> SECURITY_HEADERS = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
     "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"X-Frame-Options", "DENY"},
    {"Cache-Control", "no-store"},
};

std::string Dump(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Compares in time that does not depend on where the two differ.
bool SameToken(std::string_view given, std::string_view expected)
{
    unsigned difference = given.size() == expected.size() ? 0U : 1U;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char g = i < given.size() ? given[i] : '\0';
        difference |= static_cast<unsigned char>(g ^ expected[i]);
    }
    return difference == 0;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::optional<PanelAddress> ParsePanelAddress(std::string_view text, std::string& error)
{
    PanelAddress address;
    std::string_view port = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "an IPv6 address is written [ADDRESS]:PORT, as in [::1]:8080";
            return std::nullopt;
        }
        address.Host = std::string(text.substr(1, close - 1));
        port = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        if (text.find(':') != colon) {
            error = "an IPv6 address is written [ADDRESS]:PORT, as in [::1]:8080";
            return std::nullopt;
        }
        address.Host = std::string(text.substr(0, colon));
        port = text.substr(colon + 1);
    }
    int number = -1;
    const auto [end, failure] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || failure != std::errc{} || end != port.data() + port.size() || number < 0 ||
        number > 65535) {
        error = "\"" + std::string(text) + "\" is not [ADDRESS:]PORT with a port from 0 to 65535";
        return std::nullopt;
    }
    if (address.Host.empty()) {
        error = "\"" + std::string(text) + "\" names no address before its port";
        return std::nullopt;
    }
    address.Port = number;
    return address;
}

bool IsLoopbackHost(std::string_view host)
{
    return host == "localhost" || host == "::1" || host.starts_with("127.");
}

std::string PanelBindRefusal(const PanelAddress& address, bool hasToken)
{
    if (IsLoopbackHost(address.Host) || hasToken) {
        return {};
    }
    return "the panel serves " + address.Host +
           " (not this machine's loopback) only with --panel-token FILE: anyone who can reach "
           "the address could read it";
}

std::optional<std::string> ReadPanelToken(FileSystem& files, const std::string& path,
                                          std::string& error)
{
    std::unique_ptr<ReadOnlyFile> file = files.OpenForReading(path);
    if (!file) {
        error = "cannot read the panel's token file " + path;
        return std::nullopt;
    }
    std::string text;
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        const std::int64_t got = file->Read(buffer.data(), buffer.size());
        if (got < 0) {
            error = "cannot read the panel's token file " + path;
            return std::nullopt;
        }
        if (got == 0 || text.size() > 65536) {
            break;
        }
        text.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(got));
    }
    const std::string token(Trimmed(std::string_view(text).substr(0, text.find('\n'))));
    if (token.size() < PANEL_TOKEN_MIN_LENGTH) {
        error = "the panel's token in " + path + " is shorter than " +
                std::to_string(PANEL_TOKEN_MIN_LENGTH) + " characters";
        return std::nullopt;
    }
    for (const char c : token) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) {
            error = "the panel's token in " + path +
                    " holds a character other than printable ASCII without blanks";
            return std::nullopt;
        }
    }
    return token;
}

class PanelServer::Impl {
public:
    Impl(PanelSource& source, PanelSettings settings)
        : source_(source), settings_(std::move(settings)), kernel_(OpenRealTimeKernel())
    {
    }

    ~Impl()
    {
        source_.OnChange(nullptr);
        {
            std::lock_guard lock(lock_);
            stopping_ = true;
            for (const EventHandle event : streams_) {
                kernel_->SetEvent(event);
            }
        }
        service_.Stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    bool Start(std::string& error)
    {
        Routes();
        const PanelAddress& address = settings_.Address;
        port_ = service_.Bind(address.Host, address.Port);
        if (port_ < 0) {
            error = "cannot serve the panel on " + address.Host + ":" +
                    std::to_string(address.Port) +
                    ": the port is taken, or the address is not one of this machine's";
            return false;
        }
        source_.OnChange([this] { Signal(); });
        thread_ = std::thread([this] { service_.Listen(); });
        // A stop before the server runs would be lost, and the destructor would wait for
        // ever: Start returns once it runs.
        for (int waited = 0; !service_.Running() && waited < 5000; ++waited) {
            kernel_->Sleep(1);
        }
        return true;
    }

    int Port() const { return port_; }
    const PanelSettings& Settings() const { return settings_; }

private:
    struct Stream {
        EventHandle Event = NO_EVENT;
        std::uint64_t Sent = 0;
        std::uint32_t SentAt = 0;
        bool Greeted = false;
    };

    void Signal()
    {
        std::lock_guard lock(lock_);
        for (const EventHandle event : streams_) {
            kernel_->SetEvent(event);
        }
    }

    bool Authorized(const HttpRequest& request) const
    {
        if (settings_.Token.empty()) {
            return true;
        }
        const std::string header = request.Header("Authorization");
        constexpr std::string_view BEARER = "Bearer ";
        if (header.starts_with(BEARER) &&
            SameToken(Trimmed(std::string_view(header).substr(BEARER.size())), settings_.Token)) {
            return true;
        }
        return request.HasParam("token") && SameToken(request.Param("token"), settings_.Token);
    }

    static void Send(HttpResponse& response, std::string body, std::string_view type)
    {
        response.Body = std::move(body);
        response.Type = std::string(type);
    }

    void Routes()
    {
        service_.SetDefaultHeaders(SECURITY_HEADERS);
        service_.Before([this](const HttpRequest& request, HttpResponse& response) {
            if (request.Method != "GET" && request.Method != "HEAD") {
                response.Status = 405;
                response.Headers.emplace_back("Allow", "GET, HEAD");
                Send(response, "the panel only shows: nothing here changes\n", "text/plain");
                return true;
            }
            if (!Authorized(request)) {
                response.Status = 401;
                response.Headers.emplace_back("WWW-Authenticate", "Bearer");
                Send(response, "this panel needs its token: open it as /?token=TOKEN\n",
                     "text/plain");
                return true;
            }
            return false;
        });
        service_.Get("/", [](const HttpRequest&, HttpResponse& response) {
            const Asset* page = FindAsset("/index.html");
            Send(response, std::string(page->Body), ContentType(page->Path));
        });
        service_.Get("/favicon.ico", [](const HttpRequest&, HttpResponse& response) {
            response.Status = 204;
        });
        service_.Get("/texts.json", [](const HttpRequest& request, HttpResponse& response) {
            const std::string language = ChooseLanguage(
                request.HasParam("lang") ? request.Param("lang") : request.Header("Accept-Language"));
            Json texts = Json::parse(FindAsset("/texts/en.json")->Body);
            const Json own = Json::parse(FindAsset("/texts/" + language + ".json")->Body);
            texts.update(own);
            Json languages = Json::object();
            for (const auto& [code, name] : PanelLanguages()) {
                languages[code] = name;
            }
            Send(response,
                 Dump(Json{{"lang", language},
                           {"languages", std::move(languages)},
                           {"texts", std::move(texts)}}),
                 ContentType(".json"));
        });
        service_.Get("/state", [this](const HttpRequest&, HttpResponse& response) {
            Send(response, Dump(source_.State()), ContentType(".json"));
        });
        service_.Get("/chart/(yield|endings)\\.svg", [this](const HttpRequest& request,
                                                            HttpResponse& response) {
            const std::string language = ChooseLanguage(request.Param("lang"));
            std::optional<std::string> chart = source_.Chart(request.Matches.at(1), language);
            if (!chart) {
                response.Status = 404;
                Send(response, "no history to draw from\n", "text/plain");
                return;
            }
            Send(response, std::move(*chart), ContentType(".svg"));
        });
        service_.Get("/events", [this](const HttpRequest&, HttpResponse& response) {
            std::shared_ptr<Stream> stream = OpenStream();
            if (!stream) {
                response.Status = 503;
                response.Headers.emplace_back("Retry-After", "5");
                Send(response, "too many panels are open on this station\n", "text/plain");
                return;
            }
            response.Type = "text/event-stream";
            response.Stream = [this, stream](HttpSink& sink) { return Pump(*stream, sink); };
            response.Ended = [this, stream] { CloseStream(*stream); };
        });
        service_.Get("/(panel\\.css|panel\\.js|texts/[a-z]+\\.json)",
                     [](const HttpRequest& request, HttpResponse& response) {
                         const Asset* asset = FindAsset(request.Path);
                         if (asset == nullptr) {
                             response.Status = 404;
                             return;
                         }
                         Send(response, std::string(asset->Body), ContentType(asset->Path));
                     });
    }

    std::shared_ptr<Stream> OpenStream()
    {
        std::lock_guard lock(lock_);
        if (stopping_ || streams_.size() >= settings_.MaxStreams) {
            return nullptr;
        }
        auto stream = std::make_shared<Stream>();
        stream->Event = kernel_->CreateEvent();
        if (stream->Event == NO_EVENT) {
            return nullptr;
        }
        streams_.insert(stream->Event);
        return stream;
    }

    void CloseStream(Stream& stream)
    {
        std::lock_guard lock(lock_);
        streams_.erase(stream.Event);
        kernel_->CloseHandle(stream.Event);
        stream.Event = NO_EVENT;
    }

    bool Stopping()
    {
        std::lock_guard lock(lock_);
        return stopping_;
    }

    // One message on the stream: the state when it changed since the last one sent (changes
    // close together waiting to go as one), else a keep-alive comment after a quiet while.
    bool Pump(Stream& stream, HttpSink& sink)
    {
        if (Stopping()) {
            sink.Done();
            return true;
        }
        std::string message;
        if (!stream.Greeted) {
            message = "retry: 1000\n\n";
            stream.Greeted = true;
        }
        if (source_.Version() == stream.Sent) {
            const EventHandle events[] = {stream.Event};
            if (kernel_->WaitForAny(events, settings_.KeepAliveMs) == WAIT_TIMEOUT) {
                message += ": quiet\n\n";
            }
            if (Stopping()) {
                sink.Done();
                return true;
            }
        }
        if (source_.Version() != stream.Sent) {
            const std::uint32_t since = kernel_->GetTickCount() - stream.SentAt;
            if (stream.Sent != 0 && since < settings_.CoalesceMs) {
                kernel_->Sleep(settings_.CoalesceMs - since);
            }
            const Json state = source_.State();
            stream.Sent = state.value("version", std::uint64_t{0});
            stream.SentAt = kernel_->GetTickCount();
            message += "id: " + std::to_string(stream.Sent) + "\nevent: state\ndata: " +
                       Dump(state) + "\n\n";
        }
        return message.empty() || sink.Write(message);
    }

    PanelSource& source_;
    const PanelSettings settings_;
    std::unique_ptr<Kernel> kernel_;
    HttpService service_;
    std::thread thread_;
    int port_ = -1;
    std::mutex lock_;
    std::set<EventHandle> streams_;
    bool stopping_ = false;
};

std::unique_ptr<PanelServer> PanelServer::Start(PanelSource& source, PanelSettings settings,
                                                std::string& error)
{
    auto impl = std::make_unique<Impl>(source, std::move(settings));
    if (!impl->Start(error)) {
        return nullptr;
    }
    return std::unique_ptr<PanelServer>(new PanelServer(std::move(impl)));
}

PanelServer::PanelServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PanelServer::~PanelServer() = default;

int PanelServer::Port() const
{
    return impl_->Port();
}

std::string PanelServer::Url() const
{
    const std::string& host = impl_->Settings().Address.Host;
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return "http://" + shown + ":" + std::to_string(Port()) + "/";
}

}  // namespace tarvik::panel
