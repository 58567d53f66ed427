#include "platform/windows_api.h"

#include <mmsystem.h>

#include <array>

#include "platform/kernel/windows_kernel.h"

namespace tarvik {

WindowsKernel::WindowsKernel()
    : timer_([](std::function<void()> body) { return std::thread(std::move(body)); })
{
    ::timeBeginPeriod(1);
}

WindowsKernel::~WindowsKernel()
{
    timer_.Stop();
    std::map<WatchId, std::unique_ptr<Reader>> readers;
    {
        std::lock_guard lock(readerMutex_);
        readers.swap(readers_);
    }
    for (auto& [id, reader] : readers) {
        reader->Stopping = true;
        reader->Thread.join();
    }
    for (const auto& [handle, event] : events_) {
        ::CloseHandle(event);
    }
    ::timeEndPeriod(1);
}

std::uint32_t WindowsKernel::GetTickCount()
{
    return ::GetTickCount();
}

std::uint64_t WindowsKernel::WallClockMicroseconds()
{
    // 100 ns units since 1601; the Unix epoch is 11644473600 s later.
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                now.dwLowDateTime;
    return ticks / 10 - 11644473600ULL * 1000000ULL;
}

void WindowsKernel::Sleep(std::uint32_t milliseconds)
{
    ::Sleep(milliseconds);
}

EventHandle WindowsKernel::CreateEvent()
{
    const HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        return NO_EVENT;
    }
    std::lock_guard lock(eventMutex_);
    do {
        ++lastHandle_;
    } while (lastHandle_ == NO_EVENT || events_.contains(lastHandle_));
    events_.emplace(lastHandle_, event);
    return lastHandle_;
}

void* WindowsKernel::SystemHandle(EventHandle event)
{
    std::lock_guard lock(eventMutex_);
    const auto found = events_.find(event);
    return found == events_.end() ? nullptr : found->second;
}

bool WindowsKernel::SetEvent(EventHandle event)
{
    const HANDLE handle = SystemHandle(event);
    return handle != nullptr && ::SetEvent(handle) != 0;
}

bool WindowsKernel::ResetEvent(EventHandle event)
{
    const HANDLE handle = SystemHandle(event);
    return handle != nullptr && ::ResetEvent(handle) != 0;
}

bool WindowsKernel::CloseHandle(EventHandle event)
{
    HANDLE handle = nullptr;
    {
        std::lock_guard lock(eventMutex_);
        const auto found = events_.find(event);
        if (found == events_.end()) {
            return false;
        }
        handle = found->second;
        events_.erase(found);
    }
    return ::CloseHandle(handle) != 0;
}

std::uint32_t WindowsKernel::WaitForAny(std::span<const EventHandle> events,
                                        std::uint32_t timeoutMilliseconds)
{
    if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) {
        return WAIT_FAILED;
    }
    std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> handles{};
    {
        std::lock_guard lock(eventMutex_);
        for (std::size_t i = 0; i < events.size(); ++i) {
            const auto found = events_.find(events[i]);
            if (found == events_.end()) {
                return WAIT_FAILED;
            }
            handles[i] = found->second;
        }
    }
    // The lowest signalled event wins and is reset, as the kernel's contract says: that is
    // WaitForMultipleObjects' own rule for auto-reset events.
    const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), handles.data(),
                                                  FALSE, timeoutMilliseconds);
    if (result < WAIT_OBJECT_0 + events.size() || result == WAIT_TIMEOUT) {
        return result;
    }
    return WAIT_FAILED;
}

WatchingKernel::WatchId WindowsKernel::Watch(int, std::function<bool()> drain)
{
    auto reader = std::make_unique<Reader>();
    Reader* raw = reader.get();
    reader->Thread = std::thread([raw, drain = std::move(drain)] {
        while (!raw->Stopping && drain()) {
        }
    });
    std::lock_guard lock(readerMutex_);
    const WatchId id = nextWatch_++;
    readers_.emplace(id, std::move(reader));
    return id;
}

void WindowsKernel::Unwatch(WatchId id)
{
    std::unique_ptr<Reader> reader;
    {
        std::lock_guard lock(readerMutex_);
        const auto found = readers_.find(id);
        if (found == readers_.end()) {
            return;
        }
        reader = std::move(found->second);
        readers_.erase(found);
    }
    // The drain waits no longer than its capture's read timeout.
    reader->Stopping = true;
    reader->Thread.join();
}

void WindowsKernel::Schedule(std::uint32_t delayMilliseconds, std::function<void()> action)
{
    timer_.Schedule(delayMilliseconds, std::move(action));
}

}  // namespace tarvik
