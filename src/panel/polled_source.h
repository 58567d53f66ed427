#pragma once
// A panel's state read afresh every so often (the factory view from the shared database), on
// a thread of its own: a page never waits for the database beyond the first reading.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "panel/panel_server.h"
#include "platform/kernel/kernel.h"

namespace tarvik::panel {

class PolledSource final : public PanelSource {
public:
    // Reads the state: an object with "kind", or anything with the reason in error.
    using Reader = std::function<Json(std::string& error)>;

    // Reads once before it returns, then every intervalMs until destroyed.
    PolledSource(Reader read, std::uint32_t intervalMs);
    ~PolledSource() override;
    PolledSource(const PolledSource&) = delete;
    PolledSource& operator=(const PolledSource&) = delete;

    // The last state read, with "version", and "error" when the last reading failed (the
    // state then is the last one read whole).
    Json State() override;
    std::uint64_t Version() override;
    void OnChange(std::function<void()> changed) override;

private:
    void ReadOnce();

    const Reader read_;
    const std::uint32_t intervalMs_;
    std::unique_ptr<Kernel> kernel_;
    EventHandle stop_ = NO_EVENT;
    std::mutex lock_;
    Json state_;
    std::string error_;
    std::uint64_t version_ = 0;
    std::function<void()> changed_;
    std::thread thread_;
};

}  // namespace tarvik::panel
