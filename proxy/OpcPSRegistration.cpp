// Self-registration of OrvaneOpcPS.dll.
//
// The standard OPC interfaces belong to whoever installed the OPC Core
// Components: where an interface already names a proxy/stub, it stays
// untouched. Every key and value this DLL adds is recorded in a marker value
// on the interface key, so that unregistration removes exactly those and
// never a proxy registration that another product relies on.
// C layout of the interfaces: rpcproxy.h describes vtables as C structs.
#define CINTERFACE
#include <windows.h>
#include <objbase.h>
#include <rpcproxy.h>

#include <string>

#include "com/RegKey.h"
#include "com/Result.h"

extern "C" const ProxyFileInfo* aProxyFileList[];
extern "C" const CLSID CLSID_PSFactoryBuffer;

namespace {

// Marker value on HKCR\Interface\{IID}: the bits say what this DLL created there.
constexpr wchar_t kMarkerName[] = L"OrvaneOpcPS";
enum : DWORD {
    kCreatedKey = 1,         // the interface key itself, with its name
    kOwnsProxyStub = 2,      // ProxyStubClsid32
    kCreatedNumMethods = 4,  // NumMethods
};

std::wstring GuidString(REFGUID guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

std::wstring InterfacePath(REFIID iid) { return L"Interface\\" + GuidString(iid); }
std::wstring ClsidPath() { return L"CLSID\\" + GuidString(CLSID_PSFactoryBuffer); }

// The default value of HKCR\<path>; false if the key or the value is missing.
bool ReadDefault(const std::wstring& path, std::wstring* value) {
    com::RegKey key;
    return key.Open(HKEY_CLASSES_ROOT, path) == ERROR_SUCCESS &&
           key.ReadString(nullptr, value) == ERROR_SUCCESS;
}

DWORD ReadMarker(const com::RegKey& key) {
    DWORD marker = 0;
    key.ReadDword(kMarkerName, &marker);
    return marker;
}

std::wstring ModulePath() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ModulePath), &module);
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring Widen(const char* text) {
    std::wstring result;
    for (; *text; ++text) result += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return result;
}

HRESULT RegisterProxyClass() {
    com::RegKey clsid;
    RETURN_IF_WIN32_ERROR(clsid.Create(HKEY_CLASSES_ROOT, ClsidPath()));
    RETURN_IF_WIN32_ERROR(clsid.WriteString(nullptr, L"PSFactoryBuffer"));
    com::RegKey server;
    RETURN_IF_WIN32_ERROR(server.Create(clsid.get(), L"InprocServer32"));
    RETURN_IF_WIN32_ERROR(server.WriteString(nullptr, ModulePath()));
    RETURN_IF_WIN32_ERROR(server.WriteString(L"ThreadingModel", L"Both"));
    return S_OK;
}

HRESULT RegisterInterface(REFIID iid, const char* name, ULONG methodCount) {
    const std::wstring path = InterfacePath(iid);
    const std::wstring clsid = GuidString(CLSID_PSFactoryBuffer);
    std::wstring current;
    if (ReadDefault(path + L"\\ProxyStubClsid32", &current) &&
        _wcsicmp(current.c_str(), clsid.c_str()) != 0)
        return S_OK;  // another proxy/stub serves this interface

    bool created = false;
    com::RegKey key;
    RETURN_IF_WIN32_ERROR(key.Create(HKEY_CLASSES_ROOT, path, KEY_READ | KEY_WRITE, &created));
    DWORD marker = ReadMarker(key) | kOwnsProxyStub;
    if (created) marker |= kCreatedKey;
    // Record ownership first: an interrupted registration is still undone completely.
    RETURN_IF_WIN32_ERROR(key.WriteDword(kMarkerName, marker));
    if (marker & kCreatedKey) RETURN_IF_WIN32_ERROR(key.WriteString(nullptr, Widen(name)));

    com::RegKey proxyStub;
    RETURN_IF_WIN32_ERROR(proxyStub.Create(key.get(), L"ProxyStubClsid32"));
    RETURN_IF_WIN32_ERROR(proxyStub.WriteString(nullptr, clsid));

    bool numMethodsCreated = false;
    com::RegKey numMethods;
    RETURN_IF_WIN32_ERROR(
        numMethods.Create(key.get(), L"NumMethods", KEY_READ | KEY_WRITE, &numMethodsCreated));
    if (numMethodsCreated) marker |= kCreatedNumMethods;
    if (marker & kCreatedNumMethods)
        RETURN_IF_WIN32_ERROR(numMethods.WriteString(nullptr, std::to_wstring(methodCount)));
    RETURN_IF_WIN32_ERROR(key.WriteDword(kMarkerName, marker));
    return S_OK;
}

HRESULT UnregisterInterface(REFIID iid) {
    const std::wstring path = InterfacePath(iid);
    com::RegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, path, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) return S_OK;
    const DWORD marker = ReadMarker(key);
    if (!marker) return S_OK;  // not ours

    std::wstring current;
    if ((marker & kOwnsProxyStub) && ReadDefault(path + L"\\ProxyStubClsid32", &current) &&
        _wcsicmp(current.c_str(), GuidString(CLSID_PSFactoryBuffer).c_str()) == 0)
        RegDeleteKeyW(key.get(), L"ProxyStubClsid32");
    if (marker & kCreatedNumMethods) RegDeleteKeyW(key.get(), L"NumMethods");
    if (marker & kCreatedKey) RegDeleteValueW(key.get(), nullptr);
    RegDeleteValueW(key.get(), kMarkerName);

    DWORD subKeys = 0, values = 0;
    RETURN_IF_WIN32_ERROR(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr,
                                           nullptr, &values, nullptr, nullptr, nullptr, nullptr));
    key.reset();
    if (subKeys == 0 && values == 0) RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    return S_OK;
}

// Calls f(iid, name, method count) for every interface of the proxy file list.
template <class F>
HRESULT ForEachInterface(F&& f) {
    for (const ProxyFileInfo* const* file = aProxyFileList; *file; ++file) {
        for (unsigned short i = 0; i < (*file)->TableSize; ++i) {
            const CInterfaceStubHeader& header = (*file)->pStubVtblList[i]->header;
            const HRESULT hr = f(*header.piid, (*file)->pNamesArray[i], header.DispatchTableCount);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

}  // namespace

extern "C" HRESULT WINAPI DllRegisterServer() {
    const HRESULT hr = RegisterProxyClass();
    if (FAILED(hr)) return hr;
    return ForEachInterface(RegisterInterface);
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    const HRESULT hr =
        ForEachInterface([](REFIID iid, const char*, ULONG) { return UnregisterInterface(iid); });
    if (FAILED(hr)) return hr;
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClsidPath().c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : com::Win32Hr(status);
}
