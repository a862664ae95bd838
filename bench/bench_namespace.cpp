// The namespace check through Axolent.Orvane (a fresh server object per run): a bus
// of one drive against a bus of N such drives, each bus in a simulator process of
// its own (loaded from a topology file of this program's). The drives are identified
// in parallel, one worker per device, so N drives should cost little more than one.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchBus.h"
#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "opc.h"
#include "orvane.h"

namespace {

constexpr int kRuns = 5;
constexpr int kDrives = 8;

// A three-axis drive with 150 ms latency: identification takes about half a second.
std::string Topology(int drives) {
    std::string text;
    for (int slave = 1; slave <= drives; ++slave) {
        text += "slave " + std::to_string(slave) +
                "\nlatency 150\naxis 0\n"
                "param 964 u16 [42 0x0301 0x0105 2024 0x1511 3]\n"
                "param 918 u16 " +
                std::to_string(slave) +
                "\nparam 974 u16 [240 39 20]\nparam 978 u8 [1 2 3]\n"
                "axis 1\nparam 1000 u16 0\naxis 2\nparam 1000 u16 0\naxis 3\nparam 1000 u16 0\n";
    }
    return text;
}

// Median milliseconds of kRuns checks on the bus of `drives` drives; -1 on failure.
double MedianCheck(int drives) {
    if (!bench::AwaitIdle() ||
        !bench::UseTopology(Topology(drives), L"orvane_bench_namespace.topology"))
        return -1;
    std::vector<double> times;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int run = 0; run < kRuns; ++run) {
        com::ComPtr<IOPCServer> server;
        com::ComPtr<IOPCOV_NameSpace> nameSpace;
        if (FAILED(CoCreateInstance(CLSID_OPCOrvane, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                    server.put_void())) ||
            FAILED(server.query(&nameSpace)))
            return -1;
        long checked = 0;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        const HRESULT hr = nameSpace->CheckNameSpace(&checked);
        QueryPerformanceCounter(&end);
        if (FAILED(hr) || checked != 1) return -1;
        times.push_back(1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
    }
    bench::ForgetTopology();
    return bench::Median(times);
}

}  // namespace

int wmain() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) return 1;
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                         RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    const double one = MedianCheck(1);
    const double many = MedianCheck(kDrives);
    bench::ForgetTopology();
    if (!bench::AwaitIdle())
        fwprintf(stderr,
                 L"bench_namespace: a simulator with the bench's bus still runs; "
                 L"restart the wineserver (wineserver -k) before running tests\n");
    if (one < 0 || many < 0) {
        fwprintf(stderr, L"bench_namespace: a check failed\n");
        return 1;
    }
    wprintf(L"| case | runs | median ms |\n|---|---|---|\n");
    wprintf(L"| 1 drive (T) | %d | %.0f |\n", kRuns, one);
    wprintf(L"| %d drives | %d | %.0f |\n", kDrives, kRuns, many);
    wprintf(L"| %d x T (one after the other) | | %.0f |\n", kDrives, kDrives * one);
    wprintf(L"%d drives / 1 drive: %.2f (goal: at most 1.5)\n", kDrives, many / one);
    return 0;
}
