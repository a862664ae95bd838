// com/Module.h - per-binary module state: the lock count, the class-object table, termination
// callbacks, DllCanUnloadNow / DllGetClassObject helpers, and for the EXE server the shutdown
// monitor that ends the process about a second after its last object is gone, or a few seconds
// after its start when no object ever came (com/LocalServer.h runs an EXE server on it).
//
// Each binary that links orvane_common has its own Module (the library is static).
//
//   DLL:  STDAPI DllCanUnloadNow() { return com::Module::Get().CanUnloadNow(); }
//         STDAPI DllGetClassObject(REFCLSID c, REFIID i, void** p)
//             { return com::Module::Get().GetClassObject(c, i, p); }
//   EXE:  com::RunLocalServer();  (com/LocalServer.h)
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "com/ComPtr.h"
#include "com/Sync.h"

namespace com {

// How an object counts in its module's lock count.
enum class ModuleLockPolicy {
    kPerObject,    // one lock while the object lives (every ordinary object)
    kNone,         // never (the EXE's registered class factories)
    kWhileShared,  // only while someone besides the module itself holds it (cached factories,
                   // singletons): so that DllCanUnloadNow stays honest
};

// Lock count with the lifetime rules of the EXE server: changed only by interlocked
// operations; each drop to zero sets the activity flag and signals the auto-reset shutdown
// event (when one exists).
class LockCount {
public:
    LockCount() noexcept = default;
    ~LockCount();
    LockCount(const LockCount&) = delete;
    LockCount& operator=(const LockCount&) = delete;

    LONG Lock() noexcept;
    LONG Unlock() noexcept;
    LONG Count() const noexcept;

    HRESULT CreateShutdownEvent() noexcept;
    // Closed under the same lock that Unlock signals under, so that a late Unlock never
    // signals a closed (possibly reused) handle.
    void CloseShutdownEvent() noexcept;
    HANDLE shutdown_event() const noexcept;

    bool activity() const noexcept { return activity_.load(); }
    void ClearActivity() noexcept { activity_.store(false); }

private:
    volatile LONG count_ = 0;
    std::atomic<bool> activity_{false};
    mutable CriticalSection event_lock_;  // guards event_
    HANDLE event_ = nullptr;
};

// Quiet time after the start that ends a process which never got an object. Longer than the
// idle time after the last object: under Wine a client asks for the class object of a server
// it launched only once a second, so the first creation may come a second after the start.
constexpr DWORD kStartupGraceMs = 3000;

// The monitor of the EXE server:
//   1. wait for the shutdown event: the first time up to startup_ms (the start counts as a drop
//      to zero, so that a process that never gets an object ends too), later without time-out;
//   2. clear the activity flag, wait up to idle_ms; repeat while the event comes in time;
//   3. after a timed-out wait with the flag still clear and the count 0: close the event, call
//      on_idle (post WM_QUIT) and end; otherwise back to 1.
// The wait is injectable so that the rules can be tested without real seconds.
class ShutdownMonitor {
public:
    using WaitFunction = std::function<DWORD(HANDLE event, DWORD timeout_ms)>;

    ShutdownMonitor(LockCount& count, std::function<void()> on_idle, DWORD idle_ms = 1000,
                    WaitFunction wait = nullptr, DWORD startup_ms = kStartupGraceMs);
    ~ShutdownMonitor();  // joins the thread
    ShutdownMonitor(const ShutdownMonitor&) = delete;
    ShutdownMonitor& operator=(const ShutdownMonitor&) = delete;

    // The monitor loop itself; returns after on_idle ran (or when the event is gone).
    void Run();
    // Runs Run() on its own thread.
    HRESULT Start();

private:
    LockCount& count_;
    std::function<void()> on_idle_;
    DWORD idle_ms_;
    DWORD startup_ms_;
    WaitFunction wait_;
    std::thread thread_;
};

class Module {
public:
    using FactoryCreator = HRESULT (*)(ModuleLockPolicy policy, IClassFactory** out);

    static Module& Get();

    // This binary (found from an address inside it, so a DLL gets its own handle).
    HMODULE handle() const noexcept { return handle_; }
    std::wstring path() const;
    bool is_exe() const noexcept { return handle_ == ::GetModuleHandleW(nullptr); }

    LockCount& locks() noexcept { return locks_; }
    LONG Lock() noexcept { return locks_.Lock(); }
    LONG Unlock() noexcept { return locks_.Unlock(); }
    LONG GetLockCount() const noexcept { return locks_.Count(); }

    // Class table (see com/ClassFactory.h: com::AddClassObject<Factory>(clsid)).
    bool AddClass(REFCLSID clsid, FactoryCreator create);
    // DllGetClassObject: CLASS_E_CLASSNOTAVAILABLE for an unknown CLSID.
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
    // DllCanUnloadNow: S_OK only while no object lives and no LockServer lock is held; then
    // the cached factories (and singletons) are released too.
    HRESULT CanUnloadNow() noexcept;
    // EXE: CoRegisterClassObject for every class (factories do not count in the lock count).
    HRESULT RegisterClassObjects(DWORD context, DWORD flags);
    void RevokeClassObjects() noexcept;

    // EXE: creates the shutdown event and starts the monitor that posts WM_QUIT to
    // main_thread_id once the module has been idle for idle_ms after its last object, or for
    // startup_ms after this call when no object came.
    HRESULT StartShutdownMonitor(DWORD main_thread_id, DWORD idle_ms = 1000,
                                 DWORD startup_ms = kStartupGraceMs);
    // EXE, after the monitor ended and the class objects are revoked: returns once no object
    // has lived for idle_ms (counted from this call when none lives), so that objects created
    // through a class object handed out before the revocation are still served.
    void WaitUntilIdle(DWORD idle_ms = 1000);

    // Called in reverse order of adding by RunTermFuncs (once; the EXE calls it before
    // CoUninitialize, a DLL at process detach).
    void AddTermFunc(std::function<void()> func);
    void RunTermFuncs() noexcept;

private:
    Module();
    ~Module();

    struct ClassEntry {
        CLSID clsid;
        FactoryCreator create;
        ComPtr<IClassFactory> factory;  // created on first use
        DWORD cookie = 0;               // CoRegisterClassObject
    };
    HRESULT FactoryFor(ClassEntry& entry, ComPtr<IClassFactory>* out);

    HMODULE handle_ = nullptr;
    com::LockCount locks_;
    mutable CriticalSection lock_;  // guards classes_, term_funcs_
    std::vector<ClassEntry> classes_;
    std::vector<std::function<void()>> term_funcs_;
    std::unique_ptr<ShutdownMonitor> monitor_;
};

}  // namespace com
