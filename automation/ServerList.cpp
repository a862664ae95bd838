#include "ServerList.h"

#include <objbase.h>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "com/Variant.h"
#include "opc.h"

namespace vkauto {
namespace {

// OpcEnum's class; it is not part of the published DA interfaces' library.
constexpr CLSID kClsidOpcServerList = {
    0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};

std::wstring ComputerName(COMPUTER_NAME_FORMAT format) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH * 4 + 1] = {};
    DWORD size = ARRAYSIZE(name);
    if (!::GetComputerNameExW(format, name, &size)) return std::wstring();
    return std::wstring(name, size);
}

// Without the leading "\\" a UNC-style node name may carry.
std::wstring_view BareNode(std::wstring_view node) {
    while (!node.empty() && node.front() == L'\\') node.remove_prefix(1);
    return node;
}

HRESULT CreateServerList(const std::wstring& node, IOPCServerList** list) {
    *list = nullptr;
    COSERVERINFO info = {};
    std::wstring host(BareNode(node));
    info.pwszName = host.data();
    MULTI_QI query = {&__uuidof(IOPCServerList), nullptr, S_OK};
    const bool remote = !IsLocalNode(node);
    RETURN_IF_FAILED(::CoCreateInstanceEx(kClsidOpcServerList, nullptr,
                                          remote ? CLSCTX_REMOTE_SERVER : CLSCTX_ALL,
                                          remote ? &info : nullptr, 1, &query));
    RETURN_IF_FAILED(query.hr);
    *list = static_cast<IOPCServerList*>(query.pItf);
    return S_OK;
}

}  // namespace

std::wstring NodeArgument(const VARIANT& vNode) {
    const VARIANT* value = &vNode;
    if (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value)) value = V_VARIANTREF(value);
    if (V_VT(value) == VT_BSTR) return std::wstring(com::BstrView(V_BSTR(value)));
    if (V_VT(value) == (VT_BYREF | VT_BSTR) && V_BSTRREF(value))
        return std::wstring(com::BstrView(*V_BSTRREF(value)));
    return std::wstring();
}

bool IsLocalNode(std::wstring_view node) {
    node = BareNode(node);
    if (node.empty()) return true;
    for (std::wstring_view local :
         {std::wstring_view(L"localhost"), std::wstring_view(L"127.0.0.1")})
        if (com::EqualsNoCase(node, local)) return true;
    for (COMPUTER_NAME_FORMAT format :
         {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        const std::wstring name = ComputerName(format);
        if (!name.empty() && com::EqualsNoCase(node, name)) return true;
    }
    return false;
}

LSTATUS OpenClassesRoot(const std::wstring& node, com::RegKey* classes) {
    if (IsLocalNode(node)) return classes->Open(HKEY_CLASSES_ROOT, L"");
    return OpenRemoteClassesRoot(node, classes);
}

LSTATUS OpenRemoteClassesRoot(const std::wstring& node, com::RegKey* classes) {
    const std::wstring unc = L"\\\\" + std::wstring(BareNode(node));
    com::RegKey machine;
    const LSTATUS status = ::RegConnectRegistryW(unc.c_str(), HKEY_LOCAL_MACHINE, machine.put());
    if (status != ERROR_SUCCESS) return status;
    return classes->Open(machine.get(), L"SOFTWARE\\Classes");
}

HRESULT ClsidFromRegistry(HKEY classes, const std::wstring& progId, CLSID* clsid) {
    if (progId.empty()) return E_FAIL;
    com::RegKey key;
    RETURN_IF_WIN32_ERROR(key.Open(classes, progId + L"\\CLSID"));
    std::wstring text;
    RETURN_IF_WIN32_ERROR(key.ReadString(nullptr, &text));
    return com::StringToGuid(text, clsid) ? S_OK : E_FAIL;
}

HRESULT ScanRegistryForServers(HKEY classes, std::vector<ServerRecord>* servers) {
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        const LSTATUS status =
            ::RegEnumKeyExW(classes, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return S_OK;
        if (status == ERROR_MORE_DATA) continue;  // no ProgID is that long
        RETURN_IF_WIN32_ERROR(status);
        const std::wstring progId(name, length);
        com::RegKey opc;
        if (opc.Open(classes, progId + L"\\OPC") != ERROR_SUCCESS) continue;
        CLSID clsid;
        if (FAILED(ClsidFromRegistry(classes, progId, &clsid))) continue;
        servers->push_back(ServerRecord{progId, std::wstring(), clsid});
    }
}

HRESULT ListServersFromComponent(const std::wstring& node, std::vector<ServerRecord>* servers) {
    com::ComPtr<IOPCServerList> list;
    RETURN_IF_FAILED(CreateServerList(node, list.put()));
    CATID category = CATID_OPCDAServer10;
    com::ComPtr<IEnumGUID> classes;
    RETURN_IF_FAILED(list->EnumClassesOfCategories(1, &category, 1, &category, classes.put()));
    CLSID batch[100];
    for (;;) {
        ULONG fetched = 0;
        const HRESULT hr = classes->Next(ARRAYSIZE(batch), batch, &fetched);
        RETURN_IF_FAILED(hr);
        for (ULONG i = 0; i < fetched; ++i) {
            LPOLESTR progId = nullptr;
            LPOLESTR userType = nullptr;
            const HRESULT details = list->GetClassDetails(batch[i], &progId, &userType);
            ServerRecord record{progId ? progId : L"", userType ? userType : L"", batch[i]};
            ::CoTaskMemFree(progId);
            ::CoTaskMemFree(userType);
            if (SUCCEEDED(details) && !record.progId.empty()) servers->push_back(record);
        }
        if (hr != S_OK || fetched == 0) return S_OK;
    }
}

HRESULT ClsidFromComponent(const std::wstring& node, const std::wstring& progId, CLSID* clsid) {
    com::ComPtr<IOPCServerList> list;
    RETURN_IF_FAILED(CreateServerList(node, list.put()));
    return list->CLSIDFromProgID(progId.c_str(), clsid);
}

}  // namespace vkauto
