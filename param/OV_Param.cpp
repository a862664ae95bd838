// OV_Param.dll: the in-process server of the parameter nodes (class
// OV_Parameter, apartment-threaded, aggregatable).
#include <windows.h>

#include "com/ClassFactory.h"
#include "com/InprocServer.h"
#include "com/Module.h"
#include "OV_Parameter.h"
#include "resource.h"

namespace {

// The category under which the object model finds parameter classes.
constexpr CATID kCatidParameterClasses = {
    0xAA3DF0E0, 0x806C, 0x11D3, {0xBD, 0x83, 0x00, 0x10, 0x5A, 0x31, 0x85, 0xC3}};

const bool kClassesAdded =
    com::AddClassObject<com::ClassFactory<ov::COV_Parameter>>(CLSID_OV_Parameter);

const com::InprocServer kServer =
    com::InprocServer({IDR_OV_PARAMETER})
        .ImplementsCategories(CLSID_OV_Parameter, {kCatidParameterClasses});

}  // namespace

COM_INPROC_SERVER_EXPORTS(kServer)
