#include "MessageWait.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "CommLog.h"
#include "com/Strings.h"

namespace orvane::interaction {
namespace {

bool Elapsed(DWORD start, DWORD timeoutMs) {
    return timeoutMs != INFINITE && GetTickCount() - start >= timeoutMs;
}

// What is left of the timeout; the wait is never longer than asked.
DWORD Remaining(DWORD start, DWORD timeoutMs) {
    if (timeoutMs == INFINITE) return INFINITE;
    const DWORD spent = GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

void Trace(const wchar_t* text) {
    if (CommLog::On()) CommLog::Write(text);
}

}  // namespace

bool WaitWithMessages(HANDLE handle, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, timeoutMs, QS_ALLINPUT);
    while (result == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return true;
        }
        if (Elapsed(start, timeoutMs)) return false;
        result =
            MsgWaitForMultipleObjects(1, &handle, FALSE, Remaining(start, timeoutMs), QS_ALLINPUT);
    }
    return result == WAIT_OBJECT_0;
}

bool WaitAllWithMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    if (count == 0) return true;
    if (!handles) return false;
    const DWORD start = GetTickCount();
    // The handles not yet signalled. One wait takes at most MAXIMUM_WAIT_OBJECTS - 1
    // of them beside the message queue, so a longer list is waited for in chunks:
    // all are needed, so it does not matter which come first.
    std::vector<HANDLE> pending(handles, handles + count);
    // Takes the signal of every pending handle that is set; true when none is left.
    // Each event is reset when its signal is taken.
    auto takeSignalled = [&] {
        for (size_t i = 0; i < pending.size();) {
            if (WaitForSingleObject(pending[i], 0) == WAIT_OBJECT_0) {
                ResetEvent(pending[i]);
                pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        return pending.empty();
    };
    for (;;) {
        if (takeSignalled()) {
            Trace(L"WAIT: all finished");
            return true;
        }
        const DWORD chunk =
            static_cast<DWORD>(std::min<size_t>(pending.size(), MAXIMUM_WAIT_OBJECTS - 1));
        const DWORD result = MsgWaitForMultipleObjects(chunk, pending.data(), FALSE,
                                                       Remaining(start, timeoutMs), QS_ALLINPUT);
        if (CommLog::On()) CommLog::Write(com::Format(L"WAIT: dwRet=%d", static_cast<int>(result)));
        if (result < WAIT_OBJECT_0 + chunk) continue;
        if (result != WAIT_OBJECT_0 + chunk) {
            if (takeSignalled()) return true;
            Trace(Elapsed(start, timeoutMs) ? L"WAIT: timeout" : L"WAIT: unknown end");
            return false;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            Trace(L"WAIT: DispatchMessage");
            TranslateMessage(&message);
            DispatchMessageW(&message);
            Trace(L"WAIT: end of DispatchMessage");
            if (takeSignalled()) {
                Trace(L"WAIT: all finished");
                return true;
            }
        }
        if (Elapsed(start, timeoutMs)) {
            Trace(L"WAIT: timeout");
            return false;
        }
    }
}

}  // namespace orvane::interaction
