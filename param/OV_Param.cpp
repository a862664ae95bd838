// OV_Param.dll: the in-process server of the parameter nodes (class
// OV_Parameter, apartment-threaded, aggregatable).
#include <windows.h>

#include "com/ClassFactory.h"
#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"
#include "ov_parameter.h"
#include "resource.h"

namespace {

// The category under which the object model finds parameter classes.
constexpr CATID kCatidParameterClasses = {
    0xAA3DF0E0, 0x806C, 0x11D3, {0xBD, 0x83, 0x00, 0x10, 0x5A, 0x31, 0x85, 0xC3}};

const bool kClassesAdded = com::AddClassObject<com::ClassFactory<ov::COV_Parameter>>(CLSID_OV_Parameter);

HRESULT RunScript(bool do_register) {
    HMODULE module = com::Module::Get().handle();
    com::Registrar registrar;
    RETURN_IF_FAILED(registrar.AddModuleReplacement(module));
    return do_register ? registrar.RegisterResource(module, IDR_OV_PARAMETER)
                       : registrar.UnregisterResource(module, IDR_OV_PARAMETER);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // At process exit (reserved != null) other DLLs may already be gone.
    if (reason == DLL_PROCESS_DETACH && !reserved) com::Module::Get().RunTermFuncs();
    return TRUE;
}

STDAPI DllCanUnloadNow() { return com::Module::Get().CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return com::Module::Get().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() {
    return com::ComBoundary([]() -> HRESULT {
        RETURN_IF_FAILED(RunScript(true));
        RETURN_IF_FAILED(com::RegisterModuleTypeLib(com::Module::Get().handle()));
        return com::RegisterImplCategories(CLSID_OV_Parameter, {kCatidParameterClasses});
    });
}

STDAPI DllUnregisterServer() {
    return com::ComBoundary([]() -> HRESULT {
        // Every step runs; the first failure is reported.
        const HRESULT categories = com::UnregisterImplCategories(CLSID_OV_Parameter, {kCatidParameterClasses});
        const HRESULT typelib = com::UnregisterModuleTypeLib(com::Module::Get().handle());
        const HRESULT script = RunScript(false);
        for (HRESULT hr : {categories, typelib, script})
            if (FAILED(hr)) return hr;
        return S_OK;
    });
}
