// opcda read ITEM... [--source device|cache|both] [--async] [--type T] [--progid P]
// [--node HOST]: read of each item with value, quality and time stamp; cache reads use
// an active group, "both" reads from the device and then from the cache; --async reads
// from the device through IOPCAsyncIO2.
#include <cstdio>

#include "Commands.h"
#include "ItemGroup.h"
#include "ServerConnection.h"
#include "com/ValueText.h"
#include "com/Memory.h"

bool RequestedTypeOption(const Options& options, const wchar_t* command, VARTYPE* type) {
    *type = VT_EMPTY;
    if (!options.Has(L"type")) return true;
    if (ParseTypeName(options.Get(L"type"), type) && *type != VT_EMPTY) return true;
    fwprintf(stderr,
             L"opcda %ls: unknown type \"%ls\" (bool, i1, ui1, i2, ui2, i4, ui4, i8, ui8, "
             L"r4, r8, date, bstr; \"[]\" behind for an array)\n",
             command, options.Get(L"type").c_str());
    return false;
}

void PrintItemState(IOPCServer* server, const std::wstring& id, const wchar_t* marker,
                    HRESULT error, const VARIANT& value, WORD quality, const FILETIME& time) {
    if (FAILED(error)) {
        wprintf(L"%ls%ls: error %ls\n", id.c_str(), marker, ErrorText(server, error).c_str());
        return;
    }
    wprintf(L"%ls%ls = %ls  %ls  quality %ls  %ls\n", id.c_str(), marker,
            FormatValue(value).c_str(), VarTypeName(V_VT(&value)).c_str(),
            FormatQuality(quality).c_str(), FormatFileTime(time).c_str());
}

int ReadAndPrint(IOPCServer* server, ItemGroup& group, int source, const wchar_t* marker) {
    std::vector<OPCHANDLE> handles;
    for (const GroupItem& item : group.items) {
        if (SUCCEEDED(item.error)) handles.push_back(item.hServer);
    }
    com::CoTaskMem<OPCITEMSTATE> states;
    com::CoTaskMem<HRESULT> errors;
    if (!handles.empty()) {
        const HRESULT hr = group.syncIO->Read(static_cast<OPCDATASOURCE>(source),
                                              static_cast<DWORD>(handles.size()), handles.data(),
                                              states.put(), errors.put());
        if (FAILED(hr) || !states || !errors) {
            fwprintf(stderr, L"opcda read: Read failed: %ls\n",
                     ErrorText(server, FAILED(hr) ? hr : E_POINTER).c_str());
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
        if (FAILED(itemError)) exitCode = kExitCallFailed;
        VARIANT empty;
        VariantInit(&empty);
        PrintItemState(server, item.id, marker, itemError, state ? state->vDataValue : empty,
                       state ? state->wQuality : 0, state ? state->ftTimeStamp : FILETIME{});
        if (state) VariantClear(&state->vDataValue);
    }
    return exitCode;
}

int RunReadCommand(const Options& options) {
    if (options.arguments.empty()) {
        fwprintf(stderr, L"opcda read: name at least one item\n");
        return kExitUsage;
    }
    const std::wstring source = options.Get(L"source", L"device");
    if (options.Has(L"async") && options.Has(L"source")) {
        fwprintf(stderr, L"opcda read: --async reads from the device; no --source\n");
        return kExitUsage;
    }
    if (source != L"device" && source != L"cache" && source != L"both") {
        fwprintf(stderr, L"opcda read: unknown source \"%ls\" (device, cache, both)\n",
                 source.c_str());
        return kExitUsage;
    }
    VARTYPE requested = VT_EMPTY;
    if (!RequestedTypeOption(options, L"read", &requested)) return kExitUsage;
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    if (!LoadConfigOption(options, server.get(), L"read")) return kExitCallFailed;
    std::wstring message;
    ItemGroup group(server.get());
    // Cache values of an inactive group are out of service.
    const BOOL active = source != L"device";
    if (FAILED(group.Open(options.arguments, &message, requested, active))) {
        fwprintf(stderr, L"opcda read: %ls\n", message.c_str());
        return kExitCallFailed;
    }
    if (options.Has(L"async")) return AsyncReadAndPrint(server.get(), group);
    if (source == L"cache") return ReadAndPrint(server.get(), group, OPC_DS_CACHE, L"");
    const int device = ReadAndPrint(server.get(), group, OPC_DS_DEVICE, L"");
    if (source == L"device") return device;
    const int cache = ReadAndPrint(server.get(), group, OPC_DS_CACHE, L" (cache)");
    return device != kExitOk ? device : cache;
}
