// Orvane.exe: out-of-process OPC DA 2.0 server "Axolent.Orvane".
#include <windows.h>
#include <objbase.h>

#include "CommandLine.h"
#include "OPCOrvane.h"
#include "Registration.h"
#include "ServerStartup.h"
#include "com/ClassFactory.h"
#include "com/ComInit.h"
#include "com/LocalServer.h"
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

int RunServer() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) return static_cast<int>(com.hr());
    // Security before the first interface is marshalled (registering the class
    // object marshals the factory); COM refuses it later with RPC_E_TOO_LATE.
    HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                      RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr)) LOG_WARNING(L"Orvane: CoInitializeSecurity failed with %#lx", hr);
    InitServerStartup();
    // A failed class registration is logged there; the process then ends on its own.
    com::RunLocalServer();
    com::Module::Get().RunTermFuncs();
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const RegistrationAction action = ParseRegistrationSwitch(GetCommandLineW());
    if (action != RegistrationAction::None) return static_cast<int>(RunRegistration(action));
    return RunServer();
}
