#pragma once
// The panel's HTTP server: the page, its texts, the state as JSON and as a stream of
// Server-Sent Events, and the charts. Read-only: it answers GET and HEAD and refuses every
// other method. It binds to the loopback address unless given another, and then only with a
// token, which every request must carry (a Bearer header, or ?token= for the page's own
// requests). It runs on threads of its own and waits through a kernel of its own: the runs that
// feed its source only signal it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/files/file_system.h"

namespace tarvik::panel {

using Json = nlohmann::ordered_json;

// What a panel shows: the station's or the factory's state.
class PanelSource {
public:
    virtual ~PanelSource() = default;
    // The whole state, with "kind" and "version".
    virtual Json State() = 0;
    // Grows with every change of the state.
    virtual std::uint64_t Version() = 0;
    // Called (from any thread, and it must only signal) whenever the state changed; null to stop.
    virtual void OnChange(std::function<void()> changed) = 0;
    // A chart ("yield", "endings") as SVG in a language, or nothing when there is none.
    virtual std::optional<std::string> Chart(std::string_view name, std::string_view language)
    {
        (void)name;
        (void)language;
        return std::nullopt;
    }
};

inline constexpr int PANEL_DEFAULT_PORT = 8080;
// A token shorter than this is refused: it is all that guards a panel on the network.
inline constexpr std::size_t PANEL_TOKEN_MIN_LENGTH = 16;

struct PanelAddress {
    std::string Host = "127.0.0.1";
    int Port = PANEL_DEFAULT_PORT;
};

// "[ADDRESS:]PORT": an IPv4 address or a name, or an IPv6 address in brackets ("[::1]:8080").
// A port alone is the loopback's (127.0.0.1); PORT 0 takes any free port. Nothing with the
// reason in error.
std::optional<PanelAddress> ParsePanelAddress(std::string_view text, std::string& error);
// Whether the host is this machine's loopback (127.0.0.0/8, ::1, localhost).
bool IsLoopbackHost(std::string_view host);
// The token in a file: its first line without surrounding blanks. Nothing with the reason when
// the file cannot be read or the token is shorter than PANEL_TOKEN_MIN_LENGTH.
std::optional<std::string> ReadPanelToken(FileSystem& files, const std::string& path,
                                          std::string& error);
// Why a panel may not be served on that address with that token; empty when it may.
std::string PanelBindRefusal(const PanelAddress& address, bool hasToken);

struct PanelSettings {
    PanelAddress Address;
    std::string Token;  // empty: none asked for (loopback only)
    // Event streams served at once; a further one is answered 503 so that the page's other
    // requests always find a thread.
    std::size_t MaxStreams = 6;
    // Changes closer together than this go out as one message.
    std::uint32_t CoalesceMs = 50;
    // A comment line on a quiet stream this often, so that a dead connection is noticed.
    std::uint32_t KeepAliveMs = 15000;
};

class PanelServer {
public:
    // Binds and serves on threads of its own until destroyed; null with the reason in error
    // when the address cannot be bound.
    static std::unique_ptr<PanelServer> Start(PanelSource& source, PanelSettings settings,
                                              std::string& error);
    ~PanelServer();
    PanelServer(const PanelServer&) = delete;
    PanelServer& operator=(const PanelServer&) = delete;

    // The port it listens on (the one it took, for port 0).
    int Port() const;
    // The page's address, as a browser on this machine opens it.
    std::string Url() const;

    class Impl;

private:
    explicit PanelServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvik::panel
