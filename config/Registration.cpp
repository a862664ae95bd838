#include "Registration.h"

#include "com/Registrar.h"
#include "com/Result.h"
#include "resource.h"

namespace {

void PrepareAppIdScript(com::Registrar* registrar) {
    registrar->AddReplacement(L"APP_ID", L"32E221D4-F5BD-11D4-9962-00105A3C305E");
    registrar->AddReplacement(L"APP_ID_NAME", L"OV_Config");
    registrar->AddReplacement(L"APP_ID_FILENAME", L"OV_Config.EXE");
}

}  // namespace

HRESULT RegisterProgram() {
    com::Registrar registrar;
    PrepareAppIdScript(&registrar);
    return registrar.RegisterResource(GetModuleHandleW(nullptr), IDR_OV_CONFIG_APPID);
}

HRESULT UnregisterProgram() {
    com::Registrar registrar;
    PrepareAppIdScript(&registrar);
    return registrar.UnregisterResource(GetModuleHandleW(nullptr), IDR_OV_CONFIG_APPID);
}
