// The exports of a test DLL that stands in for a component: its class objects from
// com::Module, and registration by the one registry script it carries (resource `script`,
// type "REGISTRY", with %Module%). Its type library, if any, is left alone: the real
// component owns that registration.
//
//   TEST_DLL_EXPORTS(101)
#pragma once

#include <windows.h>

#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"

namespace test_support {

inline HRESULT RunModuleScript(UINT script, bool doRegister) {
    const HMODULE module = com::Module::Get().handle();
    com::Registrar registrar;
    RETURN_IF_FAILED(registrar.AddModuleReplacement(module));
    return doRegister ? registrar.RegisterResource(module, script)
                      : registrar.UnregisterResource(module, script);
}

}  // namespace test_support

#define TEST_DLL_EXPORTS(script)                                                           \
    STDAPI DllCanUnloadNow() { return ::com::Module::Get().CanUnloadNow(); }               \
    STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {                   \
        return ::com::Module::Get().GetClassObject(rclsid, riid, ppv);                     \
    }                                                                                      \
    STDAPI DllRegisterServer() { return ::test_support::RunModuleScript((script), true); } \
    STDAPI DllUnregisterServer() { return ::test_support::RunModuleScript((script), false); }
