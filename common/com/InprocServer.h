// com/InprocServer.h - what the exported entry points of an in-process server do, so that each
// DLL's own file only says which scripts, replacements and categories it registers.
//
//   const com::InprocServer kServer = com::InprocServer({IDR_MODELOBJECT, IDR_CHANGENOTIFIER});
//   COM_INPROC_SERVER_EXPORTS(kServer)
#pragma once

#include <windows.h>
#include <comcat.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "com/Module.h"

// DllMain, DllCanUnloadNow, DllGetClassObject (the classes added to com::Module), and
// DllRegisterServer / DllUnregisterServer through `server`, a com::InprocServer (or an
// expression giving one).
#define COM_INPROC_SERVER_EXPORTS(server)                                    \
    BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {          \
        return ::com::InprocDllMain(reason, reserved);                       \
    }                                                                        \
    STDAPI DllCanUnloadNow() { return ::com::Module::Get().CanUnloadNow(); } \
    STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {     \
        return ::com::Module::Get().GetClassObject(rclsid, riid, ppv);       \
    }                                                                        \
    STDAPI DllRegisterServer() { return (server).Register(); }               \
    STDAPI DllUnregisterServer() { return (server).Unregister(); }

namespace com {

class InprocServer {
public:
    // The module's "REGISTRY" resources, run in this order with %Module% and the replacements.
    explicit InprocServer(std::initializer_list<UINT> scripts) : scripts_(scripts) {}

    InprocServer& Replace(std::wstring name, std::wstring value);
    // clsid is also registered as implementing these component categories.
    InprocServer& ImplementsCategories(REFCLSID clsid, std::initializer_list<CATID> categories);

    // The scripts, the embedded type library (TYPELIB 1), then the categories; stops at the
    // first failure.
    HRESULT Register() const noexcept;
    // The same steps in reverse; every step runs (a half-registered module must still be
    // removable), the first failure is returned.
    HRESULT Unregister() const noexcept;

private:
    HRESULT RunScripts(bool do_register) const;

    std::vector<UINT> scripts_;
    std::vector<std::pair<std::wstring, std::wstring>> replacements_;
    std::vector<std::pair<CLSID, std::vector<CATID>>> categories_;
};

// DllMain: runs the module's termination functions when the DLL is unloaded while the process
// goes on (not at process exit, when other DLLs may already be gone).
BOOL InprocDllMain(DWORD reason, LPVOID reserved) noexcept;

}  // namespace com
