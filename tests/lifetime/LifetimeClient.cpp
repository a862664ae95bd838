// LifetimeClient.exe <ProgID> <ready semaphore> <start event> <threads>: one client of a local
// server per thread. Every thread releases the semaphore once, waits for the event, then
// creates the server, asks for its status and releases everything. The exit code is the first
// failure (an HRESULT), 0 when every thread was served.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cwchar>
#include <thread>
#include <vector>

#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Sync.h"
#include "opc.h"

namespace {

constexpr DWORD kStartWaitMs = 60000;

std::atomic<HRESULT> g_firstFailure{S_OK};

void Fail(HRESULT hr) {
    HRESULT none = S_OK;
    g_firstFailure.compare_exchange_strong(none, hr);
}

HRESULT CreateAndAskStatus(REFCLSID clsid) {
    com::ComPtr<IOPCServer> server;
    HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, server.put_void());
    if (FAILED(hr)) return hr;
    OPCSERVERSTATUS* status = nullptr;
    hr = server->GetStatus(&status);
    if (SUCCEEDED(hr) && !status) hr = E_POINTER;
    if (status) {
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    }
    return hr;
}

void Client(CLSID clsid, HANDLE ready, HANDLE start) {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) return Fail(com.hr());
    ReleaseSemaphore(ready, 1, nullptr);
    if (WaitForSingleObject(start, kStartWaitMs) != WAIT_OBJECT_0)
        return Fail(HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    const HRESULT hr = CreateAndAskStatus(clsid);
    if (FAILED(hr)) Fail(hr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return E_INVALIDARG;
    CLSID clsid;
    {
        com::ComInitializer com(COINIT_MULTITHREADED);
        if (FAILED(CLSIDFromProgID(argv[1], &clsid))) return REGDB_E_CLASSNOTREG;
    }
    com::UniqueHandle ready(OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, argv[2]));
    com::UniqueHandle start(OpenEventW(SYNCHRONIZE, FALSE, argv[3]));
    if (!ready.get() || !start.get()) return HRESULT_FROM_WIN32(GetLastError());
    const int threads = _wtoi(argv[4]);
    std::vector<std::thread> clients;
    for (int i = 0; i < threads; ++i) clients.emplace_back(Client, clsid, ready.get(), start.get());
    for (std::thread& client : clients) client.join();
    return g_firstFailure.load();
}
