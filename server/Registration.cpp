#include "Registration.h"

#include <comcat.h>

#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"
#include "resource.h"

namespace {

constexpr wchar_t kAppId[] = L"CA99FEF2-FB7A-11d4-A85E-0060087AB05A";

// OPC DA 2.0, bus server 1.0, bus server PROFIBUS-DP, in this order.
constexpr CATID kCategoryOpcDa20 = {
    0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
constexpr CATID kCategoryBusServer10 = {
    0x276BC1C1, 0x0BC1, 0x11D4, {0xA7, 0x8F, 0x52, 0x54, 0x05, 0xF5, 0xB2, 0xCF}};
constexpr CATID kCategoryProfibusDp = {
    0x3CF19FF3, 0x907B, 0x11D4, {0xB4, 0xA7, 0x00, 0x50, 0xDA, 0x3F, 0x12, 0x1C}};

constexpr CLSID kClsidOPCOrvane = {
    0xCA99FEF3, 0xFB7A, 0x11D4, {0xA8, 0x5E, 0x00, 0x60, 0x08, 0x7A, 0xB0, 0x5A}};

// The libraries of the program: ORVANELib (1) and the internal VKOPCLib (2).
constexpr UINT kTypeLibs[] = {1, 2};

HRESULT PrepareAppIdScript(com::Registrar* registrar) {
    registrar->AddReplacement(L"APP_ID", kAppId);
    registrar->AddReplacement(L"APP_ID_NAME", L"Orvane");
    registrar->AddReplacement(L"APP_ID_FILENAME", L"Orvane.EXE");
    return S_OK;
}

HRESULT PrepareClassScript(com::Registrar* registrar) {
    registrar->AddReplacement(L"APP_ID", kAppId);
    registrar->AddReplacement(L"SERVER_PROGID", L"Axolent.Orvane");
    registrar->AddReplacement(L"SERVER_CLASS_NAME", L"OPCOrvane Class");
    registrar->AddReplacement(L"SERVER_CLSID", L"CA99FEF3-FB7A-11d4-A85E-0060087AB05A");
    registrar->AddReplacement(L"TYPELIB", L"CA99FEF1-FB7A-11d4-A85E-0060087AB05A");
    registrar->AddReplacement(L"VENDOR_NAME", L"Axolent");
    return registrar->AddModuleReplacement(com::Module::Get().handle());
}

HRESULT UnregisterCategories() {
    return com::UnregisterImplCategories(
        kClsidOPCOrvane, {kCategoryOpcDa20, kCategoryBusServer10, kCategoryProfibusDp});
}

}  // namespace

HRESULT RegisterServer() {
    const HMODULE module = com::Module::Get().handle();
    {
        com::Registrar registrar;
        RETURN_IF_FAILED(PrepareAppIdScript(&registrar));
        RETURN_IF_FAILED(registrar.RegisterResource(module, IDR_ORVANE_APPID));
    }
    {
        com::Registrar registrar;
        RETURN_IF_FAILED(PrepareClassScript(&registrar));
        RETURN_IF_FAILED(registrar.RegisterResource(module, IDR_OPCORVANE));
        RETURN_IF_FAILED(com::RegisterImplCategories(
            kClsidOPCOrvane, {kCategoryOpcDa20, kCategoryBusServer10, kCategoryProfibusDp}));
    }
    for (UINT index : kTypeLibs) RETURN_IF_FAILED(com::RegisterModuleTypeLib(module, index));
    return S_OK;
}

HRESULT UnregisterServer() {
    const HMODULE module = com::Module::Get().handle();
    {
        com::Registrar registrar;
        RETURN_IF_FAILED(PrepareAppIdScript(&registrar));
        RETURN_IF_FAILED(registrar.UnregisterResource(module, IDR_ORVANE_APPID));
    }
    {
        com::Registrar registrar;
        RETURN_IF_FAILED(PrepareClassScript(&registrar));
        RETURN_IF_FAILED(UnregisterCategories());
        RETURN_IF_FAILED(registrar.UnregisterResource(module, IDR_OPCORVANE));
        // Clean-up only: the class key is gone already, and with it what a
        // failure here could report.
        UnregisterCategories();
    }
    for (UINT index : kTypeLibs) RETURN_IF_FAILED(com::UnregisterModuleTypeLib(module, index));
    return S_OK;
}
