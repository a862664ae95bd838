// opcda servers: the OPC DA 2.0 servers registered on this machine, found by
// their component category.
#include <cstdio>
#include <vector>

#include "Commands.h"
#include "ServerConnection.h"
#include "com/CategoryClasses.h"
#include "com/Strings.h"

int RunServersCommand(const Options&) {
    std::vector<com::CategoryClass> servers;
    const HRESULT hr = com::ListCategoryClasses({CATID_OPCDAServer20}, &servers);
    if (hr == REGDB_E_CLASSNOTREG) {
        fwprintf(stderr, L"opcda servers: the component categories manager is not available: %ls\n",
                 DescribeHr(hr).c_str());
        return kExitConnect;
    }
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda servers: EnumClassesOfCategories failed: %ls\n",
                 DescribeHr(hr).c_str());
        return kExitCallFailed;
    }
    for (const com::CategoryClass& server : servers) {
        wprintf(L"%ls  %-30ls  %ls\n", com::GuidToString(server.clsid, true).c_str(),
                server.progId.empty() ? L"(no ProgID)" : server.progId.c_str(),
                server.userType.c_str());
    }
    if (servers.empty()) wprintf(L"(no OPC Data Access 2.0 server is registered)\n");
    return kExitOk;
}
