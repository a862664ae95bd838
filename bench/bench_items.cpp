// Drive parameters as OPC items of Axolent.Orvane on a bench bus: one drive (DP/Slave3/,
// 2 ms latency) with 100 16-bit parameters on axis 1, in a simulator of its own.
//  - 100 items in one IOPCSyncIO::Read from the device (the server packs them into
//    multi-parameter requests through the interaction module's bulk read) against
//    100 one-item reads (one request each); requests counted by Sim/Slave3/Requests.
//  - The bus server's item of the drive as a pass-through item of Orvane against the same
//    item read directly on a group of the simulator.
//  - One drive parameter through Orvane with the drive's latency at 0, to set beside
//    bench_channel's ReadSingle (the channel read without the OPC server) of the same run.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BenchBus.h"
#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Memory.h"
#include "com/Result.h"
#include "com/Variant.h"
#include "opc.h"

namespace {

constexpr int kParameters = 100;
constexpr int kBulkRuns = 5;
constexpr int kSingleRuns = 50;
constexpr wchar_t kDrive[] = L"Orvane_BusSimulator/DP_Slave3_/";

std::string Topology() {
    std::string text =
        "slave 3 DP/Slave3/\nvendor \"Axolent\"\nlatency 2\naxis 0\n"
        "param 964 u16 [42 0x0101 0x0203 2025 0x0703 1]\nparam 918 u16 3\n"
        "param 974 u16 [240 39 10]\nparam 978 u8 [1 0 0 0]\naxis 1\n";
    for (int i = 0; i < kParameters; ++i)
        text += "param " + std::to_string(1000 + i) + " u16 " + std::to_string(i) + " rw\n";
    return text;
}

// One inactive group of a server with its items; device reads and writes by index.
class Group {
public:
    HRESULT Connect(const wchar_t* progId) {
        CLSID clsid;
        RETURN_IF_FAILED(CLSIDFromProgID(progId, &clsid));
        RETURN_IF_FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                          server_.put_void()));
        OPCHANDLE group = 0;
        DWORD revised = 0;
        RETURN_IF_FAILED(server_->AddGroup(L"", FALSE, 1000, 1, nullptr, nullptr, 0, &group,
                                           &revised, IID_IOPCItemMgt,
                                           reinterpret_cast<IUnknown**>(items_.put())));
        return items_.query(&io_);
    }

    // The item's index, or -1.
    int Add(const std::wstring& id) {
        OPCITEMDEF def = {};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(id.c_str());
        def.hClient = static_cast<OPCHANDLE>(handles_.size() + 1);
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        if (FAILED(items_->AddItems(1, &def, results.put(), errors.put()))) return -1;
        CoTaskMemFree(results[0].pBlob);
        if (FAILED(errors[0])) {
            fwprintf(stderr, L"bench_items: AddItems(%ls): 0x%08lX\n", id.c_str(),
                     static_cast<unsigned long>(errors[0]));
            return -1;
        }
        handles_.push_back(results[0].hServer);
        return static_cast<int>(handles_.size() - 1);
    }

    // A device read of `count` items from `first` in one call; S_OK only if every item read.
    HRESULT Read(int first, int count, LONG* value = nullptr) {
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        HRESULT hr = io_->Read(OPC_DS_DEVICE, count, &handles_[first], states.put(), errors.put());
        if (FAILED(hr)) return hr;
        for (int i = 0; i < count; ++i) {
            if (SUCCEEDED(hr) && FAILED(errors[i])) hr = errors[i];
            if (value && i == 0 && SUCCEEDED(errors[i])) {
                com::UniqueVariant number;
                if (SUCCEEDED(VariantChangeType(number.put(), &states[i].vDataValue, 0, VT_I4)))
                    *value = V_I4(number.get());
            }
            VariantClear(&states[i].vDataValue);
        }
        return hr;
    }

    HRESULT Write(int index, LONG number) {
        com::UniqueVariant value(number);
        com::CoTaskMem<HRESULT> errors;
        RETURN_IF_FAILED(io_->Write(1, &handles_[index], value.get(), errors.put()));
        return errors[0];
    }

private:
    com::ComPtr<IOPCServer> server_;
    com::ComPtr<IOPCItemMgt> items_;
    com::ComPtr<IOPCSyncIO> io_;
    std::vector<OPCHANDLE> handles_;
};

struct Sample {
    double ms = -1;       // median of the runs
    double requests = 0;  // telegrams per run
};

// Median time of `runs` calls of `call` and the telegrams each cost slave 3.
Sample Measure(Group& sim, int counter, int runs, const std::function<HRESULT()>& call) {
    Sample sample;
    LONG before = 0, after = 0;
    std::vector<double> times;
    if (FAILED(call()) || FAILED(sim.Read(counter, 1, &before))) return sample;  // warm-up
    for (int run = 0; run < runs; ++run) {
        const double start = bench::NowMs();
        if (FAILED(call())) return sample;
        times.push_back(bench::NowMs() - start);
    }
    if (FAILED(sim.Read(counter, 1, &after))) return sample;
    sample.ms = bench::Median(times);
    sample.requests = double(after - before) / runs;
    return sample;
}

int Run() {
    Group orvane, sim;
    HRESULT hr = sim.Connect(L"Orvane.BusSimulator");
    if (SUCCEEDED(hr)) hr = orvane.Connect(L"Axolent.Orvane");
    if (FAILED(hr)) {
        fwprintf(stderr, L"bench_items: connecting failed: 0x%08lX\n",
                 static_cast<unsigned long>(hr));
        return 1;
    }
    const int counter = sim.Add(L"Sim/Slave3/Requests");
    const int latency = sim.Add(L"Sim/Slave3/LatencyMs");
    const int direct = sim.Add(L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    for (int i = 0; i < kParameters; ++i)
        if (orvane.Add(kDrive + std::wstring(L"1/pari") + std::to_wstring(1000 + i) + L"d18") != i)
            return 1;
    const int passThrough =
        orvane.Add(kDrive + std::wstring(L"DS_MSAC2_Parameter/MA_ProfileIdentNumber"));
    if (counter < 0 || latency < 0 || direct < 0 || passThrough < 0) return 1;

    const Sample bulk =
        Measure(sim, counter, kBulkRuns, [&] { return orvane.Read(0, kParameters); });
    const Sample single = Measure(sim, counter, kBulkRuns, [&] {
        for (int i = 0; i < kParameters; ++i) RETURN_IF_FAILED(orvane.Read(i, 1));
        return S_OK;
    });
    const Sample viaOrvane =
        Measure(sim, counter, kSingleRuns, [&] { return orvane.Read(passThrough, 1); });
    const Sample viaSim = Measure(sim, counter, kSingleRuns, [&] { return sim.Read(direct, 1); });
    Sample parameter;
    if (SUCCEEDED(sim.Write(latency, 0))) {
        parameter = Measure(sim, counter, kSingleRuns, [&] { return orvane.Read(0, 1); });
        sim.Write(latency, 2);
    }
    if (bulk.ms < 0 || single.ms < 0 || viaOrvane.ms < 0 || viaSim.ms < 0 || parameter.ms < 0) {
        fwprintf(stderr, L"bench_items: a read failed\n");
        return 1;
    }
    wprintf(L"| case | runs | median ms | telegrams per run |\n|---|---|---|---|\n");
    wprintf(L"| %d items, one device read through Orvane | %d | %.1f | %.0f |\n", kParameters,
            kBulkRuns, bulk.ms, bulk.requests);
    wprintf(L"| %d items, %d one-item device reads | %d | %.1f | %.0f |\n", kParameters,
            kParameters, kBulkRuns, single.ms, single.requests);
    wprintf(L"| pass-through item through Orvane | %d | %.2f | %.0f |\n", kSingleRuns, viaOrvane.ms,
            viaOrvane.requests);
    wprintf(L"| the same item on the simulator | %d | %.2f | %.0f |\n", kSingleRuns, viaSim.ms,
            viaSim.requests);
    wprintf(L"| one drive parameter through Orvane, latency 0 | %d | %.2f | %.0f |\n", kSingleRuns,
            parameter.ms, parameter.requests);
    wprintf(
        L"one read of %d / %d reads: %.1fx faster (goal: at least 25), %.1fx fewer "
        L"telegrams (goal: at least 25)\n",
        kParameters, kParameters, single.ms / bulk.ms, single.requests / bulk.requests);
    wprintf(L"pass-through / direct: %.2f (goal: at most 1.5)\n", viaOrvane.ms / viaSim.ms);
    return 0;
}

}  // namespace

int wmain() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) return 1;
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                         RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    if (!bench::AwaitIdle() || !bench::UseTopology(Topology(), L"orvane_bench_items.topology")) {
        fwprintf(stderr, L"bench_items: cannot put the bench bus in place\n");
        return 1;
    }
    int rc = Run();
    bench::ForgetTopology();
    if (!bench::AwaitIdle()) {
        fwprintf(stderr,
                 L"bench_items: a simulator with the bench's bus still runs; restart the "
                 L"wineserver (wineserver -k) before running tests\n");
        rc = 1;
    }
    return rc;
}
