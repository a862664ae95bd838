// The bus road of Axolent.Orvane on a bench bus of its own: 8 drives, every one answering
// a parameter request in 30 ms; slave 1 has 100 parameters, the others 20. Each case runs
// with "SerialBusAccess" 0 (channels side by side) and 1 (one turn for the whole line),
// each setting in a server process of its own (the interaction object reads it once).
//  - Refresh of 100 parameters of one drive: an activation of the group, which makes the
//    device pass of every item and the data change before SetState returns; its time
//    divided by the drive's latency.
//  - 8 drives x 20 parameters in one group against 20 parameters of one drive, the same way.
//  - A synchronous read of one parameter of drive A (slave 1) while a read of drive B
//    (slave 2, taken off the bus) runs into its time-out, against the same read with B on
//    the bus.
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchBus.h"
#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Memory.h"
#include "com/Object.h"
#include "com/Result.h"
#include "com/Sync.h"
#include "com/Variant.h"
#include "opc.h"

namespace {

constexpr int kRuns = 5;
constexpr int kDrives = 8;
constexpr double kLatencyMs = 30;
constexpr int kManyParameters = 100;  // of slave 1
constexpr int kFewParameters = 20;    // of every drive
constexpr DWORD kTimeoutSeconds = 2;  // a time-out of drive B within the bench's patience
constexpr wchar_t kOrvaneKey[] = L"Software\\Axolent\\Orvane";

std::string Topology() {
    std::string text;
    for (int slave = 1; slave <= kDrives; ++slave) {
        text += "slave " + std::to_string(slave) + "\nlatency " +
                std::to_string(static_cast<int>(kLatencyMs)) +
                "\naxis 0\nparam 964 u16 [42 0x0101 0x0203 2025 0x0703 1]\nparam 918 u16 " +
                std::to_string(slave) +
                "\nparam 974 u16 [240 39 30]\nparam 978 u8 [1 0 0 0]\naxis 1\n";
        const int parameters = slave == 1 ? kManyParameters : kFewParameters;
        for (int i = 0; i < parameters; ++i)
            text += "param " + std::to_string(1000 + i) + " u16 " + std::to_string(i) + "\n";
    }
    return text;
}

std::wstring Parameter(int slave, int parameter) {
    return L"Orvane_BusSimulator/DP_Slave" + std::to_wstring(slave) + L"_/1/pari" +
           std::to_wstring(parameter) + L"d18";
}

// A DWORD of Orvane's settings for the run; the earlier state comes back at the end.
class Setting {
public:
    Setting(const wchar_t* name, DWORD value) : name_(name) {
        DWORD size = sizeof(old_);
        had_ = RegGetValueW(HKEY_LOCAL_MACHINE, kOrvaneKey, name, RRF_RT_REG_DWORD, nullptr, &old_,
                            &size) == ERROR_SUCCESS;
        Set(value);
    }
    ~Setting() {
        if (had_)
            Set(old_);
        else
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kOrvaneKey, name_);
    }
    Setting(const Setting&) = delete;
    Setting& operator=(const Setting&) = delete;
    void Set(DWORD value) {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kOrvaneKey, name_, REG_DWORD, &value, sizeof(value));
    }

private:
    const wchar_t* name_;
    DWORD old_ = 0;
    bool had_ = false;
};

// Keeps the size and the good items of the last data change.
class Sink : public com::Object<IOPCDataCallback> {
public:
    STDMETHODIMP OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE*,
                              VARIANT*, WORD* pwQualities, FILETIME*, HRESULT* pErrors) override {
        DWORD good = 0;
        for (DWORD i = 0; i < dwCount; ++i)
            good += SUCCEEDED(pErrors[i]) && (pwQualities[i] & 0xC0) == 0xC0;
        com::CsLock guard(lock_);
        count_ = dwCount;
        good_ = good;
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
    // Whether the last data change brought `count` good items; forgets it.
    bool TakeAllGood(DWORD count) {
        com::CsLock guard(lock_);
        const bool all = count_ == count && good_ == count;
        count_ = good_ = 0;
        return all;
    }

private:
    com::CriticalSection lock_;
    DWORD count_ = 0, good_ = 0;
};

// An inactive group of a server with its items and a sink.
class Group {
public:
    Group() = default;
    Group(const Group&) = delete;
    Group& operator=(const Group&) = delete;
    ~Group() {
        if (point_ && cookie_) point_->Unadvise(cookie_);
        point_.reset();
        state_.reset();
        io_.reset();
        if (group_) server_->RemoveGroup(group_, TRUE);
    }

    HRESULT Open(IOPCServer* server, const std::vector<std::wstring>& ids) {
        server_ = com::ComPtr<IOPCServer>(server);
        com::ComPtr<IOPCItemMgt> mgt;
        DWORD revised = 0;
        // A long rate: between the activations nothing polls.
        RETURN_IF_FAILED(server_->AddGroup(L"", FALSE, 600000, 1, nullptr, nullptr, 0, &group_,
                                           &revised, IID_IOPCItemMgt,
                                           reinterpret_cast<IUnknown**>(mgt.put())));
        std::vector<OPCITEMDEF> defs(ids.size());
        for (size_t i = 0; i < ids.size(); ++i) {
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
            defs[i].bActive = TRUE;
            defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
        }
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        const HRESULT added =
            mgt->AddItems(static_cast<DWORD>(ids.size()), defs.data(), results.put(), errors.put());
        if (added != S_OK) return FAILED(added) ? added : E_FAIL;
        for (size_t i = 0; i < ids.size(); ++i) handles_.push_back(results[i].hServer);
        com::ComPtr<IConnectionPointContainer> container;
        RETURN_IF_FAILED(com::MakeObject(&sink_));
        RETURN_IF_FAILED(mgt.query(&container));
        RETURN_IF_FAILED(container->FindConnectionPoint(IID_IOPCDataCallback, point_.put()));
        RETURN_IF_FAILED(point_->Advise(sink_->GetControllingUnknown(), &cookie_));
        RETURN_IF_FAILED(mgt.query(&state_));
        return mgt.query(&io_);
    }

    // One activation: the device pass of every item and the data change with all of
    // them, before SetState returns. Milliseconds; -1 unless every item came good.
    double Activate() {
        if (FAILED(SetActive(FALSE))) return -1;
        const double start = bench::NowMs();
        if (FAILED(SetActive(TRUE))) return -1;
        const double ms = bench::NowMs() - start;
        return sink_->TakeAllGood(static_cast<DWORD>(handles_.size())) ? ms : -1;
    }

    // A synchronous device read of item `index`; its error.
    HRESULT Read(size_t index) {
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        RETURN_IF_FAILED(io_->Read(OPC_DS_DEVICE, 1, &handles_[index], states.put(), errors.put()));
        VariantClear(&states[0].vDataValue);
        return errors[0];
    }

    // A number written to item `index` (simulator items).
    HRESULT Write(size_t index, const VARIANT& value) {
        com::CoTaskMem<HRESULT> errors;
        RETURN_IF_FAILED(
            io_->Write(1, &handles_[index], const_cast<VARIANT*>(&value), errors.put()));
        return errors[0];
    }

    // The device value of item `index` as a number; -1 when it cannot be read.
    LONG Number(size_t index) {
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        if (io_->Read(OPC_DS_DEVICE, 1, &handles_[index], states.put(), errors.put()) != S_OK)
            return -1;
        com::UniqueVariant value(states[0].vDataValue);
        VariantClear(&states[0].vDataValue);
        return SUCCEEDED(VariantChangeType(value.get(), value.get(), 0, VT_I4)) ? V_I4(value.get())
                                                                                : -1;
    }

private:
    HRESULT SetActive(BOOL active) {
        DWORD revised = 0;
        return state_->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
    }

    com::ComPtr<IOPCServer> server_;
    OPCHANDLE group_ = 0;
    std::vector<OPCHANDLE> handles_;
    com::ComPtr<IOPCSyncIO> io_;
    com::ComPtr<IOPCGroupStateMgt> state_;
    com::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    com::ComPtr<Sink> sink_;
};

HRESULT Connect(const wchar_t* progId, com::ComPtr<IOPCServer>* server) {
    CLSID clsid;
    RETURN_IF_FAILED(CLSIDFromProgID(progId, &clsid));
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                            server->put_void());
}

struct Sample {
    double ms = -1;       // median
    double requests = 0;  // telegrams per run, all drives
    int failed = 0;       // runs whose read failed (they count with their time)
};

// The simulator's counters and switches.
class Simulator {
public:
    HRESULT Open() {
        RETURN_IF_FAILED(Connect(L"Orvane.BusSimulator", &server_));
        std::vector<std::wstring> ids;
        for (int slave = 1; slave <= kDrives; ++slave)
            ids.push_back(L"Sim/Slave" + std::to_wstring(slave) + L"/Requests");
        ids.push_back(L"Sim/Slave2/Offline");
        return items_.Open(server_.get(), ids);
    }
    LONG Requests() {
        LONG sum = 0;
        for (int slave = 0; slave < kDrives; ++slave) sum += items_.Number(slave);
        return sum;
    }
    LONG Requests(int slave) { return items_.Number(slave - 1); }
    HRESULT TakeDriveBOffTheBus(bool off) {
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_BOOL;
        V_BOOL(&value) = off ? VARIANT_TRUE : VARIANT_FALSE;
        return items_.Write(kDrives, value);
    }

private:
    com::ComPtr<IOPCServer> server_;
    Group items_;
};

// Median of kRuns activations of the group and its telegrams per run.
Sample Refresh(Simulator& sim, Group& group) {
    Sample sample;
    if (group.Activate() < 0) return sample;  // warm-up
    std::vector<double> times;
    const LONG before = sim.Requests();
    for (int run = 0; run < kRuns; ++run) {
        const double ms = group.Activate();
        if (ms < 0) return sample;
        times.push_back(ms);
    }
    sample.requests = double(sim.Requests() - before) / kRuns;
    sample.ms = bench::Median(times);
    return sample;
}

// Median of kRuns reads of drive A, with drive B on the bus and idle, or taken off it with
// a read of it running into its time-out meanwhile.
Sample ReadBesideDriveB(Simulator& sim, Group& a, Group& b, bool offline) {
    Sample sample;
    if (FAILED(sim.TakeDriveBOffTheBus(offline))) return sample;
    std::vector<double> times;
    for (int run = 0; run < kRuns && offline; ++run) {
        const LONG before = sim.Requests(2);
        std::thread reader([&] {
            com::ComInitializer mta(COINIT_MULTITHREADED);
            b.Read(0);
        });
        // A's read starts once B's request is on its channel (bounded wait).
        for (int wait = 0; wait < 500 && sim.Requests(2) == before; ++wait) Sleep(2);
        const double start = bench::NowMs();
        sample.failed += FAILED(a.Read(0));
        times.push_back(bench::NowMs() - start);
        reader.join();
        // A channel that timed out is not asked again for a second.
        Sleep(1100);
    }
    for (int run = 0; run < kRuns && !offline; ++run) {
        const double start = bench::NowMs();
        sample.failed += FAILED(a.Read(0));
        times.push_back(bench::NowMs() - start);
    }
    sim.TakeDriveBOffTheBus(false);
    sample.ms = bench::Median(times);
    return sample;
}

struct Ratios {
    double refresh = -1, drives = -1, offline = -1;
};

// The three cases with one setting of "SerialBusAccess", in a server process of its own.
bool RunCases(DWORD serial, Ratios* ratios) {
    Setting access(L"SerialBusAccess", serial);
    Simulator sim;
    com::ComPtr<IOPCServer> orvane;
    if (!bench::AwaitIdle() || FAILED(sim.Open()) || FAILED(Connect(L"Axolent.Orvane", &orvane))) {
        fwprintf(stderr, L"bench_bus: connecting failed\n");
        return false;
    }
    std::vector<std::wstring> many, one, eight;
    for (int i = 0; i < kManyParameters; ++i) many.push_back(Parameter(1, 1000 + i));
    for (int i = 0; i < kFewParameters; ++i) one.push_back(Parameter(1, 1000 + i));
    for (int slave = 1; slave <= kDrives; ++slave)
        for (int i = 0; i < kFewParameters; ++i) eight.push_back(Parameter(slave, 1000 + i));
    Group manyGroup, oneGroup, eightGroup, driveA, driveB;
    if (FAILED(manyGroup.Open(orvane.get(), many)) || FAILED(oneGroup.Open(orvane.get(), one)) ||
        FAILED(eightGroup.Open(orvane.get(), eight)) ||
        FAILED(driveA.Open(orvane.get(), {Parameter(1, 1000)})) ||
        FAILED(driveB.Open(orvane.get(), {Parameter(2, 1000)}))) {
        fwprintf(stderr, L"bench_bus: the items cannot be added\n");
        return false;
    }
    const Sample hundred = Refresh(sim, manyGroup);
    const Sample twenty = Refresh(sim, oneGroup);
    const Sample drives = Refresh(sim, eightGroup);
    const Sample online = ReadBesideDriveB(sim, driveA, driveB, false);
    const Sample offline = ReadBesideDriveB(sim, driveA, driveB, true);
    if (hundred.ms < 0 || twenty.ms < 0 || drives.ms < 0 || online.ms < 0 || offline.ms < 0) {
        fwprintf(stderr, L"bench_bus: a refresh or read failed (SerialBusAccess %lu)\n", serial);
        return false;
    }
    wprintf(
        L"\nSerialBusAccess %lu:\n| case | runs | median ms | telegrams per run |\n"
        L"|---|---|---|---|\n",
        serial);
    wprintf(L"| refresh, %d parameters of one drive | %d | %.1f | %.1f |\n", kManyParameters, kRuns,
            hundred.ms, hundred.requests);
    wprintf(L"| refresh, %d parameters of one drive | %d | %.1f | %.1f |\n", kFewParameters, kRuns,
            twenty.ms, twenty.requests);
    wprintf(L"| refresh, %d drives x %d parameters | %d | %.1f | %.1f |\n", kDrives, kFewParameters,
            kRuns, drives.ms, drives.requests);
    wprintf(L"| read of drive A, drive B on the bus | %d (%d failed) | %.1f | |\n", kRuns,
            online.failed, online.ms);
    wprintf(L"| read of drive A, drive B off the bus in its time-out | %d (%d failed) | %.1f | |\n",
            kRuns, offline.failed, offline.ms);
    ratios->refresh = hundred.ms / kLatencyMs;
    ratios->drives = drives.ms / twenty.ms;
    ratios->offline = offline.ms / online.ms;
    return true;
}

}  // namespace

int wmain() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) return 1;
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                         RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    if (!bench::AwaitIdle() || !bench::UseTopology(Topology(), L"orvane_bench_bus.topology")) {
        fwprintf(stderr, L"bench_bus: cannot put the bench bus in place\n");
        return 1;
    }
    Ratios parallel, serial;
    bool done;
    {
        Setting timeout(L"TimeoutSeconds", kTimeoutSeconds);
        done = RunCases(0, &parallel) && RunCases(1, &serial);
        // The server must not keep the bench's settings or bus.
        done = bench::AwaitIdle() && done;
    }
    bench::ForgetTopology();
    if (!bench::AwaitIdle()) {
        fwprintf(stderr,
                 L"bench_bus: a simulator with the bench's bus still runs; restart the "
                 L"wineserver (wineserver -k) before running tests\n");
        return 1;
    }
    if (!done) return 1;
    wprintf(L"\n| ratio | SerialBusAccess 0 | SerialBusAccess 1 | goal |\n|---|---|---|---|\n");
    wprintf(L"| refresh of %d parameters / drive latency | %.2f | %.2f | at most 4 |\n",
            kManyParameters, parallel.refresh, serial.refresh);
    wprintf(L"| %d drives x %d / one drive x %d | %.2f | %.2f | at most 1.5 |\n", kDrives,
            kFewParameters, kFewParameters, parallel.drives, serial.drives);
    wprintf(L"| read of A, B off the bus / B on it | %.2f | %.2f | at most 1.2 |\n",
            parallel.offline, serial.offline);
    return 0;
}
