#include "opc_time.h"

#include <cmath>

namespace vkopc {
namespace {
// 1899-12-30, day 0 of OLE dates, in FILETIME units (100 ns since 1601-01-01).
constexpr ULONGLONG kOleEpoch = 94353120000000000ULL;
constexpr double kTicksPerDay = 864000000000.0;
}  // namespace

DATE FileTimeToDate(const FILETIME& time) {
    const ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const double days = (static_cast<double>(ticks) - static_cast<double>(kOleEpoch)) / kTicksPerDay;
    if (days >= 0.0)
        return days;
    // Before day 0 an OLE date counts whole days backwards but the time of
    // day forwards: 1899-12-29 18:00 is -1.75.
    const double whole = std::floor(days);
    return whole - (days - whole);
}

}  // namespace vkopc
