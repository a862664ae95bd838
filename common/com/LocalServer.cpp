#include "com/LocalServer.h"

#include "com/Log.h"

namespace com {

HRESULT RunLocalServer(const LocalServerTimes& times) {
    Module& module = Module::Get();
    HRESULT hr =
        module.StartShutdownMonitor(::GetCurrentThreadId(), times.idle_ms, times.startup_ms);
    if (FAILED(hr)) {
        // Without the monitor nothing would ever end the process.
        LOG_ERROR(L"shutdown monitor not started (%#lx)", hr);
        return hr;
    }
    hr = module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE);
    if (FAILED(hr)) LOG_ERROR(L"class objects not registered (%#lx)", hr);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);

    module.RevokeClassObjects();
    // A client that got a class object just before the revocation may still create objects:
    // serve them, and let calls on their way out finish.
    module.WaitUntilIdle(times.idle_ms);
    return hr;
}

}  // namespace com
