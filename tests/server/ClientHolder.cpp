// ServerClientHolder.exe <event name> [subscribe]: a client that creates Axolent.Orvane,
// adds groups, signals the event and waits to be killed. With "subscribe" one group
// watches the actual speed of drive 3 at 200 ms, and the event is signalled at its
// first data change.
#include <windows.h>
#include <objbase.h>

#include <ocidl.h>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "opc.h"
#include "orvane.h"

namespace {

class Sink : public com::Object<IOPCDataCallback> {
public:
    explicit Sink(HANDLE ready) : ready_(ready) {}
    STDMETHODIMP OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*,
                              WORD*, FILETIME*, HRESULT*) override {
        SetEvent(ready_);
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*,
                                WORD*, FILETIME*, HRESULT*) override {
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return S_OK;
    }
    STDMETHODIMP OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

private:
    HANDLE ready_;
};

// A group watching the actual speed of drive 3; the sink signals `ready`.
bool Subscribe(IOPCServer* server, HANDLE ready) {
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    com::ComPtr<IOPCItemMgt> mgt;
    if (FAILED(server->AddGroup(L"", TRUE, 200, 0, nullptr, nullptr, 0, &handle, &revised,
                                IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt.put()))))
        return false;
    OPCITEMDEF def = {};
    def.szAccessPath = const_cast<LPWSTR>(L"");
    def.szItemID = const_cast<LPWSTR>(L"Orvane_BusSimulator/DP_Slave3_/1/pari20d2");
    def.bActive = TRUE;
    def.hClient = 1;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    if (mgt->AddItems(1, &def, &results, &errors) != S_OK) return false;
    com::ComPtr<IConnectionPointContainer> container;
    com::ComPtr<IConnectionPoint> point;
    com::ComPtr<Sink> sink;
    DWORD cookie = 0;
    return SUCCEEDED(mgt.query(&container)) &&
           SUCCEEDED(container->FindConnectionPoint(IID_IOPCDataCallback, point.put())) &&
           SUCCEEDED(com::MakeObject(&sink, ready)) &&
           SUCCEEDED(point->Advise(sink->GetControllingUnknown(), &cookie));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 3;
    com::ComPtr<IOPCServer> server;
    if (FAILED(CoCreateInstance(CLSID_OPCOrvane, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                server.put_void())))
        return 4;
    com::ComPtr<IUnknown> groups[3];
    for (auto& group : groups) {
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        if (FAILED(server->AddGroup(L"", TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                                    IID_IOPCGroupStateMgt, group.put())))
            return 5;
    }
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (!ready) return 6;
    if (argc > 2 && lstrcmpW(argv[2], L"subscribe") == 0) {
        if (!Subscribe(server.get(), ready)) return 7;
        Sleep(INFINITE);
    }
    SetEvent(ready);
    CloseHandle(ready);
    Sleep(INFINITE);
    return 0;
}
