#include "com/InprocServer.h"

#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"

namespace com {

InprocServer& InprocServer::Replace(std::wstring name, std::wstring value) {
    replacements_.emplace_back(std::move(name), std::move(value));
    return *this;
}

InprocServer& InprocServer::ImplementsCategories(REFCLSID clsid,
                                                 std::initializer_list<CATID> categories) {
    categories_.emplace_back(clsid, std::vector<CATID>(categories));
    return *this;
}

HRESULT InprocServer::RunScripts(bool do_register) const {
    const HMODULE module = Module::Get().handle();
    Registrar registrar;
    for (const auto& [name, value] : replacements_) registrar.AddReplacement(name, value);
    RETURN_IF_FAILED(registrar.AddModuleReplacement(module));
    HRESULT first = S_OK;
    for (UINT id : scripts_) {
        const HRESULT hr = do_register ? registrar.RegisterResource(module, id)
                                       : registrar.UnregisterResource(module, id);
        if (do_register) RETURN_IF_FAILED(hr);
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
}

HRESULT InprocServer::Register() const noexcept {
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_FAILED(RunScripts(true));
        RETURN_IF_FAILED(RegisterModuleTypeLib(Module::Get().handle()));
        for (const auto& [clsid, categories] : categories_)
            RETURN_IF_FAILED(RegisterImplCategories(clsid, categories));
        return S_OK;
    });
}

HRESULT InprocServer::Unregister() const noexcept {
    return ComBoundary([&]() -> HRESULT {
        HRESULT first = S_OK;
        auto keep_first = [&first](HRESULT hr) {
            if (FAILED(hr) && SUCCEEDED(first)) first = hr;
        };
        for (auto it = categories_.rbegin(); it != categories_.rend(); ++it)
            keep_first(UnregisterImplCategories(it->first, it->second));
        keep_first(UnregisterModuleTypeLib(Module::Get().handle()));
        keep_first(RunScripts(false));
        return first;
    });
}

BOOL InprocDllMain(DWORD reason, LPVOID reserved) noexcept {
    if (reason == DLL_PROCESS_DETACH && !reserved) Module::Get().RunTermFuncs();
    return TRUE;
}

}  // namespace com
