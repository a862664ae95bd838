// The request reference of parameter requests: an 8-bit counter per interaction
// object, echoed by the drive in its response.
#pragma once

#include <windows.h>

namespace orvane::interaction {

class RequestReference {
public:
    BYTE Current() const { return value_; }

    // Runs 1..254 and never hits 0 or 255: the profile reserves 0, and a channel
    // buffer still holding 0x00 or 0xFF bytes (nothing answered yet, or erased
    // memory) can then never pass for the echo of a live request.
    void Advance() { value_ = value_ >= 254 ? 1 : static_cast<BYTE>(value_ + 1); }

private:
    BYTE value_ = 1;
};

}  // namespace orvane::interaction
