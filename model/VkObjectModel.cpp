// VkObjectModel.dll: the object model's in-process server. Classes:
// ModelObject (the model's nodes), ChangeNotifier and the generic parameter
// class vkObjectParameter (from the parameter objects' vk_parameter), all
// apartment-threaded.
#include <windows.h>

#include "ChangeNotifier.h"
#include "ModelNode.h"
#include "com/ClassFactory.h"
#include "com/InprocServer.h"
#include "com/Module.h"
#include "resource.h"
#include "VkObjectParameter.h"

namespace {

const bool kClassesAdded =
    com::AddClassObject<com::ClassFactory<model::CModelNode>>(CLSID_ModelObject) &&
    com::AddClassObject<com::ClassFactory<model::CChangeNotifier>>(CLSID_ChangeNotifier) &&
    vk::RegisterObjectParameterClass();

const com::InprocServer kServer({IDR_MODELOBJECT, IDR_CHANGENOTIFIER, IDR_OBJECTPARAMETER});

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
