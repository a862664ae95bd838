#include "UpdateClock.h"

bool UpdateClock::Tick(DWORD elapsedMs) {
    elapsed_ += elapsedMs;
    if (elapsed_ < rate_) return false;
    elapsed_ -= rate_;
    if (elapsed_ >= rate_ || first_) elapsed_ = 0;  // a stall: no catch-up
    first_ = false;
    return true;
}
