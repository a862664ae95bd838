// The exported entry points of vkOPCInteraction.dll.
#include <windows.h>

#include <string>

#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"
#include "resource.h"

namespace {

constexpr wchar_t kNeutralTypeLibKey[] =
    L"TypeLib\\{96F66988-F0A2-11D2-BD0E-006097B0AFB2}\\1.0\\0";

// The type library is German (lcid 1031), so RegisterTypeLib files it under
// "407"; Wine's type-library marshaler looks only under the neutral "0".
HRESULT RegisterNeutralTypeLibPath(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    HKEY key = nullptr;
    const std::wstring name = std::wstring(kNeutralTypeLibKey) + L"\\win64";
    LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                 nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(error);
    error = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                           (length + 1) * sizeof(wchar_t));
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(error);
}

void UnregisterNeutralTypeLibPath() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kNeutralTypeLibKey);
}

}  // namespace

STDAPI DllCanUnloadNow() {
    return com::Module::Get().CanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return com::Module::Get().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() {
    return com::ComBoundary([]() -> HRESULT {
        const HMODULE module = com::Module::Get().handle();
        RETURN_IF_FAILED(com::RegisterModuleTypeLib(module));
        RETURN_IF_FAILED(RegisterNeutralTypeLibPath(module));
        com::Registrar registrar;
        RETURN_IF_FAILED(registrar.AddModuleReplacement(module));
        return registrar.RegisterResource(module, IDR_OPCINTERACTION);
    });
}

STDAPI DllUnregisterServer() {
    return com::ComBoundary([]() -> HRESULT {
        const HMODULE module = com::Module::Get().handle();
        com::Registrar registrar;
        RETURN_IF_FAILED(registrar.AddModuleReplacement(module));
        const HRESULT hr = registrar.UnregisterResource(module, IDR_OPCINTERACTION);
        UnregisterNeutralTypeLibPath();
        const HRESULT typeLib = com::UnregisterModuleTypeLib(module);
        return FAILED(hr) ? hr : typeLib;
    });
}
