// opcda servers: the OPC DA 2.0 servers registered on this machine, found by
// their component category.
#include <comcat.h>

#include <cstdio>

#include "Commands.h"
#include "ServerConnection.h"
#include "com/ComPtr.h"
#include "com/Strings.h"

int RunServersCommand(const Options&) {
    com::ComPtr<ICatInformation> categories;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatInformation, categories.put_void());
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda servers: the component categories manager is not available: %ls\n",
                 DescribeHr(hr).c_str());
        return kExitConnect;
    }
    CATID implemented = CATID_OPCDAServer20;
    com::ComPtr<IEnumGUID> classes;
    // (ULONG)-1 required categories: do not filter by required categories.
    hr = categories->EnumClassesOfCategories(1, &implemented, static_cast<ULONG>(-1), nullptr,
                                             classes.put());
    if (FAILED(hr) || !classes) {
        fwprintf(stderr, L"opcda servers: EnumClassesOfCategories failed: %ls\n",
                 DescribeHr(hr).c_str());
        return kExitCallFailed;
    }
    int count = 0;
    CLSID clsid;
    ULONG fetched = 0;
    while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
        LPOLESTR progId = nullptr;
        LPOLESTR userType = nullptr;
        ProgIDFromCLSID(clsid, &progId);
        OleRegGetUserType(clsid, USERCLASSTYPE_FULL, &userType);
        wprintf(L"%ls  %-30ls  %ls\n", com::GuidToString(clsid, true).c_str(),
                progId ? progId : L"(no ProgID)", userType ? userType : L"");
        CoTaskMemFree(progId);
        CoTaskMemFree(userType);
        ++count;
    }
    if (count == 0) wprintf(L"(no OPC Data Access 2.0 server is registered)\n");
    return kExitOk;
}
