#include "Registration.h"

#include "com/Registrar.h"
#include "resource.h"

namespace {

void PrepareAppIdScript(com::Registrar* registrar) {
    registrar->AddReplacement(L"APP_ID", L"01B2C575-8072-11D2-BCAD-006097B0AFB2");
    registrar->AddReplacement(L"APP_ID_NAME", L"OPC_Kirrow");
    registrar->AddReplacement(L"APP_ID_FILENAME", L"OPC_Kirrow.EXE");
}

}  // namespace

HRESULT RegisterProgram() {
    com::Registrar registrar;
    PrepareAppIdScript(&registrar);
    return registrar.RegisterResource(GetModuleHandleW(nullptr), IDR_KIRROW_APPID);
}

HRESULT UnregisterProgram() {
    com::Registrar registrar;
    PrepareAppIdScript(&registrar);
    return registrar.UnregisterResource(GetModuleHandleW(nullptr), IDR_KIRROW_APPID);
}
