// Work for several drives at once: a drive answers a parameter request in tens of
// milliseconds, so jobs for different drives run on threads of their own instead of
// waiting for each other.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace orvane::interaction {

// Runs job(0) ... job(count - 1): job 0 on the calling thread, every other one on a thread
// of its own in the multithreaded apartment (where the bus-server connection's pointers
// are valid), all joined before the return; with `oneAfterAnother` all on the calling
// thread in order. A job that cannot get a thread runs on the calling thread. Element i
// of the result is job i's result; an exception of a job becomes its HRESULT.
std::vector<HRESULT> RunSideBySide(size_t count, bool oneAfterAnother,
                                   const std::function<HRESULT(size_t)>& job);

}  // namespace orvane::interaction
