#include "platform/files/append_file.h"

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
