// The exported entry points of OV_Interaction.dll.
#include <windows.h>

#include "com/InprocServer.h"
#include "com/Module.h"
#include "com/Strings.h"
#include "ov_interaction.h"
#include "resource.h"

namespace {

const com::InprocServer& Server() {
    static const com::InprocServer server = [] {
        com::InprocServer s({IDR_ORVANEINTERACTION});
        s.Replace(L"INTERACT_PROGID", L"Orvane.OrvaneInteraction")
            .Replace(L"INTERACT_CLASS_NAME", L"OrvaneInteraction Class")
            .Replace(L"INTERACT_CLSID", com::GuidToString(CLSID_OrvaneInteraction))
            .Replace(L"TYPELIB", com::GuidToString(LIBID_OV_INTERACTIONLib));
        return s;
    }();
    return server;
}

}  // namespace

COM_INPROC_SERVER_EXPORTS(Server())
