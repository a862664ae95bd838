// Round trips of parameter requests to the simulated bus server (an out-of-process
// local server) through the registered bus-server connection object and the
// interaction module's synchronous transfer: the road of a device read. The slave's
// latency is set to 0 for the measurement and restored afterwards.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../tests/busclient/TestObjects.h"
#include "BusTransfer.h"
#include "ParameterChannel.h"
#include "Settings.h"
#include "Telegram.h"
#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "vkopcinteraction.h"

namespace {

using namespace orvane::interaction;

constexpr int kWarmUp = 10;
constexpr int kIterations = 200;
constexpr wchar_t kPrefix[] = L"opc://Orvane.BusSimulator/";
constexpr BYTE kAxis = 1;
constexpr WORD kParameter = 1000;

com::UniqueVariant Text(const std::wstring& text) {
    return com::UniqueVariant(std::wstring_view(text));
}

// Announces an item to the connection object, which creates it in the simulator.
HRESULT InitItem(IvkInteraction2* interaction, const std::wstring& address, VARTYPE type) {
    com::ComPtr<vkopc_test::FakeParameter> parameter;
    HRESULT hr = com::MakeObject(&parameter, address, type);
    if (FAILED(hr)) return hr;
    com::ComPtr<IUnknown> replacement;
    VARTYPE addressType = VT_EMPTY;
    return interaction->Init(0, static_cast<VKModelParameter*>(parameter.get()), replacement.put(),
                             &addressType);
}

HRESULT ReadNumber(IvkInteraction2* interaction, const std::wstring& address, LONG* number) {
    com::UniqueVariant value, quality, timestamp, converted;
    HRESULT hr = interaction->Read(*Text(address), value.put(), quality.put(), timestamp.put());
    if (FAILED(hr)) return hr;
    if (FAILED(hr = VariantChangeType(converted.put(), value.get(), 0, VT_I4))) return hr;
    *number = V_I4(converted.get());
    return S_OK;
}

HRESULT WriteNumber(IvkInteraction2* interaction, const std::wstring& address, LONG number) {
    return interaction->Write(*Text(address), *com::UniqueVariant(number));
}

double PeakWorkingSetKiB() {
    PROCESS_MEMORY_COUNTERS counters = {sizeof(counters)};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PeakWorkingSetSize / 1024.0;
}

// Runs `exchange` kWarmUp + kIterations times and prints the statistics of the
// timed ones. Stops at the first failure.
bool Measure(const char* name, const std::function<HRESULT()>& exchange) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> micros;
    micros.reserve(kIterations);
    for (int i = 0; i < kWarmUp + kIterations; ++i) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        const HRESULT hr = exchange();
        QueryPerformanceCounter(&end);
        if (FAILED(hr)) {
            std::printf("%s: iteration %d failed: 0x%08lX\n", name, i,
                        static_cast<unsigned long>(hr));
            return false;
        }
        if (i >= kWarmUp)
            micros.push_back((end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart);
    }
    double sum = 0;
    for (double m : micros) sum += m;
    std::sort(micros.begin(), micros.end());
    const size_t n = micros.size();
    const double median = n % 2 ? micros[n / 2] : (micros[n / 2 - 1] + micros[n / 2]) / 2;
    const double p95 = micros[(n * 95 + 99) / 100 - 1];  // nearest rank
    std::printf("%-40s %6zu %10.0f %10.0f %10.0f %10.0f %10.0f %12.0f\n", name, n, sum / n, median,
                p95, micros.front(), micros.back(), PeakWorkingSetKiB());
    return true;
}

int Run() {
    com::ComPtr<IvkInteraction2> interaction;
    com::ComPtr<IvkAsyncInteraction> async;
    HRESULT hr = com::CoCreate(CLSID_OPCInteraction, &interaction, CLSCTX_INPROC_SERVER);
    if (FAILED(hr) || FAILED(hr = interaction.query(&async))) {
        std::printf(
            "CoCreateInstance(OPCInteraction) failed: 0x%08lX (is vkOPCInteraction registered?)\n",
            static_cast<unsigned long>(hr));
        return 1;
    }
    const std::wstring channel = std::wstring(kPrefix) + L"DP/Slave3/SlotI0S47D8209";
    const std::wstring profile =
        std::wstring(kPrefix) + L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber";
    const std::wstring latency = std::wstring(kPrefix) + L"Sim/Slave3/LatencyMs";
    if (FAILED(hr = InitItem(interaction.get(), channel, VT_ARRAY | VT_UI1)) ||
        FAILED(hr = InitItem(interaction.get(), profile, VT_UI2)) ||
        FAILED(hr = InitItem(interaction.get(), latency, VT_UI4))) {
        std::printf("Init of the simulator's items failed: 0x%08lX (is OrvaneBusSim registered?)\n",
                    static_cast<unsigned long>(hr));
        return 1;
    }
    LONG savedLatency = 0;
    if (FAILED(hr = ReadNumber(interaction.get(), latency, &savedLatency)) ||
        FAILED(hr = WriteNumber(interaction.get(), profile, 0x3A00)) ||
        FAILED(hr = WriteNumber(interaction.get(), latency, 0))) {
        std::printf("Setting up slave 3 failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }

    BusTransfer transfer;
    transfer.SetConnection(interaction, async);
    const Settings
        settings;  // defaults, not the registry: the poll limits do not depend on the machine
    TelegramTransfer sync(transfer, settings, false);
    ParameterChannel parameters(sync, nullptr);
    const com::UniqueVariant address = Text(channel);
    BYTE reference = 0;

    std::printf(
        "bench_channel: slave 3 of Orvane.BusSimulator, latency 0 ms (was %ld), %d iterations "
        "after %d "
        "warm-up\n",
        savedLatency, kIterations, kWarmUp);
    std::printf("%-40s %6s %10s %10s %10s %10s %10s %12s\n", "case", "count", "mean us",
                "median us", "p95 us", "min us", "max us", "peak WS KiB");
    bool ok = Measure("ReadSingle (1 parameter)", [&] {
        std::vector<BYTE> values;
        BYTE format = 0;
        return parameters.ReadSingle(*address, ++reference, kAxis, kAttributeValue, 1, kParameter,
                                     0, &values, &format, nullptr, nullptr);
    });
    const std::vector<ParameterAddress> forty(40, ParameterAddress{kParameter, 0, false});
    ok = ok && Measure("ReadMulti (40 parameters, 2 telegrams)", [&] {
             std::vector<BYTE> blocks;
             reference += 2;
             const HRESULT result = parameters.ReadMulti(
                 *address, reference, kAxis, kAttributeValue, forty, &blocks, nullptr, nullptr);
             if (SUCCEEDED(result) && blocks.empty()) return E_UNEXPECTED;
             return result;
         });

    if (FAILED(hr = WriteNumber(interaction.get(), latency, savedLatency))) {
        std::printf("Restoring LatencyMs %ld failed: 0x%08lX\n", savedLatency,
                    static_cast<unsigned long>(hr));
        return 1;
    }
    return ok ? 0 : 1;
}

}  // namespace

int main() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) {
        std::printf("CoInitializeEx failed: 0x%08lX\n", static_cast<unsigned long>(com.hr()));
        return 1;
    }
    return Run();
}
