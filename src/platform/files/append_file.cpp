#include "platform/files/append_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace tarvik {

std::int64_t SystemUtcClock::MillisecondsSinceEpoch()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

std::string FormatUtcTime(std::int64_t millisecondsSinceEpoch)
{
    // Four digits of year: a time outside them (a damaged record) is shown as the nearest
    // one, and the calendar arithmetic below never sees a number it cannot hold.
    constexpr std::int64_t FIRST_MS = -62'167'219'200'000;  // 0000-01-01T00:00:00.000Z
    constexpr std::int64_t LAST_MS = 253'402'300'799'999;   // 9999-12-31T23:59:59.999Z
    millisecondsSinceEpoch = std::clamp(millisecondsSinceEpoch, FIRST_MS, LAST_MS);
    std::int64_t wholeSeconds = millisecondsSinceEpoch / 1000;
    std::int64_t milliseconds = millisecondsSinceEpoch % 1000;
    if (milliseconds < 0) {
        milliseconds += 1000;
        --wholeSeconds;
    }
    // The civil date of the day, without the C library's time functions, which differ
    // between systems.
    using namespace std::chrono;
    const sys_seconds instant{wholeSeconds * 1s};
    const sys_days day = floor<days>(instant);
    const year_month_day date{day};
    const hh_mm_ss clock{instant - day};
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(milliseconds));
    return text;
}

}  // namespace tarvik
