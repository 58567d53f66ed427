#pragma once
// The progress display the transfer reports through: the progress window in the desktop
// program, a bar or plain lines in the command line.

#include <string_view>

namespace tarvik {

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    // Empties both texts, shows the display, bar range 0..100 at 0.
    virtual void BeginProgress() = 0;
    virtual void SetStatusText(std::string_view text) = 0;
    // Bar position, and the percent text "%d %%" of number.
    virtual void SetPercent(int position, int number) = 0;
    // Puts both texts on show.
    virtual void RefreshTexts() = 0;
};

inline constexpr std::string_view TEXT_ERASING = "Erasing EEPROM...";
inline constexpr std::string_view TEXT_UPGRADE = "Upgrade...";
inline constexpr std::string_view TEXT_VERIFY = "Verify Target...";
inline constexpr std::string_view TEXT_RESETTING = "Reseting Target...";
inline constexpr std::string_view TEXT_FINISHED = "Upgrade Finish";

}  // namespace tarvik
