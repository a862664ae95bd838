// The exported entry points of vkOPCInteraction.dll.
#include <windows.h>

#include "com/InprocServer.h"
#include "com/Module.h"
#include "resource.h"

namespace {

const com::InprocServer kServer({IDR_OPCINTERACTION});

}  // namespace

COM_INPROC_SERVER_EXPORTS(kServer)
