#pragma once

#include <windows.h>

// Decides at each timer tick of a group whether an update is due. It counts the
// milliseconds that really elapsed, not timer messages: a thread timer fires late
// (about every 62 ms for 50 ms at the default resolution), and counting messages
// would stretch every rate by that much. A due update takes one rate off the count,
// so the mean period equals the rate; after a stall (a slow callback) the count is
// dropped instead, so no burst of catch-up updates follows.
class UpdateClock {
public:
    // The first tick is an update.
    explicit UpdateClock(DWORD rate) : rate_(rate ? rate : 1), elapsed_(rate_) {}

    void SetRate(DWORD rate) { rate_ = rate ? rate : 1; }
    DWORD rate() const { return rate_; }

    // elapsedMs: time since the previous tick (or since the timer was set).
    bool Tick(DWORD elapsedMs);

private:
    DWORD rate_;
    unsigned long long elapsed_;
    bool first_ = true;  // the first update counts the next period from itself
};
