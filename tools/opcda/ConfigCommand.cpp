// opcda save FILE [ITEM...] | load FILE, and --config FILE: the server's namespace
// in a configuration file (IPersistFile). Files go to the server as full paths,
// since the server resolves relative ones against its own directory.
#include <cstdio>

#include "Commands.h"
#include "ItemGroup.h"
#include "ServerConnection.h"
#include "orvane.h"

namespace {

std::wstring FullPath(const std::wstring& file) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(file.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(file.c_str(), length, full.data(), nullptr);
    }
    if (length == 0) return file;
    full.resize(length);
    return full;
}

bool QueryPersistFile(IOPCServer* server, const wchar_t* command, com::ComPtr<IPersistFile>* file) {
    const HRESULT hr = server->QueryInterface(IID_IPersistFile, file->put_void());
    if (SUCCEEDED(hr)) return true;
    fwprintf(stderr, L"opcda %ls: the server offers no configuration file: %ls\n", command,
             ErrorText(server, hr).c_str());
    return false;
}

// The server's namespace check, so that the discovered tree is what is saved or replaced.
bool CheckNamespace(IOPCServer* server, const wchar_t* command) {
    com::ComPtr<IOPCOV_NameSpace> nameSpace;
    if (FAILED(server->QueryInterface(__uuidof(IOPCOV_NameSpace), nameSpace.put_void())))
        return true;  // a server without one has nothing to discover
    long checked = 0;
    const HRESULT hr = nameSpace->CheckNameSpace(&checked);
    if (SUCCEEDED(hr)) return true;
    fwprintf(stderr, L"opcda %ls: CheckNameSpace failed: %ls\n", command, DescribeHr(hr).c_str());
    return false;
}

}  // namespace

bool LoadConfigOption(const Options& options, IOPCServer* server, const wchar_t* command) {
    if (!options.Has(L"config")) return true;
    const std::wstring file = FullPath(options.Get(L"config"));
    com::ComPtr<IPersistFile> persist;
    if (!QueryPersistFile(server, command, &persist)) return false;
    const HRESULT hr = persist->Load(file.c_str(), 0);
    if (SUCCEEDED(hr)) return true;
    fwprintf(stderr, L"opcda %ls: loading %ls failed: %ls\n", command, file.c_str(),
             ErrorText(server, hr).c_str());
    return false;
}

int RunSaveCommand(const Options& options) {
    if (options.arguments.empty()) {
        fwprintf(stderr, L"opcda save: no file given\n");
        return kExitUsage;
    }
    const std::wstring file = FullPath(options.arguments[0]);
    const std::vector<std::wstring> ids(options.arguments.begin() + 1, options.arguments.end());
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    com::ComPtr<IPersistFile> persist;
    if (!QueryPersistFile(server.get(), L"save", &persist)) return kExitCallFailed;
    if (!CheckNamespace(server.get(), L"save")) return kExitCallFailed;
    // The items' parameters exist in the namespace while their group does.
    ItemGroup group(server.get());
    if (!ids.empty()) {
        std::wstring message;
        if (FAILED(group.Open(ids, &message))) {
            fwprintf(stderr, L"opcda save: %ls\n", message.c_str());
            return kExitCallFailed;
        }
        for (const GroupItem& item : group.items) {
            if (FAILED(item.error))
                fwprintf(stderr, L"opcda save: %ls: %ls\n", item.id.c_str(),
                         ErrorText(server.get(), item.error).c_str());
        }
    }
    const HRESULT hr = persist->Save(file.c_str(), TRUE);
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda save: saving %ls failed: %ls\n", file.c_str(),
                 ErrorText(server.get(), hr).c_str());
        return kExitCallFailed;
    }
    wprintf(L"saved %ls\n", file.c_str());
    return kExitOk;
}

int RunLoadCommand(const Options& options) {
    if (options.arguments.size() != 1) {
        fwprintf(stderr, L"opcda load: one file expected\n");
        return kExitUsage;
    }
    const std::wstring file = FullPath(options.arguments[0]);
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    com::ComPtr<IPersistFile> persist;
    if (!QueryPersistFile(server.get(), L"load", &persist)) return kExitCallFailed;
    if (!CheckNamespace(server.get(), L"load")) return kExitCallFailed;
    const HRESULT hr = persist->Load(file.c_str(), 0);
    if (FAILED(hr))
        fwprintf(stderr, L"opcda load: loading %ls failed: %ls\n", file.c_str(),
                 ErrorText(server.get(), hr).c_str());
    // The namespace as it stands, loaded or not.
    const bool printed = PrintFlatItemIds(server.get(), L"load");
    return SUCCEEDED(hr) && printed ? kExitOk : kExitCallFailed;
}
