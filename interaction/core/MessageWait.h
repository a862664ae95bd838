// Waits that keep dispatching window messages, so that calls delivered to the
// waiting thread's apartment (completion callbacks among them) run while it waits.
#pragma once

#include <windows.h>

namespace orvane::interaction {

// True when `handle` was signalled within `timeoutMs` (INFINITE waits for ever).
bool WaitWithMessages(HANDLE handle, DWORD timeoutMs);

// True when every one of the `count` events was signalled within `timeoutMs`. Each
// event is reset when its signal is taken, so that the wait for any of them moves
// on to the others. Any number of handles.
bool WaitAllWithMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs);

}  // namespace orvane::interaction
