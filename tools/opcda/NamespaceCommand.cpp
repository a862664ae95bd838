// opcda namespace [--progid P] [--node HOST]: runs the server's namespace check
// (IOPCOV_NameSpace::CheckNameSpace) and prints "checked <value> <milliseconds> ms".
#include <cstdio>

#include "Commands.h"
#include "ServerConnection.h"
#include "orvane.h"

int RunNamespaceCommand(const Options& options) {
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    com::ComPtr<IOPCOV_NameSpace> nameSpace;
    if (FAILED(server.query(&nameSpace)) || !nameSpace) {
        fwprintf(stderr, L"opcda namespace: %ls has no namespace check (IOPCOV_NameSpace)\n",
                 ServerProgId(options).c_str());
        return kExitCallFailed;
    }
    long checked = 0;
    const DWORD start = GetTickCount();
    const HRESULT hr = nameSpace->CheckNameSpace(&checked);
    const DWORD elapsed = GetTickCount() - start;
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda namespace: CheckNameSpace failed: %ls\n", DescribeHr(hr).c_str());
        return kExitCallFailed;
    }
    wprintf(L"checked %ld %lu ms\n", checked, static_cast<unsigned long>(elapsed));
    return kExitOk;
}
