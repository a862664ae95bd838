#include "com/Time.h"

#include <cmath>

namespace com {

namespace {
constexpr double kMsPerDay = 86400000.0;
constexpr double kDaysFrom1601To1899 = 109205.0;  // 1601-01-01 .. 1899-12-30
constexpr double kMaxDate = 2958466.0;            // 10000-01-01

// A DATE below zero counts whole days backwards but its fraction forwards (-1.25 is
// 1899-12-29 06:00); "linear" days run straight through zero.
double DateToLinear(DATE date) {
    if (date >= 0) return date;
    const double day = std::ceil(date);
    return day + (day - date);
}
DATE LinearToDate(double linear) {
    if (linear >= 0) return linear;
    const double day = std::floor(linear);
    const double fraction = linear - day;
    return fraction == 0 ? day : day - fraction;
}
}  // namespace

DATE FileTimeToDate(const FILETIME& time) noexcept {
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    const double ms = static_cast<double>((ticks.QuadPart + 5000) / 10000);  // nearest ms
    return LinearToDate(ms / kMsPerDay - kDaysFrom1601To1899);
}

bool DateToFileTime(DATE date, FILETIME* out) noexcept {
    if (!out || std::isnan(date) || date >= kMaxDate) return false;
    const double ms = std::round((DateToLinear(date) + kDaysFrom1601To1899) * kMsPerDay);
    if (ms < 0) return false;
    ULARGE_INTEGER ticks;
    ticks.QuadPart = static_cast<ULONGLONG>(ms) * 10000;
    out->dwLowDateTime = ticks.LowPart;
    out->dwHighDateTime = ticks.HighPart;
    return true;
}

DATE NowUtcDate() noexcept {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return FileTimeToDate(now);
}

}  // namespace com
