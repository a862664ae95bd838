#include "UpdateRate.h"

RevisedRate ReviseUpdateRate(DWORD requested, DWORD tick) {
    if (tick == 0) return {requested, false};
    // 64-bit so that a request near 0xFFFFFFFF cannot wrap to a tiny rate.
    unsigned long long revised = static_cast<unsigned long long>(requested / tick) * tick;
    if (revised < requested) revised += tick;
    if (revised == 0) revised = tick;
    if (revised > 0xFFFFFFFFull) revised -= tick;
    const DWORD result = static_cast<DWORD>(revised);
    return {result, result != requested};
}

bool IsValidPercentDeadband(float percent) {
    return percent >= 0.0f && percent <= 100.0f;  // false for NaN
}
