// The exported entry points of vkOPCInteraction.dll.
#include <windows.h>

#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"
#include "resource.h"

STDAPI DllCanUnloadNow() {
    return com::Module::Get().CanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return com::Module::Get().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() {
    return com::ComBoundary([]() -> HRESULT {
        const HMODULE module = com::Module::Get().handle();
        RETURN_IF_FAILED(com::RegisterModuleTypeLib(module));
        com::Registrar registrar;
        RETURN_IF_FAILED(registrar.AddModuleReplacement(module));
        return registrar.RegisterResource(module, IDR_OPCINTERACTION);
    });
}

STDAPI DllUnregisterServer() {
    return com::ComBoundary([]() -> HRESULT {
        const HMODULE module = com::Module::Get().handle();
        com::Registrar registrar;
        RETURN_IF_FAILED(registrar.AddModuleReplacement(module));
        const HRESULT hr = registrar.UnregisterResource(module, IDR_OPCINTERACTION);
        const HRESULT typeLib = com::UnregisterModuleTypeLib(module);
        return FAILED(hr) ? hr : typeLib;
    });
}
