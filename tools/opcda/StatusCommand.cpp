// opcda status [--progid P] [--node HOST]: the server's GetStatus.
#include <cstdio>

#include "Commands.h"
#include "ServerConnection.h"
#include "com/ComPtr.h"

namespace {

const wchar_t* StateName(OPCSERVERSTATE state) {
    switch (state) {
        case OPC_STATUS_RUNNING: return L"running";
        case OPC_STATUS_FAILED: return L"failed";
        case OPC_STATUS_NOCONFIG: return L"no configuration";
        case OPC_STATUS_SUSPENDED: return L"suspended";
        case OPC_STATUS_TEST: return L"test";
        default: return L"unknown";
    }
}

std::wstring FormatTime(const FILETIME& time) {
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&time, &utc)) return L"(invalid)";
    wchar_t text[64];
    swprintf(text, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u UTC", utc.wYear, utc.wMonth, utc.wDay,
             utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return text;
}

}  // namespace

int RunStatusCommand(const Options& options) {
    const std::wstring progId = ServerProgId(options);
    const std::wstring node = options.Get(L"node");
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    OPCSERVERSTATUS* status = nullptr;
    const HRESULT hr = server->GetStatus(&status);
    if (FAILED(hr) || !status) {
        fwprintf(stderr, L"opcda status: GetStatus failed: %ls\n",
                 DescribeHr(FAILED(hr) ? hr : E_POINTER).c_str());
        return kExitCallFailed;
    }
    wprintf(L"Server:       %ls%ls%ls\n", progId.c_str(), node.empty() ? L"" : L" on ",
            node.c_str());
    wprintf(L"State:        %ls\n", StateName(status->dwServerState));
    wprintf(L"Start time:   %ls\n", FormatTime(status->ftStartTime).c_str());
    wprintf(L"Current time: %ls\n", FormatTime(status->ftCurrentTime).c_str());
    wprintf(L"Last update:  %ls\n", FormatTime(status->ftLastUpdateTime).c_str());
    wprintf(L"Version:      %u.%u build %u\n", status->wMajorVersion, status->wMinorVersion,
            status->wBuildNumber);
    wprintf(L"Vendor:       %ls\n", status->szVendorInfo ? status->szVendorInfo : L"");
    wprintf(L"Groups:       %lu\n", status->dwGroupCount);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return kExitOk;
}
