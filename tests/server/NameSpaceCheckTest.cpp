// The namespace check through Axolent.Orvane's IOPCOV_NameSpace, out-of-process over
// the bus simulator: the drives are identified once, and what the check did is
// seen on the simulated bus.
#include <gtest/gtest.h>

#include "ServerTestSupport.h"
#include "com/Memory.h"
#include "com/Variant.h"
#include "orvane.h"

namespace {

TEST(ServerNameSpace, CheckIdentifiesTheSimulatedDrivesOnce) {
    CLSID simClsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Orvane.BusSimulator", &simClsid));
    com::ComPtr<IOPCServer> sim;
    ASSERT_EQ(S_OK, CoCreateInstance(simClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                     sim.put_void()))
        << "the bus simulator";
    VARIANT on;
    VariantInit(&on);
    V_VT(&on) = VT_BOOL;
    V_BOOL(&on) = VARIANT_TRUE;
    ASSERT_EQ(S_OK, SimItem(sim.get(), L"Sim/Reset").Write(on)) << "Sim/Reset";

    com::ComPtr<IOPCServer> server;
    ASSERT_EQ(S_OK, CreateServer(&server)) << "Axolent.Orvane";
    com::ComPtr<IOPCOV_NameSpace> nameSpace;
    ASSERT_EQ(S_OK, server.query(&nameSpace)) << "QueryInterface(IOPCOV_NameSpace)";
    long checked = 0;
    ASSERT_EQ(S_OK, nameSpace->CheckNameSpace(&checked)) << "first CheckNameSpace";
    EXPECT_EQ(1, checked);

    LONG requests[8] = {};
    for (int slave : {3, 4, 5, 7}) {
        const std::wstring sim_prefix = L"Sim/Slave" + std::to_wstring(slave) + L"/";
        const std::wstring profile =
            L"DP/Slave" + std::to_wstring(slave) + L"/DS_MSAC2_Parameter/MA_ProfileIdentNumber";
        EXPECT_EQ(0x3A00, SimItem(sim.get(), profile.c_str()).Number())
            << "the drive profile selected on slave " << slave;
        requests[slave] = SimItem(sim.get(), (sim_prefix + L"Requests").c_str()).Number();
        EXPECT_GT(requests[slave], 0) << "slave " << slave << " was asked";
    }

    checked = 0;
    ASSERT_EQ(S_OK, nameSpace->CheckNameSpace(&checked)) << "second CheckNameSpace";
    EXPECT_EQ(1, checked);
    for (int slave : {3, 4, 5, 7}) {
        const std::wstring counter = L"Sim/Slave" + std::to_wstring(slave) + L"/Requests";
        EXPECT_EQ(requests[slave], SimItem(sim.get(), counter.c_str()).Number())
            << "no request to slave " << slave << " for the second check";
    }
}

}  // namespace
