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

COM_INPROC_SERVER_EXPORTS(kServer)
