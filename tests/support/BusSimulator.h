// The bus simulator (OrvaneBusSim's local server) for tests of its clients.
//
//   class ChannelTest : public test_support::BusSimulatorTest { ... };   // MTA, bus reset
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "opc.h"

namespace test_support {

// A client connection that keeps the simulator running. The simulator is shared by all its
// clients: Start resets the bus to its configured state, so that every test begins there.
// Stop releases the connection; the simulator ends with its last client.
class BusSimulator {
public:
    static constexpr wchar_t kProgId[] = L"Orvane.BusSimulator";

    static bool Registered();
    HRESULT Start();
    void Stop();
    IOPCServer* server() const { return server_.get(); }

private:
    com::ComPtr<IOPCServer> server_;
};

// A test in the multithreaded apartment with the simulator started and reset.
class BusSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { simulator_.Stop(); }

    com::ComInitializer com_{COINIT_MULTITHREADED};
    BusSimulator simulator_;
};

}  // namespace test_support
