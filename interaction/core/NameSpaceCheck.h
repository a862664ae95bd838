// The part of the namespace check that needs no interaction object: its time limit
// (the workers are waited for with WaitAllWithMessages of MessageWait.h).
#pragma once

#include <windows.h>

#include <vector>

namespace orvane::interaction {

// TimeoutCheckNamespace for each of `devices` devices, saturated below INFINITE so
// that a large setting never wraps round to a short (or endless) wait.
DWORD NameSpaceCheckTimeout(DWORD perDevice, size_t devices);

}  // namespace orvane::interaction
