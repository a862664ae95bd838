// The exported entry points of OV_Interaction.dll.
#include <windows.h>

#include <string>

#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "ov_interaction.h"
#include "resource.h"

namespace {

HRESULT AddReplacements(com::Registrar& registrar, HMODULE module)
{
    registrar.AddReplacement(L"INTERACT_PROGID", L"Orvane.OrvaneInteraction");
    registrar.AddReplacement(L"INTERACT_CLASS_NAME", L"OrvaneInteraction Class");
    registrar.AddReplacement(L"INTERACT_CLSID", com::GuidToString(CLSID_OrvaneInteraction));
    registrar.AddReplacement(L"TYPELIB", com::GuidToString(LIBID_OV_INTERACTIONLib));
    return registrar.AddModuleReplacement(module);
}

}  // namespace

STDAPI DllCanUnloadNow()
{
    return com::Module::Get().CanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return com::Module::Get().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    return com::ComBoundary([]() -> HRESULT {
        const HMODULE module = com::Module::Get().handle();
        RETURN_IF_FAILED(com::RegisterModuleTypeLib(module));
        com::Registrar registrar;
        RETURN_IF_FAILED(AddReplacements(registrar, module));
        return registrar.RegisterResource(module, IDR_ORVANEINTERACTION);
    });
}

STDAPI DllUnregisterServer()
{
    return com::ComBoundary([]() -> HRESULT {
        const HMODULE module = com::Module::Get().handle();
        com::Registrar registrar;
        RETURN_IF_FAILED(AddReplacements(registrar, module));
        const HRESULT hr = registrar.UnregisterResource(module, IDR_ORVANEINTERACTION);
        const HRESULT typeLib = com::UnregisterModuleTypeLib(module);
        return FAILED(hr) ? hr : typeLib;
    });
}
