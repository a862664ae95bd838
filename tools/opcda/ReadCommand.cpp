// opcda read ITEM... [--progid P] [--node HOST]: device read of each item with
// value, quality and time stamp.
#include <cstdio>

#include "Commands.h"
#include "ItemGroup.h"
#include "ServerConnection.h"
#include "com/ValueText.h"
#include "com/Memory.h"

int RunReadCommand(const Options& options) {
    if (options.arguments.empty()) {
        fwprintf(stderr, L"opcda read: name at least one item\n");
        return kExitUsage;
    }
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    std::wstring message;
    ItemGroup group(server.get());
    if (FAILED(group.Open(options.arguments, &message))) {
        fwprintf(stderr, L"opcda read: %ls\n", message.c_str());
        return kExitCallFailed;
    }

    std::vector<OPCHANDLE> handles;
    for (const GroupItem& item : group.items) {
        if (SUCCEEDED(item.error)) handles.push_back(item.hServer);
    }
    com::CoTaskMem<OPCITEMSTATE> states;
    com::CoTaskMem<HRESULT> errors;
    HRESULT hr = S_OK;
    if (!handles.empty()) {
        hr = group.syncIO->Read(OPC_DS_DEVICE, static_cast<DWORD>(handles.size()), handles.data(),
                                states.put(), errors.put());
        if (FAILED(hr) || !states || !errors) {
            fwprintf(stderr, L"opcda read: Read failed: %ls\n",
                     ErrorText(server.get(), FAILED(hr) ? hr : E_POINTER).c_str());
            return kExitCallFailed;
        }
    }
    int exitCode = kExitOk;
    size_t next = 0;
    for (const GroupItem& item : group.items) {
        HRESULT itemError = item.error;
        OPCITEMSTATE* state = nullptr;
        if (SUCCEEDED(itemError)) {
            state = &states[next];
            itemError = errors[next];
            ++next;
        }
        if (FAILED(itemError)) {
            wprintf(L"%ls: error %ls\n", item.id.c_str(),
                    ErrorText(server.get(), itemError).c_str());
            exitCode = kExitCallFailed;
        } else {
            wprintf(L"%ls = %ls  %ls  quality %ls  %ls\n", item.id.c_str(),
                    FormatValue(state->vDataValue).c_str(),
                    VarTypeName(V_VT(&state->vDataValue)).c_str(),
                    FormatQuality(state->wQuality).c_str(),
                    FormatFileTime(state->ftTimeStamp).c_str());
        }
        if (state) VariantClear(&state->vDataValue);
    }
    return exitCode;
}
