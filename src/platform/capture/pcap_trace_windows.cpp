#include "platform/windows_api.h"

#include <array>
#include <cstring>
#include <vector>

#include "platform/capture/pcap_trace.h"

namespace tarvik {
namespace {

// The classic pcap file: a 24-byte header, then each frame after a 16-byte record header, all
// in the writer's byte order (little-endian here), time stamps in microseconds.
constexpr std::uint32_t PCAP_MAGIC = 0xA1B2C3D4;
constexpr std::uint16_t PCAP_VERSION_MAJOR = 2;
constexpr std::uint16_t PCAP_VERSION_MINOR = 4;
constexpr std::uint32_t TRACE_SNAP_LENGTH = 65535;
constexpr std::uint32_t LINK_TYPE_ETHERNET = 1;

template <std::size_t N>
void Put32(std::array<std::uint8_t, N>& bytes, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

bool WriteAll(HANDLE file, const void* data, std::size_t size)
{
    DWORD written = 0;
    return ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) != 0 &&
           written == size;
}

}  // namespace

struct PcapTrace::File {
    explicit File(HANDLE handle) : Handle(handle) {}
    ~File() { ::CloseHandle(Handle); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    HANDLE Handle;
};

std::unique_ptr<PcapTrace> PcapTrace::Open(const std::string& path, Kernel& clock,
                                           std::string& error)
{
    const HANDLE handle = ::CreateFileW(WideText(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(::GetLastError());
        return nullptr;
    }
    auto file = std::make_unique<File>(handle);
    std::array<std::uint8_t, 24> header{};
    Put32(header, 0, PCAP_MAGIC);
    Put32(header, 4, PCAP_VERSION_MAJOR | (std::uint32_t{PCAP_VERSION_MINOR} << 16));
    Put32(header, 16, TRACE_SNAP_LENGTH);
    Put32(header, 20, LINK_TYPE_ETHERNET);
    // The header alone already makes a readable, empty capture.
    if (!WriteAll(handle, header.data(), header.size())) {
        error = SystemErrorText(::GetLastError());
        return nullptr;
    }
    return std::unique_ptr<PcapTrace>(new PcapTrace(clock, std::move(file)));
}

PcapTrace::PcapTrace(Kernel& clock, std::unique_ptr<File> file)
    : clock_(clock), file_(std::move(file))
{
}

PcapTrace::~PcapTrace() = default;

void PcapTrace::Record(std::span<const std::uint8_t> frame)
{
    const std::uint64_t now = clock_.WallClockMicroseconds();
    const auto length = static_cast<std::uint32_t>(frame.size());
    // Header and frame in one write, which the system does not flush lazily: a trace holds
    // every frame up to the moment the program stopped.
    std::vector<std::uint8_t> record(16 + frame.size());
    std::array<std::uint8_t, 16> header{};
    Put32(header, 0, static_cast<std::uint32_t>(now / 1000000));
    Put32(header, 4, static_cast<std::uint32_t>(now % 1000000));
    Put32(header, 8, length);
    Put32(header, 12, length);
    std::memcpy(record.data(), header.data(), header.size());
    std::memcpy(record.data() + header.size(), frame.data(), frame.size());
    std::lock_guard lock(mutex_);
    WriteAll(file_->Handle, record.data(), record.size());
}

}  // namespace tarvik
