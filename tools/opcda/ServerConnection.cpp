#include "ServerConnection.h"

#include <cstdio>

#include "com/RegKey.h"
#include "com/Result.h"
#include "com/Strings.h"

namespace {

// A ProgID unknown here may still be registered on the node: read its CLSID there.
HRESULT RemoteClsidFromProgId(const std::wstring& progId, const std::wstring& node, CLSID* clsid) {
    com::RegKey machine;
    RETURN_IF_WIN32_ERROR(RegConnectRegistryW(node.c_str(), HKEY_LOCAL_MACHINE, machine.put()));
    com::RegKey key;
    RETURN_IF_WIN32_ERROR(key.Open(machine.get(), L"Software\\Classes\\" + progId + L"\\CLSID"));
    std::wstring text;
    RETURN_IF_WIN32_ERROR(key.ReadString(nullptr, &text));
    return CLSIDFromString(text.c_str(), clsid);
}

}  // namespace

std::wstring DescribeHr(HRESULT hr) {
    std::wstring text = com::HrToString(hr);
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length > 0 && buffer) {
        std::wstring message(buffer, length);
        while (!message.empty() &&
               (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
            message.pop_back();
        if (!message.empty()) text += L" (" + message + L")";
    }
    if (buffer) LocalFree(buffer);
    return text;
}

HRESULT ConnectServer(const std::wstring& progId, const std::wstring& node,
                      com::ComPtr<IOPCServer>* server, std::wstring* message) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr) && !node.empty()) hr = RemoteClsidFromProgId(progId, node, &clsid);
    if (FAILED(hr)) {
        *message = L"no OPC server \"" + progId + L"\" is registered: " + DescribeHr(hr);
        return hr;
    }

    COSERVERINFO serverInfo = {};
    serverInfo.pwszName = const_cast<wchar_t*>(node.c_str());
    MULTI_QI result = {&IID_IOPCServer, nullptr, S_OK};
    const DWORD context =
        node.empty() ? CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER : CLSCTX_REMOTE_SERVER;
    hr = CoCreateInstanceEx(clsid, nullptr, context, node.empty() ? nullptr : &serverInfo, 1,
                            &result);
    if (SUCCEEDED(hr)) hr = result.hr;
    if (FAILED(hr)) {
        *message = L"creating \"" + progId + L"\"" + (node.empty() ? L"" : L" on " + node) +
                   L" failed: " + DescribeHr(hr);
        return hr;
    }
    server->attach(static_cast<IOPCServer*>(result.pItf));
    return S_OK;
}

std::wstring ServerProgId(const Options& options) {
    return options.Get(L"progid", L"Axolent.Orvane");
}

bool ConnectCommandServer(const Options& options, com::ComPtr<IOPCServer>* server) {
    std::wstring message;
    if (SUCCEEDED(ConnectServer(ServerProgId(options), options.Get(L"node"), server, &message)))
        return true;
    fwprintf(stderr, L"opcda %ls: %ls\n", options.command.c_str(), message.c_str());
    return false;
}
