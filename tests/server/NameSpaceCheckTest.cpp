// The namespace check through Axolent.Orvane's IOPCOV_NameSpace, out-of-process over
// the bus simulator: the drives are identified once, and what the check did is
// seen on the simulated bus.
#include <gtest/gtest.h>

#include "ServerTestSupport.h"
#include "com/Memory.h"
#include "com/Variant.h"
#include "orvane.h"

namespace {

// One item of the bus simulator, read or written through a group of its own.
class SimItem {
public:
    SimItem(IOPCServer* sim, const wchar_t* id) : sim_(sim) {
        OPCHANDLE hGroup = 0;
        DWORD rate = 0;
        if (FAILED(sim->AddGroup(L"", FALSE, 1000, 1, nullptr, nullptr, 0, &hGroup, &rate,
                                 IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt_.put()))))
            return;
        hGroup_ = hGroup;
        OPCITEMDEF def = {};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(id);
        def.bActive = TRUE;
        def.hClient = 1;
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        if (mgt_->AddItems(1, &def, results.put(), errors.put()) == S_OK)
            hItem_ = results[0].hServer;
        mgt_.query(&io_);
    }
    ~SimItem() {
        io_.reset();
        mgt_.reset();
        if (hGroup_) sim_->RemoveGroup(hGroup_, TRUE);
    }
    LONG Number() {
        if (!io_ || !hItem_) return -1;
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        if (io_->Read(OPC_DS_DEVICE, 1, &hItem_, states.put(), errors.put()) != S_OK) return -1;
        com::UniqueVariant value(states[0].vDataValue);
        VariantClear(&states[0].vDataValue);
        return SUCCEEDED(VariantChangeType(value.get(), value.get(), 0, VT_I4)) ? V_I4(value.get())
                                                                                : -1;
    }
    HRESULT Write(const VARIANT& value) {
        if (!io_ || !hItem_) return E_FAIL;
        com::CoTaskMem<HRESULT> errors;
        return io_->Write(1, &hItem_, const_cast<VARIANT*>(&value), errors.put());
    }

private:
    IOPCServer* sim_;
    OPCHANDLE hGroup_ = 0;
    OPCHANDLE hItem_ = 0;
    com::ComPtr<IOPCItemMgt> mgt_;
    com::ComPtr<IOPCSyncIO> io_;
};

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
