#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "com/ComPtr.h"
#include "com/Stream.h"
#include "com/Sync.h"

// The worker thread of a group: it makes the group's asynchronous services and
// drives them with a timer (IAsyncServices::OnTimer), an update each time the
// group's rate has elapsed.
//
// The thread holds what it uses by reference, so a thread stuck in a client's
// callback cleans up by itself when the call returns; nobody waits for it longer
// than the bound given to Stop.
class CGroupThread {
public:
    // The German text of the box shown when the thread cannot take the group over.
    static const wchar_t* const kStartFailureText;
    // The longest Start waits for the thread to take the group over.
    static constexpr DWORD kStartWaitMs = 10000;

    CGroupThread() = default;
    CGroupThread(const CGroupThread&) = delete;
    CGroupThread& operator=(const CGroupThread&) = delete;
    // Asks the thread to end without waiting for it.
    ~CGroupThread();

    // Starts the thread for the group (IOPCGroup) and waits until it runs. *services
    // receives the services object's IUnknown, empty when the thread could not make it.
    // A tick of 0 starts no timer.
    HRESULT Start(IUnknown* group, DWORD rate, DWORD tick, com::ComPtr<IUnknown>* services);
    // The thread takes the new rate at its next message (WM_USER).
    void SetRate(DWORD rate);
    // Asks the thread to end (once) and waits up to waitMs; true when it has ended.
    bool Stop(DWORD waitMs);
    bool running() const { return thread_.is_valid(); }
    bool isCurrentThread() const { return threadId_ != 0 && threadId_ == GetCurrentThreadId(); }

private:
    struct Shared;
    static unsigned __stdcall Run(void* argument);
    static void Serve(Shared& shared);

    std::shared_ptr<Shared> shared_;
    com::UniqueHandle thread_;
    DWORD threadId_ = 0;
    bool stopRequested_ = false;
};
