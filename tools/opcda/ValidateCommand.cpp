// opcda validate ITEM... [--type T] [--progid P] [--node HOST]: ValidateItems;
// "ID: VT_x read/write" per item, or its error.
#include <cstdio>

#include "Commands.h"
#include "ItemGroup.h"
#include "ServerConnection.h"
#include "com/ValueText.h"
#include "com/Memory.h"

namespace {

const wchar_t* RightsText(DWORD rights) {
    switch (rights & (OPC_READABLE | OPC_WRITEABLE)) {
        case OPC_READABLE | OPC_WRITEABLE: return L"read/write";
        case OPC_READABLE: return L"read";
        case OPC_WRITEABLE: return L"write";
        default: return L"none";
    }
}

}  // namespace

int RunValidateCommand(const Options& options) {
    if (options.arguments.empty()) {
        fwprintf(stderr, L"opcda validate: name at least one item\n");
        return kExitUsage;
    }
    VARTYPE requested = VT_EMPTY;
    if (!RequestedTypeOption(options, L"validate", &requested)) return kExitUsage;
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    std::wstring message;
    ItemGroup group(server.get());
    // The group only lends its IOPCItemMgt; it gets no items.
    if (FAILED(group.Open({}, &message))) {
        fwprintf(stderr, L"opcda validate: %ls\n", message.c_str());
        return kExitCallFailed;
    }
    const std::vector<std::wstring>& ids = options.arguments;
    std::vector<OPCITEMDEF> defs(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        defs[i] = OPCITEMDEF{};
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        defs[i].vtRequestedDataType = requested;
    }
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;
    const HRESULT hr = group.itemMgt->ValidateItems(static_cast<DWORD>(defs.size()), defs.data(),
                                                    FALSE, results.put(), errors.put());
    if (FAILED(hr) || !results || !errors) {
        fwprintf(stderr, L"opcda validate: ValidateItems failed: %ls\n",
                 ErrorText(server.get(), FAILED(hr) ? hr : E_POINTER).c_str());
        return kExitCallFailed;
    }
    int exitCode = kExitOk;
    for (size_t i = 0; i < ids.size(); ++i) {
        CoTaskMemFree(results[i].pBlob);
        if (FAILED(errors[i])) {
            wprintf(L"%ls: error %ls\n", ids[i].c_str(),
                    ErrorText(server.get(), errors[i]).c_str());
            exitCode = kExitCallFailed;
        } else {
            wprintf(L"%ls: %ls %ls\n", ids[i].c_str(),
                    VarTypeName(results[i].vtCanonicalDataType).c_str(),
                    RightsText(results[i].dwAccessRights));
        }
    }
    return exitCode;
}
