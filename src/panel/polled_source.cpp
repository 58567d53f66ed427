#include "panel/polled_source.h"

#include "platform/host/machine.h"

namespace tarvik::panel {

PolledSource::PolledSource(Reader read, std::uint32_t intervalMs)
    : read_(std::move(read)), intervalMs_(intervalMs), kernel_(OpenRealTimeKernel())
{
    stop_ = kernel_->CreateEvent();
    ReadOnce();
    thread_ = std::thread([this] {
        const EventHandle events[] = {stop_};
        while (kernel_->WaitForAny(events, intervalMs_) == WAIT_TIMEOUT) {
            ReadOnce();
        }
    });
}

PolledSource::~PolledSource()
{
    kernel_->SetEvent(stop_);
    thread_.join();
    kernel_->CloseHandle(stop_);
}

void PolledSource::ReadOnce()
{
    std::string error;
    Json state = read_(error);
    std::function<void()> changed;
    {
        std::lock_guard lock(lock_);
        if (error.empty() && state.is_object()) {
            state_ = std::move(state);
        }
        error_ = error;
        ++version_;
        changed = changed_;
    }
    if (changed) {
        changed();
    }
}

Json PolledSource::State()
{
    std::lock_guard lock(lock_);
    Json state = state_.is_object() ? state_ : Json{{"kind", "factory"}};
    state["version"] = version_;
    if (!error_.empty()) {
        state["error"] = error_;
    }
    return state;
}

std::uint64_t PolledSource::Version()
{
    std::lock_guard lock(lock_);
    return version_;
}

void PolledSource::OnChange(std::function<void()> changed)
{
    std::lock_guard lock(lock_);
    changed_ = std::move(changed);
}

}  // namespace tarvik::panel
