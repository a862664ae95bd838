#pragma once

#include <windows.h>

// Group timers tick at a fixed period; an update rate is served in whole ticks.
struct RevisedRate {
    DWORD revised;
    bool changed;  // revised != requested: the caller reports OPC_S_UNSUPPORTEDRATE
};

// Rounds the requested rate up to a multiple of the tick; 0 becomes one tick.
RevisedRate ReviseUpdateRate(DWORD requested, DWORD tick);

// A percent deadband lies within 0..100; NaN does not.
bool IsValidPercentDeadband(float percent);
