// ServerClientHolder.exe <event name>: a client that creates Axolent.Orvane,
// adds groups, signals the event and waits to be killed.
#include <windows.h>
#include <objbase.h>

#include "com/ComPtr.h"
#include "opc.h"
#include "orvane.h"

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
    SetEvent(ready);
    CloseHandle(ready);
    Sleep(INFINITE);
    return 0;
}
