// Orvane.exe: out-of-process OPC DA 2.0 server "Axolent.Orvane".
#include <windows.h>
#include <objbase.h>

#include "CommandLine.h"
#include "OPCOrvane.h"
#include "Registration.h"
#include "ServerStartup.h"
#include "com/ClassFactory.h"
#include "com/ComInit.h"
#include "com/Log.h"
#include "com/Module.h"

namespace {

const bool kClassAdded = com::AddClassObject<com::ClassFactory<OPCOrvane>>(CLSID_OPCOrvane);

HRESULT RunRegistration(RegistrationAction action) {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) return com.hr();
    const HRESULT hr =
        action == RegistrationAction::Register ? RegisterServer() : UnregisterServer();
    if (FAILED(hr))
        LOG_ERROR(L"Orvane: %ls failed with %#lx",
                  action == RegistrationAction::Register ? L"RegServer" : L"UnregServer", hr);
    return hr;
}

void RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

int RunServer() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) return static_cast<int>(com.hr());
    com::Module& module = com::Module::Get();
    const DWORD mainThread = GetCurrentThreadId();
    HRESULT hr = module.StartShutdownMonitor(mainThread);
    if (FAILED(hr)) LOG_ERROR(L"Orvane: shutdown monitor not started (%#lx)", hr);

    // Security before the first interface is marshalled (registering the class
    // object marshals the factory); COM refuses it later with RPC_E_TOO_LATE.
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                              RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr)) LOG_WARNING(L"Orvane: CoInitializeSecurity failed with %#lx", hr);
    InitServerStartup();
    hr = module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE);
    if (FAILED(hr)) LOG_ERROR(L"Orvane: CoRegisterClassObject failed with %#lx", hr);

    RunMessageLoop();
    module.RevokeClassObjects();
    // A client that got the class object before the revocation may still
    // create objects: serve them until the process has been idle for a second
    // (which also lets calls on their way out finish).
    do {
        while (module.GetLockCount() > 0) Sleep(100);
        Sleep(1000);
    } while (module.GetLockCount() > 0);
    module.RunTermFuncs();
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const RegistrationAction action = ParseRegistrationSwitch(GetCommandLineW());
    if (action != RegistrationAction::None) return static_cast<int>(RunRegistration(action));
    return RunServer();
}
