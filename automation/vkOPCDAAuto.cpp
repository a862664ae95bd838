// vkOPCDAAuto.dll: the OPC Automation 2.0 wrapper. Its one creatable class, OPCServer, has no
// threading model, so its objects live in the process's main single-threaded apartment and the
// OPC server's callbacks arrive there too; callers in other apartments get proxies through the
// registered type library.
#include <windows.h>

#include "OPCAutoServer.h"
#include "com/ClassFactory.h"
#include "com/InprocServer.h"
#include "com/Module.h"
#include "resource.h"

namespace {

const bool kClassesAdded =
    com::AddClassObject<com::ClassFactory<vkauto::COPCAutoServer>>(CLSID_OPCServer);

const com::InprocServer kServer = com::InprocServer({IDR_OPCAUTOSERVER});

}  // namespace

COM_INPROC_SERVER_EXPORTS(kServer)
