// Subscriptions of Axolent.Orvane on the simulator's default bus:
//  - Update period: the actual speed of drive 3 (it changes at every read) in a group at
//    50 ms and at 1000 ms; mean, p99 and largest deviation of the intervals between
//    callbacks from the rate.
//  - CPU share: one group at 50 ms with 100 and with 1000 active items that need no bus
//    traffic (the identification item DS_Vendorname of drive 3, added repeatedly); CPU
//    seconds per second of Orvane.exe and the update period achieved. The wineserver's
//    share is a Unix process's: bench/run prints it beside.
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Memory.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "opc.h"

namespace {

constexpr wchar_t kSpeed[] = L"Orvane_BusSimulator/DP_Slave3_/1/pari20d2";
constexpr wchar_t kInternal[] = L"Orvane_BusSimulator/DP_Slave3_/1/DS_Vendorname";

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Notes the time of every data change.
class Sink : public com::Object<IOPCDataCallback> {
public:
    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                              VARIANT*, WORD*, FILETIME*, HRESULT*) override {
        if (dwTransid) return S_OK;
        com::CsLock guard(lock_);
        times_.push_back(Now());
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
    std::vector<double> times() {
        com::CsLock guard(lock_);
        return times_;
    }

private:
    com::CriticalSection lock_;
    std::vector<double> times_;
};

// A group with `count` copies of `item`, the sink advised, then activated.
struct Subscription {
    com::ComPtr<IOPCServer> server;
    OPCHANDLE group = 0;
    com::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    com::ComPtr<Sink> sink;

    bool Open(IOPCServer* on, const wchar_t* item, int count, DWORD rate) {
        server = com::ComPtr<IOPCServer>(on);
        com::ComPtr<IOPCItemMgt> mgt;
        DWORD revised = 0;
        if (FAILED(server->AddGroup(L"", FALSE, rate, 1, nullptr, nullptr, 0, &group, &revised,
                                    IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt.put()))))
            return false;
        std::vector<OPCITEMDEF> defs(count);
        for (int i = 0; i < count; ++i) {
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = const_cast<LPWSTR>(item);
            defs[i].bActive = TRUE;
            defs[i].hClient = i + 1;
        }
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        if (mgt->AddItems(count, defs.data(), results.put(), errors.put()) != S_OK) return false;
        com::ComPtr<IConnectionPointContainer> container;
        com::ComPtr<IOPCGroupStateMgt> state;
        BOOL active = TRUE;
        return SUCCEEDED(com::MakeObject(&sink)) && SUCCEEDED(mgt.query(&container)) &&
               SUCCEEDED(container->FindConnectionPoint(IID_IOPCDataCallback, point.put())) &&
               SUCCEEDED(point->Advise(sink->GetControllingUnknown(), &cookie)) &&
               SUCCEEDED(mgt.query(&state)) &&
               SUCCEEDED(
                   state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr));
    }
    ~Subscription() {
        if (point && cookie) point->Unadvise(cookie);
        point.reset();
        if (group) server->RemoveGroup(group, TRUE);
    }
};

void PrintPeriod(const char* what, DWORD rate, const std::vector<double>& times) {
    std::vector<double> intervals;
    for (size_t i = 2; i < times.size(); ++i) intervals.push_back(times[i] - times[i - 1]);
    if (intervals.empty()) {
        printf("%-34s no data changes\n", what);
        return;
    }
    double sum = 0, largest = 0;
    for (double interval : intervals) {
        sum += interval;
        largest = std::max(largest, std::fabs(interval - rate));
    }
    std::vector<double> deviations;
    for (double interval : intervals) deviations.push_back(std::fabs(interval - rate));
    std::sort(deviations.begin(), deviations.end());
    const double p99 = deviations[std::min(deviations.size() - 1, deviations.size() * 99 / 100)];
    printf("%-34s %4zu intervals  mean %7.1f ms  p99 deviation %6.1f ms  largest %6.1f ms\n", what,
           intervals.size(), sum / intervals.size(), p99, largest);
}

DWORD ServerProcessId() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {sizeof(entry)};
    DWORD id = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !id;
         more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"Orvane.exe") == 0) id = entry.th32ProcessID;
    CloseHandle(snapshot);
    return id;
}

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto seconds = [](const FILETIME& t) {
        return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace

int wmain() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                         RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    CLSID clsid;
    com::ComPtr<IOPCServer> server;
    if (FAILED(CLSIDFromProgID(L"Axolent.Orvane", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                server.put_void()))) {
        fprintf(stderr, "bench_subscribe: Axolent.Orvane cannot be created\n");
        return 1;
    }
    for (DWORD rate : {50u, 1000u}) {
        Subscription subscription;
        if (!subscription.Open(server.get(), kSpeed, 1, rate)) {
            fprintf(stderr, "bench_subscribe: no subscription at %lu ms\n", rate);
            return 1;
        }
        Sleep(rate == 50 ? 10000 : 30000);
        const std::string what = "actual speed at " + std::to_string(rate) + " ms:";
        PrintPeriod(what.c_str(), rate, subscription.sink->times());
    }

    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ServerProcessId());
    for (int count : {100, 1000}) {
        Subscription subscription;
        if (!subscription.Open(server.get(), kInternal, count, 50)) {
            fprintf(stderr, "bench_subscribe: no subscription of %d items\n", count);
            return 1;
        }
        Sleep(1000);
        const double cpu0 = CpuSeconds(process), t0 = Now();
        Sleep(10000);
        const double cpu = CpuSeconds(process) - cpu0, wall = (Now() - t0) / 1000.0;
        printf("%4d internal items at 50 ms:       Orvane.exe %.3f CPU s/s\n", count, cpu / wall);
        const std::string what = std::to_string(count) + " items, period:";
        PrintPeriod(what.c_str(), 50, subscription.sink->times());
    }
    if (process) CloseHandle(process);
    return 0;
}
