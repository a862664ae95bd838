// VkObjectModel.dll: the object model's in-process server. Classes:
// ModelObject (the model's nodes), ChangeNotifier and the generic parameter
// class vkObjectParameter (from the parameter objects' vk_parameter), all
// apartment-threaded.
#include <windows.h>

#include "ChangeNotifier.h"
#include "ModelNode.h"
#include "com/ClassFactory.h"
#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"
#include "resource.h"
#include "vk_object_parameter.h"

namespace {

const bool kClassesAdded =
    com::AddClassObject<com::ClassFactory<model::CModelNode>>(CLSID_ModelObject) &&
    com::AddClassObject<com::ClassFactory<model::CChangeNotifier>>(CLSID_ChangeNotifier) &&
    vk::RegisterObjectParameterClass();

HRESULT RunScripts(bool do_register) {
    HMODULE module = com::Module::Get().handle();
    com::Registrar registrar;
    RETURN_IF_FAILED(registrar.AddModuleReplacement(module));
    for (UINT id : {IDR_MODELOBJECT, IDR_CHANGENOTIFIER, IDR_OBJECTPARAMETER}) {
        RETURN_IF_FAILED(do_register ? registrar.RegisterResource(module, id)
                                     : registrar.UnregisterResource(module, id));
    }
    return S_OK;
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
        RETURN_IF_FAILED(RunScripts(true));
        return com::RegisterModuleTypeLib(com::Module::Get().handle());
    });
}

STDAPI DllUnregisterServer() {
    return com::ComBoundary([]() -> HRESULT {
        const HRESULT scripts = RunScripts(false);
        const HRESULT typelib = com::UnregisterModuleTypeLib(com::Module::Get().handle());
        return FAILED(scripts) ? scripts : typelib;
    });
}
