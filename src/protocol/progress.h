#pragma once
// The progress display the transfer reports through: the progress window in the desktop
// program, a bar or plain lines in the command line. Each report says where the transfer
// stands (its phase, the bytes done and the total) and what the progress window shows for it.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvik {

inline constexpr std::string_view TEXT_ERASING = "Erasing EEPROM...";
inline constexpr std::string_view TEXT_UPGRADE = "Upgrade...";
inline constexpr std::string_view TEXT_VERIFY = "Verify Target...";
inline constexpr std::string_view TEXT_RESETTING = "Reseting Target...";
inline constexpr std::string_view TEXT_FINISHED = "Upgrade Finish";

enum class ProgressPhase : std::uint8_t {
    Erase,  // while the first block is written
    Write,
    Verify,  // every block sent again for the device to compare
    Reset,
    Done,
};

// The status text of each phase.
constexpr std::string_view ProgressText(ProgressPhase phase)
{
    switch (phase) {
    case ProgressPhase::Erase:
        return TEXT_ERASING;
    case ProgressPhase::Write:
        return TEXT_UPGRADE;
    case ProgressPhase::Verify:
        return TEXT_VERIFY;
    case ProgressPhase::Reset:
        return TEXT_RESETTING;
    case ProgressPhase::Done:
        return TEXT_FINISHED;
    }
    return {};
}

// The bar position, and the number of the percent text "%d %%".
struct ProgressPercent {
    int Position = 0;
    int Number = 0;
};

struct ProgressReport {
    ProgressPhase Phase = ProgressPhase::Erase;
    // The status text when this step sets it; the verify acknowledgements leave it as it is.
    std::optional<std::string_view> Text;
    // The bar and percent text when this step moves them; otherwise they keep what they show.
    std::optional<ProgressPercent> Percent;
    // Bytes of the image the device has acknowledged in this phase: 0 while erasing and as
    // verification starts, the whole image once it is being reset.
    std::uint64_t BytesDone = 0;
    std::uint64_t BytesTotal = 0;
};

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    // A transfer of bytesTotal bytes starts: empties both texts, shows the display, bar range
    // 0..100 at 0.
    virtual void BeginProgress(std::uint64_t bytesTotal) = 0;
    // One step of the transfer: takes the text, then moves the bar, as far as the report sets
    // them, and puts both texts on show.
    virtual void SetProgress(const ProgressReport& report) = 0;
};

}  // namespace tarvik
