// Soak of an OPC DA server: N clients, each with its own server object and group, loop over
// synchronous and asynchronous reads and writes for M minutes, while the server process's
// working set and handle count are sampled. Reports calls per second, failed and hung calls,
// and the growth of memory and handles per minute after the first minute.
//
//   bench_soak.exe <ProgID> [--clients N] [--minutes M] [--sample-seconds S]
//                  [--item ID]... [--values V[,V...]] [--ops sr,sw,ar,aw] [--hang-seconds H]
//
// Without --item, Orvane.BusSimulator's clients use Sim/Slave<k>/LatencyMs of the slaves of its
// default topology (k = 3, 4, 5 in turn); other servers need --item. Client i reads and writes item i modulo the number of items,
// writing the values in turn (default 0: the value does not change).
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Memory.h"
#include "com/Object.h"
#include "com/Strings.h"
#include "com/Sync.h"
#include "com/Variant.h"
#include "opc.h"
#include "Processes.h"

namespace {

enum Op { kSyncRead, kSyncWrite, kAsyncRead, kAsyncWrite, kOpCount };
const char* const kOpNames[kOpCount] = {"sync read", "sync write", "async read", "async write"};
const wchar_t* const kOpSwitches[kOpCount] = {L"sr", L"sw", L"ar", L"aw"};

struct Options {
    std::wstring progId;
    int clients = 4;
    double minutes = 10;
    DWORD sampleSeconds = 5;
    DWORD hangSeconds = 10;
    std::vector<std::wstring> items;
    std::vector<LONG> values{0};
    bool ops[kOpCount] = {true, true, true, true};
};

// Counts of one kind of call, shared by all clients.
struct OpCounts {
    std::atomic<long long> done{0};
    std::atomic<long long> failed{0};
    std::atomic<long long> hung{0};
};
OpCounts g_counts[kOpCount];
std::atomic<bool> g_stop{false};

// Completions of one group's asynchronous calls, arriving on RPC threads.
class CompletionSink : public com::Object<IOPCDataCallback> {
public:
    CompletionSink() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    // Waits for the completion of transaction `id`; its master error, or ERROR_TIMEOUT.
    HRESULT Wait(DWORD id, DWORD timeoutMs) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (done_ && doneId_ == id) {
                    done_ = false;
                    return doneResult_;
                }
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            WaitForSingleObject(arrived_.get(), static_cast<DWORD>(deadline - now));
        }
    }

    STDMETHODIMP OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*,
                              WORD*, FILETIME*, HRESULT*) override {
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT hrMastererror,
                                DWORD dwCount, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                                HRESULT* pErrors) override {
        Complete(dwTransid, Outcome(hrMastererror, dwCount, pErrors));
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT hrMastererr, DWORD dwCount,
                                 OPCHANDLE*, HRESULT* pErrors) override {
        Complete(dwTransid, Outcome(hrMastererr, dwCount, pErrors));
        return S_OK;
    }
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE) override {
        Complete(dwTransid, E_ABORT);
        return S_OK;
    }

private:
    static HRESULT Outcome(HRESULT master, DWORD count, const HRESULT* errors) {
        if (FAILED(master)) return master;
        return count == 1 && errors ? errors[0] : E_UNEXPECTED;
    }
    void Complete(DWORD id, HRESULT result) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            doneId_ = id;
            doneResult_ = result;
        }
        SetEvent(arrived_.get());
    }

    com::UniqueHandle arrived_;
    std::mutex mutex_;  // guards done_, doneId_, doneResult_
    bool done_ = false;
    DWORD doneId_ = 0;
    HRESULT doneResult_ = S_OK;
};

// One client: its own server object, group, item and callback connection.
class SoakClient {
public:
    SoakClient(const Options& options, int index) : options_(options), index_(index) {}

    // The synchronous call in progress and since when (0: none); read by the watchdog.
    std::atomic<ULONGLONG> callStart{0};
    std::atomic<int> callOp{0};
    std::atomic<bool> finished{false};

    HRESULT Connect() {
        CLSID clsid;
        RETURN_IF_FAILED(CLSIDFromProgID(options_.progId.c_str(), &clsid));
        RETURN_IF_FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                          server_.put_void()));
        const std::wstring name = L"Soak" + std::to_wstring(index_);
        OPCHANDLE hGroup = 0;
        DWORD revised = 0;
        RETURN_IF_FAILED(server_->AddGroup(name.c_str(), FALSE, 1000, index_, nullptr, nullptr, 0,
                                           &hGroup, &revised, IID_IOPCItemMgt,
                                           reinterpret_cast<IUnknown**>(itemMgt_.put())));
        RETURN_IF_FAILED(itemMgt_.query(&syncIO_));
        RETURN_IF_FAILED(itemMgt_.query(&asyncIO_));
        const std::wstring& id = options_.items[index_ % options_.items.size()];
        OPCITEMDEF def = {};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(id.c_str());
        def.bActive = TRUE;
        def.hClient = 1;
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        RETURN_IF_FAILED(itemMgt_->AddItems(1, &def, results.put(), errors.put()));
        CoTaskMemFree(results[0].pBlob);
        RETURN_IF_FAILED(errors[0]);
        hItem_ = results[0].hServer;
        RETURN_IF_FAILED(com::MakeObject(&sink_));
        com::ComPtr<IConnectionPointContainer> container;
        RETURN_IF_FAILED(itemMgt_.query(&container));
        RETURN_IF_FAILED(container->FindConnectionPoint(IID_IOPCDataCallback, point_.put()));
        return point_->Advise(static_cast<IOPCDataCallback*>(sink_.get()), &cookie_);
    }

    void Run(ULONGLONG deadline) {
        while (!g_stop && GetTickCount64() < deadline) {
            for (int op = 0; op < kOpCount && !g_stop; ++op) {
                if (!options_.ops[op]) continue;
                const HRESULT hr = Call(static_cast<Op>(op));
                OpCounts& counts = g_counts[op];
                ++counts.done;
                if (hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT))
                    ++counts.hung;
                else if (FAILED(hr))
                    ++counts.failed;
            }
        }
    }

    void Disconnect() {
        if (point_ && cookie_) point_->Unadvise(cookie_);
        point_.reset();
        asyncIO_.reset();
        syncIO_.reset();
        itemMgt_.reset();
        server_.reset();
    }

private:
    HRESULT Call(Op op) {
        switch (op) {
            case kSyncRead: return Synchronous(op, [&] { return SyncRead(); });
            case kSyncWrite: return Synchronous(op, [&] { return SyncWrite(); });
            case kAsyncRead: return AsyncRead();
            case kAsyncWrite: return AsyncWrite();
            default: return E_UNEXPECTED;
        }
    }

    template <class F>
    HRESULT Synchronous(Op op, F call) {
        callOp = op;
        callStart = GetTickCount64();
        const HRESULT hr = call();
        callStart = 0;
        return hr;
    }

    VARIANT NextValue() {
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_I4;
        V_I4(&value) = options_.values[writes_++ % options_.values.size()];
        return value;
    }

    HRESULT SyncRead() {
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        const HRESULT hr = syncIO_->Read(OPC_DS_DEVICE, 1, &hItem_, states.put(), errors.put());
        if (FAILED(hr)) return hr;
        VariantClear(&states[0].vDataValue);
        return errors[0];
    }

    HRESULT SyncWrite() {
        VARIANT value = NextValue();
        com::CoTaskMem<HRESULT> errors;
        const HRESULT hr = syncIO_->Write(1, &hItem_, &value, errors.put());
        return FAILED(hr) ? hr : errors[0];
    }

    HRESULT AsyncRead() {
        const DWORD id = ++transaction_;
        DWORD cancelId = 0;
        com::CoTaskMem<HRESULT> errors;
        const HRESULT hr = asyncIO_->Read(1, &hItem_, id, &cancelId, errors.put());
        if (FAILED(hr)) return hr;
        if (FAILED(errors[0])) return errors[0];
        return sink_->Wait(id, options_.hangSeconds * 1000);
    }

    HRESULT AsyncWrite() {
        const DWORD id = ++transaction_;
        VARIANT value = NextValue();
        DWORD cancelId = 0;
        com::CoTaskMem<HRESULT> errors;
        const HRESULT hr = asyncIO_->Write(1, &hItem_, &value, id, &cancelId, errors.put());
        if (FAILED(hr)) return hr;
        if (FAILED(errors[0])) return errors[0];
        return sink_->Wait(id, options_.hangSeconds * 1000);
    }

    const Options& options_;
    const int index_;
    com::ComPtr<IOPCServer> server_;
    com::ComPtr<IOPCItemMgt> itemMgt_;
    com::ComPtr<IOPCSyncIO> syncIO_;
    com::ComPtr<IOPCAsyncIO2> asyncIO_;
    com::ComPtr<CompletionSink> sink_;
    com::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    OPCHANDLE hItem_ = 0;
    DWORD transaction_ = 0;
    size_t writes_ = 0;
};

struct ClientThread {
    SoakClient* client;
    ULONGLONG deadline;
    HANDLE connected;  // set once Connect returned
    HRESULT connectResult = E_PENDING;
};

DWORD WINAPI ClientMain(void* parameter) {
    auto* thread = static_cast<ClientThread*>(parameter);
    com::ComInitializer com(COINIT_MULTITHREADED);
    thread->connectResult = com.succeeded() ? thread->client->Connect() : com.hr();
    SetEvent(thread->connected);
    if (SUCCEEDED(thread->connectResult)) thread->client->Run(thread->deadline);
    thread->client->Disconnect();
    thread->client->finished = true;
    return 0;
}

// --- the server process ------------------------------------------------------------------

std::wstring FileName(std::wstring path) {
    if (!path.empty() && path.front() == L'"') path = path.substr(1, path.find(L'"', 1) - 1);
    const size_t space = path.find(L".exe ");
    if (space != std::wstring::npos) path.resize(space + 4);
    return path.substr(path.find_last_of(L"\\/") + 1);
}

// The program file of the ProgID's local server.
std::wstring ServerExe(const std::wstring& progId) {
    return FileName(test_support::LocalServer32Of(progId));
}

// Wine reports no handle count for another process (GetProcessHandleCount gives 0); the
// system's handle table, which it does fill, has one entry per handle with its owner.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

DWORD HandleCountFromSystemTable(DWORD pid) {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<Query>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    if (!query) return 0;
    std::vector<BYTE> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch && buffer.size() < (256u << 20)) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
            continue;
        }
        if (status < 0) return 0;
        const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
        DWORD count = 0;
        for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].ownerPid == pid;
        return count;
    }
}

struct Sample {
    double seconds;
    double workingSetKiB;
    double privateKiB;
    DWORD handles;
    long long calls;
};

bool TakeSample(HANDLE process, DWORD pid, double seconds, Sample* sample) {
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                              sizeof memory))
        return false;
    DWORD handles = 0;
    if (!GetProcessHandleCount(process, &handles) || handles == 0)
        handles = HandleCountFromSystemTable(pid);
    long long calls = 0;
    for (const OpCounts& counts : g_counts) calls += counts.done;
    *sample = {seconds, memory.WorkingSetSize / 1024.0, memory.PrivateUsage / 1024.0, handles,
               calls};
    return true;
}

// Least-squares slope of y over the samples from `from` seconds on, per minute.
template <class Y>
double SlopePerMinute(const std::vector<Sample>& samples, double from, Y y) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample& s : samples) {
        if (s.seconds < from) continue;
        const double x = s.seconds / 60.0;
        n += 1;
        sx += x;
        sy += y(s);
        sxx += x * x;
        sxy += x * y(s);
    }
    const double d = n * sxx - sx * sx;
    return n < 2 || d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

// --- options and report ------------------------------------------------------------------

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
    if (argc < 2 || argv[1][0] == L'-') return false;
    options->progId = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (i + 1 >= argc) return false;
        const wchar_t* value = argv[++i];
        if (name == L"--clients") {
            options->clients = _wtoi(value);
        } else if (name == L"--minutes") {
            options->minutes = _wtof(value);
        } else if (name == L"--sample-seconds") {
            options->sampleSeconds = _wtoi(value);
        } else if (name == L"--hang-seconds") {
            options->hangSeconds = _wtoi(value);
        } else if (name == L"--item") {
            options->items.push_back(value);
        } else if (name == L"--values") {
            options->values.clear();
            for (const wchar_t* p = value; *p;) {
                wchar_t* end = nullptr;
                options->values.push_back(wcstol(p, &end, 0));
                if (end == p) return false;
                p = *end == L',' ? end + 1 : end;
            }
        } else if (name == L"--ops") {
            for (bool& op : options->ops) op = false;
            const std::wstring list = std::wstring(value) + L",";
            for (size_t start = 0, comma; (comma = list.find(L',', start)) != std::wstring::npos;
                 start = comma + 1) {
                const std::wstring op = list.substr(start, comma - start);
                int k = 0;
                while (k < kOpCount && op != kOpSwitches[k]) ++k;
                if (k == kOpCount) return false;
                options->ops[k] = true;
            }
        } else {
            return false;
        }
    }
    if (options->items.empty() &&
        com::EqualsNoCase(options->progId.c_str(), L"Orvane.BusSimulator"))
        for (int k = 3; k <= 5; ++k)
            options->items.push_back(L"Sim/Slave" + std::to_wstring(k) + L"/LatencyMs");
    return options->clients > 0 && options->minutes > 0 && options->sampleSeconds > 0 &&
           options->hangSeconds > 0 && !options->items.empty() && !options->values.empty();
}

void PrintReport(const Options& options, const std::vector<Sample>& samples, double seconds) {
    std::printf("\n| call | calls | calls/s | failed | hung |\n|---|---|---|---|---|\n");
    long long total = 0, failed = 0, hung = 0;
    for (int op = 0; op < kOpCount; ++op) {
        if (!options.ops[op]) continue;
        const OpCounts& c = g_counts[op];
        std::printf("| %s | %lld | %.0f | %lld | %lld |\n", kOpNames[op], c.done.load(),
                    c.done / seconds, c.failed.load(), c.hung.load());
        total += c.done;
        failed += c.failed;
        hung += c.hung;
    }
    std::printf("| all | %lld | %.0f | %lld | %lld |\n", total, total / seconds, failed, hung);
    if (samples.empty()) return;
    const double from = 60;
    const double ws =
        SlopePerMinute(samples, from, [](const Sample& s) { return s.workingSetKiB; });
    const double priv = SlopePerMinute(samples, from, [](const Sample& s) { return s.privateKiB; });
    const double handles =
        SlopePerMinute(samples, from, [](const Sample& s) { return double(s.handles); });
    const double callsPerMinute =
        SlopePerMinute(samples, from, [](const Sample& s) { return double(s.calls); });
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    // Wine reports no private bytes for another process.
    const bool hasPrivate = last.privateKiB > 0;
    std::printf("\n| server | working set KiB |%s handles |\n|---|---|%s---|\n",
                hasPrivate ? " private KiB |" : "", hasPrivate ? "---|" : "");
    for (const Sample* s : {&first, &last}) {
        std::printf("| %s | %.0f |", s == &first ? "after connecting" : "at the end",
                    s->workingSetKiB);
        if (hasPrivate) std::printf(" %.0f |", s->privateKiB);
        std::printf(" %lu |\n", s->handles);
    }
    const auto fitted = std::count_if(samples.begin(), samples.end(),
                                      [&](const Sample& s) { return s.seconds >= from; });
    std::printf("| growth per minute after the first (least squares, %u samples) | %+.1f |",
                static_cast<unsigned>(fitted), ws);
    if (hasPrivate) std::printf(" %+.1f |", priv);
    std::printf(" %+.2f |\n", handles);
    if (callsPerMinute > 0) {
        std::printf("| growth per call | %+.1f bytes |", ws * 1024 / callsPerMinute);
        if (hasPrivate) std::printf(" %+.1f bytes |", priv * 1024 / callsPerMinute);
        std::printf(" |\n");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: bench_soak <ProgID> [--clients N] [--minutes M] [--sample-seconds S]"
                     " [--item ID]... [--values V[,V...]] [--ops sr,sw,ar,aw]"
                     " [--hang-seconds H]\n");
        return 2;
    }
    com::ComInitializer com(COINIT_MULTITHREADED);
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                         RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    const std::wstring exe = ServerExe(options.progId);
    if (exe.empty()) {
        std::fprintf(stderr, "%ls is not registered as a local server\n", options.progId.c_str());
        return 1;
    }
    std::printf(
        "%ls (%ls): %d clients, %.1f minutes, sample every %lu s, items:", options.progId.c_str(),
        exe.c_str(), options.clients, options.minutes, options.sampleSeconds);
    for (const std::wstring& item : options.items) std::printf(" %ls", item.c_str());
    std::printf("\n");

    const ULONGLONG start = GetTickCount64();
    const ULONGLONG deadline = start + static_cast<ULONGLONG>(options.minutes * 60000);
    std::vector<std::unique_ptr<SoakClient>> clients;
    std::vector<ClientThread> threads(options.clients);
    std::vector<com::UniqueHandle> handles;
    for (int i = 0; i < options.clients; ++i) {
        clients.push_back(std::make_unique<SoakClient>(options, i));
        threads[i] = {clients[i].get(), deadline, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        handles.emplace_back(CreateThread(nullptr, 0, ClientMain, &threads[i], 0, nullptr));
    }
    for (int i = 0; i < options.clients; ++i) {
        WaitForSingleObject(threads[i].connected, INFINITE);
        CloseHandle(threads[i].connected);
        if (FAILED(threads[i].connectResult)) {
            std::fprintf(stderr, "client %d: connecting failed with %#lx\n", i,
                         threads[i].connectResult);
            g_stop = true;
        }
    }

    // The process that serves the clients: the only one left of that program once any others
    // started by the concurrent activations have ended.
    std::vector<DWORD> ids = test_support::ProcessIds(exe);
    for (int tries = 0; ids.size() > 1 && tries < 100; ++tries) {
        Sleep(100);
        ids = test_support::ProcessIds(exe);
    }
    com::UniqueHandle server;
    if (ids.size() == 1)
        server.reset(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[0]));
    if (!server)
        std::fprintf(stderr, "%u processes of %ls: not sampling\n", unsigned(ids.size()),
                     exe.c_str());

    std::vector<Sample> samples;
    for (;;) {
        const double seconds = (GetTickCount64() - start) / 1000.0;
        Sample sample;
        // Only while the clients work: at the end they release everything.
        if (server && GetTickCount64() < deadline &&
            TakeSample(server.get(), ids[0], seconds, &sample)) {
            samples.push_back(sample);
            std::printf("%7.0f s  %10lld calls  working set %8.0f KiB  %5lu handles\n", seconds,
                        sample.calls, sample.workingSetKiB, sample.handles);
            std::fflush(stdout);
        }
        // A synchronous call that has not returned for the hang time counts as hung once.
        for (auto& client : clients) {
            const ULONGLONG since = client->callStart;
            if (since && GetTickCount64() - since > options.hangSeconds * 1000ULL) {
                ++g_counts[client->callOp].hung;
                client->callStart = 0;
            }
        }
        bool allFinished = true;
        for (auto& client : clients) allFinished = allFinished && client->finished;
        if (allFinished || GetTickCount64() >= deadline + options.hangSeconds * 1000ULL) break;
        Sleep(options.sampleSeconds * 1000);
    }
    const double seconds = (std::min(GetTickCount64(), deadline) - start) / 1000.0;
    PrintReport(options, samples, seconds);
    std::fflush(stdout);
    // A client stuck in a call cannot be joined: leave without waiting for it.
    for (auto& client : clients)
        if (!client->finished) TerminateProcess(GetCurrentProcess(), 3);
    return g_stop ? 1 : 0;
}
