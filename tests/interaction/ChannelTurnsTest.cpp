// Synchronous exchanges take turns per drive channel: different drives have requests in
// process at the same time, one drive never two; "SerialBusAccess" 1 gives the whole line
// one turn. Seen through the simulator's counters, not through time.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <thread>

#include "ItemSupport.h"

namespace orvane::interaction::test {
namespace {

const std::wstring kSlow1 = L"Orvane_BusSimulator/DP_Slave7_/1/pari1000d18";
const std::wstring kSlow2 = L"Orvane_BusSimulator/DP_Slave7_/2/pari1000d18";

struct TurnCase {
    const char* name;
    DWORD serialBusAccess;
    LONG slowLatencyMs;
    std::wstring second;  // read while the slow drive works on kSlow1
    const wchar_t* counter;
    LONG expected;
};

void PrintTo(const TurnCase& c, std::ostream* os) { *os << c.name; }

class ChannelTurnsTest : public ItemFixture, public ::testing::WithParamInterface<TurnCase> {};

TEST_P(ChannelTurnsTest, RequestsInProcessAtOnce) {
    const TurnCase& c = GetParam();
    SetRegNumber(HKEY_CURRENT_USER, kItemsKey, L"SerialBusAccess", c.serialBusAccess);
    // Polls enough for the slow drive's answer: the answer timeout ends the wait.
    SetRegNumber(HKEY_CURRENT_USER, kItemsKey, L"MaxPollCountRead", 1000000);
    MakeCore();
    Check();
    for (const std::wstring& id : {kSlow1, kSlow2, kSpeed}) {
        ASSERT_EQ(Hr{S_OK}, Hr{Init(MakeItem(id, true).get())}) << Narrow(id);
    }
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.Reset()});
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimNumber(L"Sim/Slave7/LatencyMs", c.slowLatencyMs)});

    HRESULT slow = E_FAIL;
    std::thread first([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        std::string value;
        slow = Read(Drive(kSlow1), &value);
        CoUninitialize();
    });
    // The slow drive has its request (a count, not a time, says so).
    for (int i = 0; i < 20000 && Requests(7) < 1; ++i) Sleep(1);
    std::string value;
    EXPECT_EQ(Hr{S_OK}, Hr{Read(Drive(c.second), &value)});
    first.join();
    EXPECT_EQ(Hr{S_OK}, Hr{slow});
    EXPECT_EQ(c.expected, sim_.SimNumber(c.counter));
}

INSTANTIATE_TEST_SUITE_P(
    Turns, ChannelTurnsTest,
    ::testing::Values(TurnCase{"DrivesSideBySide", 0, 2000, kSpeed, L"Sim/MaxInProcess", 2},
                      TurnCase{"OneDriveNeverTwo", 0, 300, kSlow2, L"Sim/Slave7/MaxInProcess", 1},
                      TurnCase{"SerialLine", 1, 300, kSpeed, L"Sim/MaxInProcess", 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvane::interaction::test
