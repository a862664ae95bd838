// The parts of the namespace check that need no interaction object: its time limit
// and the wait for the identification workers.
#pragma once

#include <windows.h>

#include <vector>

namespace orvane::interaction {

// TimeoutCheckNamespace for each of `devices` devices, saturated below INFINITE so
// that a large setting never wraps round to a short (or endless) wait.
DWORD NameSpaceCheckTimeout(DWORD perDevice, size_t devices);

// True when every event was signalled within `timeoutMs`; window messages are
// dispatched meanwhile. Any number of events: MsgWaitForMultipleObjects takes at
// most MAXIMUM_WAIT_OBJECTS - 1, so they are waited for in batches of that size.
// The events are manual-reset and are left signalled.
bool WaitForAllWithMessages(std::vector<HANDLE> events, DWORD timeoutMs);

}  // namespace orvane::interaction
