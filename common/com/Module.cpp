#include "com/Module.h"

#include <algorithm>

#include "com/Log.h"
#include "com/Result.h"

namespace com {

// --- LockCount ---------------------------------------------------------------------------

LockCount::~LockCount() { CloseShutdownEvent(); }

LONG LockCount::Lock() noexcept { return ::InterlockedIncrement(&count_); }

LONG LockCount::Unlock() noexcept {
    const LONG count = ::InterlockedDecrement(&count_);
    if (count == 0) {
        activity_.store(true);
        CsLock guard(event_lock_);
        if (event_) ::SetEvent(event_);
    }
    return count;
}

LONG LockCount::Count() const noexcept {
    return ::InterlockedCompareExchange(const_cast<volatile LONG*>(&count_), 0, 0);
}

HRESULT LockCount::CreateShutdownEvent() noexcept {
    CsLock guard(event_lock_);
    if (event_) return S_FALSE;
    event_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
    return event_ ? S_OK : LastErrorHr();
}

void LockCount::CloseShutdownEvent() noexcept {
    CsLock guard(event_lock_);
    if (event_) ::CloseHandle(event_);
    event_ = nullptr;
}

HANDLE LockCount::shutdown_event() const noexcept {
    CsLock guard(event_lock_);
    return event_;
}

// --- ShutdownMonitor ---------------------------------------------------------------------

ShutdownMonitor::ShutdownMonitor(LockCount& count, std::function<void()> on_idle, DWORD idle_ms,
                                 WaitFunction wait, DWORD startup_ms)
    : count_(count),
      on_idle_(std::move(on_idle)),
      idle_ms_(idle_ms),
      startup_ms_(startup_ms),
      wait_(std::move(wait)) {
    if (!wait_)
        wait_ = [](HANDLE event, DWORD timeout) { return ::WaitForSingleObject(event, timeout); };
}

ShutdownMonitor::~ShutdownMonitor() {
    if (thread_.joinable()) thread_.join();
}

void ShutdownMonitor::Run() {
    bool started = false;
    for (;;) {
        HANDLE event = count_.shutdown_event();
        if (!event) return;
        // 1. The start counts as a drop to zero: a process started for an activation that
        //    another process served, or whose client went away, must not stay forever. Later
        //    nothing happens until the count drops to zero again.
        DWORD quiet_ms = idle_ms_;
        if (!started) {
            started = true;
            quiet_ms = startup_ms_;
        } else if (wait_(event, INFINITE) != WAIT_OBJECT_0) {
            return;
        }
        // 2. Stay while drops to zero keep coming within the quiet time.
        DWORD result;
        do {
            count_.ClearActivity();
            result = wait_(event, quiet_ms);
            quiet_ms = idle_ms_;
        } while (result == WAIT_OBJECT_0);
        if (result != WAIT_TIMEOUT) return;
        // 3. Idle for a whole period with nothing alive: end the process.
        if (!count_.activity() && count_.Count() == 0) {
            count_.CloseShutdownEvent();
            LOG_INFO(L"module idle: shutting down");
            if (on_idle_) on_idle_();
            return;
        }
    }
}

HRESULT ShutdownMonitor::Start() {
    return ComBoundary([&] { thread_ = std::thread([this] { Run(); }); });
}

// --- Module ------------------------------------------------------------------------------

namespace {
// An address inside this binary: the module that linked this library.
HMODULE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}
}  // namespace

Module& Module::Get() {
    // Never destroyed: objects may still be released during process exit.
    static Module* module = new Module();
    return *module;
}

Module::Module() : handle_(ThisModule()) {}

Module::~Module() = default;

std::wstring Module::path() const {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(handle_, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool Module::AddClass(REFCLSID clsid, FactoryCreator create) {
    CsLock guard(lock_);
    ClassEntry entry;
    entry.clsid = clsid;
    entry.create = create;
    classes_.push_back(std::move(entry));
    return true;
}

HRESULT Module::FactoryFor(ClassEntry& entry, ComPtr<IClassFactory>* out) {
    // Caller holds lock_.
    if (!entry.factory) {
        // The EXE's registered factories never keep the process alive; a DLL's count while a
        // caller holds them.
        const ModuleLockPolicy policy =
            is_exe() ? ModuleLockPolicy::kNone : ModuleLockPolicy::kWhileShared;
        RETURN_IF_FAILED(entry.create(policy, entry.factory.put()));
    }
    *out = entry.factory;
    return S_OK;
}

HRESULT Module::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    RETURN_IF_NULL_POINTER(ppv);
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    {
        CsLock guard(lock_);
        auto it = std::find_if(classes_.begin(), classes_.end(),
                               [&](const ClassEntry& e) { return e.clsid == clsid; });
        if (it == classes_.end()) return CLASS_E_CLASSNOTAVAILABLE;
        RETURN_IF_FAILED(FactoryFor(*it, &factory));
    }
    return factory->QueryInterface(riid, ppv);
}

HRESULT Module::RegisterClassObjects(DWORD context, DWORD flags) {
    CsLock guard(lock_);
    for (ClassEntry& entry : classes_) {
        if (entry.cookie) continue;
        ComPtr<IClassFactory> factory;
        RETURN_IF_FAILED(FactoryFor(entry, &factory));
        const HRESULT hr =
            ::CoRegisterClassObject(entry.clsid, factory.get(), context, flags, &entry.cookie);
        if (FAILED(hr)) {
            LOG_ERROR(L"CoRegisterClassObject failed: %#lx", hr);
            return hr;
        }
    }
    return S_OK;
}

void Module::RevokeClassObjects() noexcept {
    std::vector<ComPtr<IClassFactory>> released;
    {
        CsLock guard(lock_);
        for (ClassEntry& entry : classes_) {
            if (entry.cookie) ::CoRevokeClassObject(entry.cookie);
            entry.cookie = 0;
            released.push_back(std::move(entry.factory));
        }
    }
    // Factories (and singletons they hold) go outside the lock.
}

HRESULT Module::StartShutdownMonitor(DWORD main_thread_id, DWORD idle_ms, DWORD startup_ms) {
    RETURN_HR_IF(E_UNEXPECTED, monitor_ != nullptr);
    if (main_thread_id == ::GetCurrentThreadId()) {
        // PostThreadMessage needs the main thread's message queue; make sure it exists.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    }
    RETURN_IF_FAILED(locks_.CreateShutdownEvent());
    return ComBoundary([&]() -> HRESULT {
        monitor_ = std::make_unique<ShutdownMonitor>(
            locks_, [main_thread_id] { ::PostThreadMessageW(main_thread_id, WM_QUIT, 0, 0); },
            idle_ms, nullptr, startup_ms);
        return monitor_->Start();
    });
}

void Module::WaitUntilIdle(DWORD idle_ms) {
    // The same rules once more on this thread; the monitor closed its event when it ended.
    const HRESULT hr = locks_.CreateShutdownEvent();
    if (FAILED(hr)) {
        LOG_ERROR(L"module: no event to wait for the last object (%#lx)", hr);
        return;
    }
    ShutdownMonitor(locks_, nullptr, idle_ms, nullptr, idle_ms).Run();
}

void Module::AddTermFunc(std::function<void()> func) {
    CsLock guard(lock_);
    term_funcs_.push_back(std::move(func));
}

void Module::RunTermFuncs() noexcept {
    std::vector<std::function<void()>> funcs;
    {
        CsLock guard(lock_);
        funcs.swap(term_funcs_);
    }
    for (auto it = funcs.rbegin(); it != funcs.rend(); ++it) ComBoundary([&] { (*it)(); });
}

}  // namespace com

namespace com {

HRESULT Module::CanUnloadNow() noexcept {
    if (locks_.Count() != 0) return S_FALSE;
    std::vector<ComPtr<IClassFactory>> released;
    {
        CsLock guard(lock_);
        for (ClassEntry& entry : classes_) {
            if (!entry.cookie) released.push_back(std::move(entry.factory));
        }
    }
    released.clear();
    return locks_.Count() == 0 ? S_OK : S_FALSE;
}

}  // namespace com
