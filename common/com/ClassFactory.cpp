#include "com/ClassFactory.h"

#include "com/Log.h"

namespace com {

namespace {
volatile LONG g_server_locks = 0;  // LockServer(TRUE) calls not yet balanced
}

HRESULT ModuleLockServer(BOOL lock) noexcept {
    if (lock) {
        ::InterlockedIncrement(&g_server_locks);
        Module::Get().Lock();
        return S_OK;
    }
    // Only a lock that was taken can be given back.
    LONG current = g_server_locks;
    while (current > 0) {
        const LONG seen = ::InterlockedCompareExchange(&g_server_locks, current - 1, current);
        if (seen == current) {
            Module::Get().Unlock();
            return S_OK;
        }
        current = seen;
    }
    LOG_WARNING(L"LockServer(FALSE) without a matching LockServer(TRUE) ignored");
    return S_OK;
}

}  // namespace com
