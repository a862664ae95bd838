// The bus server killed under the interaction core and the bus-server connection
// object: the first request after the kill fails with the disconnection, later ones
// are served again by a new bus-server process with no action of the client. Run
// between two restarts of the wineserver (with_fresh_wineserver.sh): Wine keeps the
// dead process's class registration.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ItemSupport.h"
#include "Processes.h"
#include "com/Disconnection.h"

namespace orvane::interaction::test {
namespace {

constexpr DWORD kWaitMs = 30000;

// Repeats `call` until it succeeds, a bounded number of times: the reconnect waits a
// second after the loss, and Wine starts the new process in its own time.
template <class Call>
HRESULT UntilServed(Call call) {
    HRESULT hr = call();
    for (int attempt = 0; FAILED(hr) && attempt < 100; ++attempt) {
        Sleep(200);
        hr = call();
    }
    return hr;
}

using BusServerRestartTest = ItemFixture;

TEST_F(BusServerRestartTest, DriveParameterAndBusItemAreServedAgain) {
    MakeCore();
    Check();
    const auto item = MakeItem(kSpeed, true);
    ASSERT_TRUE(item);
    ASSERT_EQ(Hr{S_OK}, Hr{Init(item.get())});
    std::string value;
    ASSERT_EQ(Hr{S_OK}, Hr{Read(Drive(kSpeed), &value)});
    ASSERT_EQ("VT_UI2 1500", value);

    ASSERT_TRUE(test_support::KillBusSimulator(kWaitMs));
    const HRESULT first = Read(Drive(kSpeed), &value);
    EXPECT_TRUE(com::IsDisconnection(first)) << "first read after the kill: " << Hr{first};
    EXPECT_EQ(Hr{first}, Hr{Read(Drive(kSpeed), &value)}) << "at once again within the second";

    // The new bus server starts with every slave's profile unselected: the read
    // selects it again.
    EXPECT_EQ(Hr{S_OK}, Hr{UntilServed([&] { return Read(Drive(kSpeed), &value); })});
    EXPECT_EQ("VT_UI2 1500", value);
    EXPECT_GT(Requests(3), 0) << "the new simulator took the request";
    // The connection object's other items (the fixture's own) are back in their slots.
    EXPECT_EQ(Hr{S_OK}, Hr{sim_.SetFlag(sim_.withhold, false)});
    EXPECT_EQ(Hr{S_OK}, Hr{Terminate(Drive(kSpeed))});
}

}  // namespace
}  // namespace orvane::interaction::test
