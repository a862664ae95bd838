#include "opc_time.h"

#include <gtest/gtest.h>

namespace vkopc {
namespace {

FILETIME FromSystemTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second,
                        WORD ms) {
    SYSTEMTIME st{year, month, 0, day, hour, minute, second, ms};
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

TEST(FileTimeToDate, MatchesOleDatesAndKeepsMilliseconds) {
    struct Case {
        FILETIME time;
        DATE expected;
        const char* what;
    } cases[] = {
        {FromSystemTime(1899, 12, 30, 0, 0, 0, 0), 0.0, "day 0"},
        {FromSystemTime(2000, 1, 1, 12, 0, 0, 0), 36526.5, "2000-01-01 12:00"},
        {FromSystemTime(2026, 12, 7, 6, 0, 0, 0), 46363.25, "2026-12-07 06:00"},
        {FromSystemTime(2000, 1, 1, 0, 0, 0, 500), 36526.0 + 0.5 / 86400.0, "half a second"},
        {FromSystemTime(1899, 12, 29, 18, 0, 0, 0), -1.75, "before day 0"},
    };
    for (const Case& c : cases) {
        const DATE got = FileTimeToDate(c.time);
        EXPECT_NEAR(c.expected, got, 1e-9) << c.what;
    }
}

}  // namespace
}  // namespace vkopc
