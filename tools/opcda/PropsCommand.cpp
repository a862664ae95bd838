// opcda props ITEM [--progid P] [--node HOST]: the item's properties with
// their values.
#include <cstdio>

#include "Commands.h"
#include "ItemGroup.h"
#include "ServerConnection.h"
#include "com/ValueText.h"
#include "com/ComPtr.h"
#include "com/Memory.h"

int RunPropsCommand(const Options& options) {
    if (options.arguments.size() != 1) {
        fwprintf(stderr, L"opcda props: name exactly one item\n");
        return kExitUsage;
    }
    const std::wstring& itemId = options.arguments[0];
    const std::wstring progId = ServerProgId(options);
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    if (!LoadConfigOption(options, server.get(), L"props")) return kExitCallFailed;
    com::ComPtr<IOPCItemProperties> properties;
    HRESULT hr = server.query(&properties);
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda props: %ls offers no item properties: %ls\n", progId.c_str(),
                 ErrorText(server.get(), hr).c_str());
        return kExitCallFailed;
    }
    DWORD count = 0;
    com::CoTaskMem<DWORD> ids;
    com::CoTaskMem<LPWSTR> descriptions;
    com::CoTaskMem<VARTYPE> types;
    hr = properties->QueryAvailableProperties(const_cast<LPWSTR>(itemId.c_str()), &count, ids.put(),
                                              descriptions.put(), types.put());
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda props: %ls: %ls\n", itemId.c_str(),
                 ErrorText(server.get(), hr).c_str());
        return kExitCallFailed;
    }
    com::CoTaskMem<VARIANT> values;
    com::CoTaskMem<HRESULT> errors;
    if (count > 0)
        hr = properties->GetItemProperties(const_cast<LPWSTR>(itemId.c_str()), count, ids.get(),
                                           values.put(), errors.put());
    int exitCode = kExitOk;
    if (FAILED(hr) || (count > 0 && (!values || !errors))) {
        fwprintf(stderr, L"opcda props: GetItemProperties failed: %ls\n",
                 ErrorText(server.get(), FAILED(hr) ? hr : E_POINTER).c_str());
        exitCode = kExitCallFailed;
    }
    for (DWORD i = 0; i < count; ++i) {
        const wchar_t* description = descriptions && descriptions[i] ? descriptions[i] : L"";
        std::wstring value;
        if (exitCode != kExitOk)
            value = L"";
        else if (FAILED(errors[i]))
            value = L"error " + ErrorText(server.get(), errors[i]);
        else
            value = FormatValue(values[i]);
        // The canonical data type is a VARTYPE number.
        if (exitCode == kExitOk && SUCCEEDED(errors[i]) && ids[i] == OPC_PROPERTY_DATATYPE &&
            V_VT(&values[i]) == VT_I2)
            value += L" (" + VarTypeName(static_cast<VARTYPE>(V_I2(&values[i]))) + L")";
        wprintf(L"%5lu  %-28ls %-18ls %ls\n", ids ? ids[i] : 0, description,
                types ? VarTypeName(types[i]).c_str() : L"", value.c_str());
        if (descriptions) CoTaskMemFree(descriptions[i]);
        if (values) VariantClear(&values[i]);
    }
    return exitCode;
}
