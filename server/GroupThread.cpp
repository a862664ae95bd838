#include "GroupThread.h"

#include <mmsystem.h>
#include <process.h>

#include <algorithm>

#include "AsyncServices2.h"
#include "UpdateClock.h"
#include "com/ComInit.h"
#include "com/ErrorBox.h"
#include "com/Implementation.h"
#include "com/Log.h"
#include "com/Result.h"
#include "vkopc.h"

namespace {

constexpr LONG kAsyncModeDa20 = 2;

}  // namespace

const wchar_t* const CGroupThread::kStartFailureText =
    L"Es kam zu einem internen Fehler. \r \r\t\t\t\t\t\t\tAufgrund dieses Fehlers wird das "
    L"Activate-Verhalten der angelegten Gruppe \r \t\t\t\t\t\t\tund alle Asynchronen "
    L"Verbindungen nicht der OPC-Spezifikation entsprechen.\r\r \t\t\t\t\t\t\tItemManagement, "
    L"GroupMgt und Synchrone Dienste sind jedoch funktionsfähig.";

// What the group and its thread share; it lives as long as either needs it.
struct CGroupThread::Shared {
    com::UniqueHandle started{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    com::UniqueHandle ended{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    com::MarshalledStream group;     // to the thread
    com::MarshalledStream services;  // back to the group
    std::atomic<DWORD> rate{0};
    std::atomic<bool> abandoned{false};  // Start gave up waiting: the thread ends at once
    DWORD tick = 0;                      // 0: no timer
};

CGroupThread::~CGroupThread() { Stop(0); }

HRESULT CGroupThread::Start(IUnknown* group, DWORD rate, DWORD tick,
                            com::ComPtr<IUnknown>* services) {
    services->reset();
    if (thread_) return S_FALSE;
    auto shared = std::make_shared<Shared>();
    RETURN_LAST_ERROR_IF(!shared->started || !shared->ended);
    shared->rate = rate;
    shared->tick = tick;
    RETURN_IF_FAILED(shared->group.Marshal(IID_IUnknown, group));

    auto* argument = new std::shared_ptr<Shared>(shared);
    unsigned id = 0;
    thread_.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, argument, 0, &id)));
    if (!thread_) {
        delete argument;
        return E_OUTOFMEMORY;
    }
    threadId_ = id;
    shared_ = shared;
    // The thread only takes the group over and makes its services: no client is
    // involved, so this wait is short; bounded all the same, so that a thread stuck in
    // COM's start-up never holds AddGroup (the group then has no asynchronous services).
    if (WaitForSingleObject(shared->started.get(), kStartWaitMs) != WAIT_OBJECT_0) {
        shared->abandoned = true;
        LOG_WARNING(L"group thread: not started within %lu ms", kStartWaitMs);
        return E_FAIL;
    }
    if (!shared->services.empty()) {
        const HRESULT hr = shared->services.Unmarshal(IID_IUnknown, services->put_void());
        if (FAILED(hr)) com::MapFailure(hr, hr, "group thread: the services object");
    }
    return S_OK;
}

void CGroupThread::SetRate(DWORD rate) {
    if (!shared_) return;
    shared_->rate = rate;
    if (threadId_) PostThreadMessageW(threadId_, WM_USER, 0, 0);
}

bool CGroupThread::Stop(DWORD waitMs) {
    if (!thread_) return true;
    if (!stopRequested_) {
        stopRequested_ = true;
        shared_->services.reset();  // never taken: its marshal data goes
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    }
    if (isCurrentThread()) return false;  // the thread's own last release
    if (WaitForSingleObject(shared_->ended.get(), waitMs) != WAIT_OBJECT_0) return false;
    thread_.reset();
    threadId_ = 0;
    return true;
}

unsigned __stdcall CGroupThread::Run(void* argument) {
    const std::shared_ptr<Shared> shared = *static_cast<std::shared_ptr<Shared>*>(argument);
    delete static_cast<std::shared_ptr<Shared>*>(argument);
    // A message queue before anyone can post to it.
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    {
        com::ComInitializer com(COINIT_MULTITHREADED);
        if (SUCCEEDED(com.hr())) Serve(*shared);
    }
    SetEvent(shared->started.get());  // also when Serve never came so far
    SetEvent(shared->ended.get());
    return 0;
}

void CGroupThread::Serve(Shared& shared) {
    MSG msg;
    com::ComPtr<IUnknown> group;
    if (FAILED(shared.group.Unmarshal(IID_IUnknown, group.put_void()))) {
        // The group works on without asynchronous services.
        com::ReportErrorBox(kStartFailureText, L"Server-Error", MB_OK | MB_ICONERROR);
        return;
    }
    com::ComPtr<IAsyncServices> services;
    if (auto internal = group.try_query<IOPCGroup>()) {
        long mode = 0;
        internal->GetAsyncMode(&mode);
        com::ComPtr<CAsyncServices2> made;
        if (mode == kAsyncModeDa20 && SUCCEEDED(com::MakeObject(&made, group.get())))
            made.query(&services);
    }
    group.reset();
    if (shared.abandoned) return;
    if (services) {
        const HRESULT hr = shared.services.Marshal(IID_IUnknown, services.get());
        if (FAILED(hr)) com::MapFailure(hr, hr, "group thread: marshal the services object");
    }

    // The finest timer resolution the machine has, for the life of the thread: at the
    // default one a 50 ms timer fires about every 62 ms.
    TIMECAPS caps = {};
    UINT resolution = 0;
    if (timeGetDevCaps(&caps, sizeof(caps)) == MMSYSERR_NOERROR && caps.wPeriodMin &&
        timeBeginPeriod(caps.wPeriodMin) == TIMERR_NOERROR)
        resolution = caps.wPeriodMin;
    const UINT period = std::max<UINT>(shared.tick, caps.wPeriodMin);
    const UINT_PTR timer = shared.tick ? SetTimer(nullptr, 0, period, nullptr) : 0;
    UpdateClock clock(shared.rate);
    DWORD last = timeGetTime();
    SetEvent(shared.started.get());

    while (!shared.abandoned && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
            const DWORD now = timeGetTime();
            const bool update = clock.Tick(now - last);
            last = now;
            if (services) services->OnTimer(update ? TRUE : FALSE);
        } else if (msg.message == WM_USER && msg.hwnd == nullptr) {
            clock.SetRate(shared.rate);
        } else {
            DispatchMessageW(&msg);
        }
    }
    shared.services.reset();  // never taken when Start gave up
    if (timer) KillTimer(nullptr, timer);
    if (resolution) timeEndPeriod(resolution);
    if (services) {
        if (auto* object = com::ImplementationOf<CAsyncServices2>(services.get()))
            object->Shutdown();
    }
}
