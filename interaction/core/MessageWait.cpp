#include "MessageWait.h"

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
    if (!handles || count >= MAXIMUM_WAIT_OBJECTS) return false;
    const DWORD start = GetTickCount();
    std::vector<bool> finished(count, false);
    DWORD left = count;
    // Takes the signal of handle i; true when it was the last one.
    auto take = [&](DWORD i) {
        if (!finished[i]) {
            finished[i] = true;
            ResetEvent(handles[i]);
            --left;
        }
        return left == 0;
    };
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE,
                                                       Remaining(start, timeoutMs), QS_ALLINPUT);
        if (CommLog::On()) CommLog::Write(com::Format(L"WAIT: dwRet=%d", static_cast<int>(result)));
        if (result < WAIT_OBJECT_0 + count) {
            if (take(result - WAIT_OBJECT_0)) {
                Trace(L"WAIT: all finished");
                return true;
            }
            continue;
        }
        if (result != WAIT_OBJECT_0 + count) {
            Trace(Elapsed(start, timeoutMs) ? L"WAIT: timeout" : L"WAIT: unknown end");
            return false;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            Trace(L"WAIT: DispatchMessage");
            TranslateMessage(&message);
            DispatchMessageW(&message);
            Trace(L"WAIT: end of DispatchMessage");
            const DWORD signalled = WaitForMultipleObjects(count, handles, FALSE, 0);
            if (CommLog::On())
                CommLog::Write(com::Format(L"WAIT:   dwRet=%d", static_cast<int>(signalled)));
            if (signalled < WAIT_OBJECT_0 + count && take(signalled - WAIT_OBJECT_0)) {
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
