// The exported entry points of vkOPCInteraction.dll.
#include <windows.h>

#include "com/InprocServer.h"
#include "com/Module.h"
#include "resource.h"

namespace {

const com::InprocServer kServer({IDR_OPCINTERACTION});

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    return com::InprocDllMain(reason, reserved);
}

STDAPI DllCanUnloadNow() { return com::Module::Get().CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return com::Module::Get().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() { return kServer.Register(); }

STDAPI DllUnregisterServer() { return kServer.Unregister(); }
