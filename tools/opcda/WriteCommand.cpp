// opcda write ITEM=VALUE... [--type T] [--async] [--readback] [--progid P] [--node HOST]:
// write, synchronous or through IOPCAsyncIO2 (--async); the value is read as T, or as the item's canonical type.
// --readback reads the items from the device afterwards.
#include <cstdio>

#include "Commands.h"
#include "ItemGroup.h"
#include "ServerConnection.h"
#include "com/ValueText.h"
#include "com/Memory.h"
#include "com/Variant.h"

int RunWriteCommand(const Options& options) {
    std::vector<std::wstring> ids, texts;
    for (const std::wstring& argument : options.arguments) {
        const size_t equals = argument.find(L'=');
        if (equals == std::wstring::npos || equals == 0) {
            fwprintf(stderr, L"opcda write: \"%ls\" is not ITEM=VALUE\n", argument.c_str());
            return kExitUsage;
        }
        ids.push_back(argument.substr(0, equals));
        texts.push_back(argument.substr(equals + 1));
    }
    if (ids.empty()) {
        fwprintf(stderr, L"opcda write: name at least one ITEM=VALUE\n");
        return kExitUsage;
    }
    VARTYPE forcedType = VT_EMPTY;
    const bool typeGiven = options.Has(L"type");
    if (typeGiven &&
        (!ParseTypeName(options.Get(L"type"), &forcedType) || forcedType == VT_EMPTY)) {
        fwprintf(stderr,
                 L"opcda write: unknown type \"%ls\" (bool, i1, ui1, i2, ui2, i4, ui4, i8, ui8, "
                 L"r4, r8, date, bstr; \"[]\" behind for an array)\n",
                 options.Get(L"type").c_str());
        return kExitUsage;
    }
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    if (!LoadConfigOption(options, server.get(), L"write")) return kExitCallFailed;
    std::wstring message;
    ItemGroup group(server.get());
    if (FAILED(group.Open(ids, &message))) {
        fwprintf(stderr, L"opcda write: %ls\n", message.c_str());
        return kExitCallFailed;
    }

    int exitCode = kExitOk;
    std::vector<OPCHANDLE> handles;
    std::vector<com::UniqueVariant> values;
    std::vector<size_t> written;  // index into group.items
    for (size_t i = 0; i < group.items.size(); ++i) {
        const GroupItem& item = group.items[i];
        if (FAILED(item.error)) {
            wprintf(L"%ls: error %ls\n", item.id.c_str(),
                    ErrorText(server.get(), item.error).c_str());
            exitCode = kExitCallFailed;
            continue;
        }
        const VARTYPE type = typeGiven ? forcedType : item.canonicalType;
        com::UniqueVariant value;
        if (FAILED(ParseValue(texts[i], type, value.get(), &message))) {
            wprintf(L"%ls: %ls\n", item.id.c_str(), message.c_str());
            exitCode = kExitUsage;
            continue;
        }
        handles.push_back(item.hServer);
        values.push_back(std::move(value));
        written.push_back(i);
    }
    if (handles.empty()) return exitCode;
    std::vector<VARIANT> raw;
    for (const com::UniqueVariant& value : values) raw.push_back(*value.get());
    if (options.Has(L"async")) {
        const int async = AsyncWriteAndPrint(server.get(), group, handles, raw, written);
        if (exitCode == kExitOk) exitCode = async;
        if (options.Has(L"readback")) {
            const int read = ReadAndPrint(server.get(), group, OPC_DS_DEVICE, L"");
            if (exitCode == kExitOk) exitCode = read;
        }
        return exitCode;
    }
    com::CoTaskMem<HRESULT> errors;
    const HRESULT hr = group.syncIO->Write(static_cast<DWORD>(handles.size()), handles.data(),
                                           raw.data(), errors.put());
    if (FAILED(hr) || !errors) {
        fwprintf(stderr, L"opcda write: Write failed: %ls\n",
                 ErrorText(server.get(), FAILED(hr) ? hr : E_POINTER).c_str());
        return kExitCallFailed;
    }
    for (size_t k = 0; k < written.size(); ++k) {
        const GroupItem& item = group.items[written[k]];
        if (FAILED(errors[k])) {
            wprintf(L"%ls: error %ls\n", item.id.c_str(),
                    ErrorText(server.get(), errors[k]).c_str());
            exitCode = kExitCallFailed;
        } else {
            wprintf(L"%ls: written %ls\n", item.id.c_str(), FormatValue(*values[k].get()).c_str());
        }
    }
    if (options.Has(L"readback")) {
        const int read = ReadAndPrint(server.get(), group, OPC_DS_DEVICE, L"");
        if (exitCode == kExitOk) exitCode = read;
    }
    return exitCode;
}
