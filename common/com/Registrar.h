// com/Registrar.h - self-registration: registry scripts in the COM registrar's syntax, component
// categories and the module's type library.
//
//   com::Registrar registrar;
//   registrar.AddReplacement(L"SERVER_PROGID", L"Axolent.Orvane");
//   registrar.AddModuleReplacement();                 // %Module%
//   RETURN_IF_FAILED(registrar.RegisterResource(module, 101));
//
// Script syntax (keys may nest; names bare or 'quoted', '' inside quotes is one apostrophe):
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {%SERVER_CLSID%} = s '%SERVER_CLASS_NAME%'
//           {
//               LocalServer32 = s '%Module%'
//               val AppID = s '{%APP_ID%}'
//               val Flags = d 123
//           }
//       }
//   }
// Roots: HKCR HKCU HKLM HKU (and their HKEY_... names). Values: s (string), e (expandable
// string), d (DWORD, decimal or 0x hex), b (hex bytes); a bare 'text' is a string.
// %NAME% is replaced before parsing ("%%" is one "%"); an unknown name is an error.
// Register: a key is created (ForceRemove deletes it with its subtree first; Delete deletes it
// and skips its body). Unregister: NoRemove keys stay, ForceRemove keys go with their subtree,
// other keys go once they have no subkeys left; listed values are deleted; missing keys are
// fine. The whole script is parsed before the registry is touched, so a script with an error
// changes nothing.
#pragma once

#include <windows.h>
#include <comcat.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace com {

// One parsed key of a script (exposed for tests).
struct RegValue {
    enum class Type { kNone, kString, kExpandString, kDword, kBinary };
    Type type = Type::kNone;
    std::wstring text;        // kString, kExpandString
    DWORD number = 0;         // kDword
    std::vector<BYTE> bytes;  // kBinary
};
struct RegKeyNode {
    enum class Flag { kNormal, kNoRemove, kForceRemove, kDelete };
    Flag flag = Flag::kNormal;
    std::wstring name;
    RegValue default_value;                                 // type kNone: not set
    std::vector<std::pair<std::wstring, RegValue>> values;  // "val Name = ..."
    std::vector<RegKeyNode> subkeys;
};
struct RegRootNode {
    HKEY root = nullptr;
    std::vector<RegKeyNode> keys;
};

// Pure steps (no registry access).
HRESULT ExpandScript(const std::wstring& text,
                     const std::map<std::wstring, std::wstring>& replacements, std::wstring* out,
                     std::wstring* error = nullptr);
HRESULT ParseScript(const std::wstring& text, std::vector<RegRootNode>* out,
                    std::wstring* error = nullptr);

class Registrar {
public:
    // Names are compared case-insensitively, as the COM registrar does.
    void AddReplacement(const std::wstring& name, const std::wstring& value);
    // "Module": the module's short (8.3) path, or the long one when there is none, with every
    // apostrophe doubled for use inside '...'.
    HRESULT AddModuleReplacement(HMODULE module = nullptr, const std::wstring& name = L"Module");

    HRESULT RegisterScript(const std::wstring& script);
    HRESULT UnregisterScript(const std::wstring& script);
    // A script stored as resource id of type "REGISTRY" (UTF-8/ANSI or UTF-16 text).
    HRESULT RegisterResource(HMODULE module, UINT id, const wchar_t* type = L"REGISTRY");
    HRESULT UnregisterResource(HMODULE module, UINT id, const wchar_t* type = L"REGISTRY");

    // Why the last call failed (parse position, unknown replacement, registry error).
    const std::wstring& last_error() const { return last_error_; }

private:
    HRESULT Run(const std::wstring& script, bool do_register);
    HRESULT LoadResource(HMODULE module, UINT id, const wchar_t* type, std::wstring* out);

    std::map<std::wstring, std::wstring> replacements_;  // keys upper-cased
    std::wstring last_error_;
};

// The module's path for a registry script (see AddModuleReplacement).
HRESULT ModulePathForScript(HMODULE module, std::wstring* out);

// Component categories through the standard component-categories manager (ICatRegister).
struct CategoryInfo {
    CATID id;
    const wchar_t* description;
    LCID lcid = 0x409;
};
HRESULT RegisterCategories(std::initializer_list<CategoryInfo> categories);
HRESULT RegisterImplCategories(REFCLSID clsid, std::initializer_list<CATID> categories);
HRESULT UnregisterImplCategories(REFCLSID clsid, std::initializer_list<CATID> categories);
HRESULT RegisterImplCategories(REFCLSID clsid, const std::vector<CATID>& categories);
HRESULT UnregisterImplCategories(REFCLSID clsid, const std::vector<CATID>& categories);

// The type library embedded as resource TYPELIB index (LoadTypeLibEx(REGKIND_NONE) +
// RegisterTypeLib / UnRegisterTypeLib).
HRESULT RegisterModuleTypeLib(HMODULE module = nullptr, UINT index = 1);
HRESULT UnregisterModuleTypeLib(HMODULE module = nullptr, UINT index = 1);

}  // namespace com
