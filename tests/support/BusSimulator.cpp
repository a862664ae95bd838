#include "BusSimulator.h"

#include "HrCheck.h"
#include "com/Memory.h"
#include "com/Result.h"
#include "com/Variant.h"

namespace test_support {

bool BusSimulator::Registered() {
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(kProgId, &clsid));
}

HRESULT BusSimulator::Start() {
    Stop();
    CLSID clsid;
    RETURN_IF_FAILED(CLSIDFromProgID(kProgId, &clsid));
    com::ComPtr<IOPCServer> server;
    RETURN_IF_FAILED(
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(server.put())));

    DWORD revised = 0;
    FLOAT deadband = 0.0f;
    LONG bias = 0;
    OPCHANDLE group = 0;
    com::ComPtr<IOPCItemMgt> itemMgt;
    RETURN_IF_FAILED(server->AddGroup(L"BusSimulatorReset", FALSE, 1000, 1, &bias, &deadband, 0x400,
                                      &group, &revised, IID_IOPCItemMgt,
                                      reinterpret_cast<IUnknown**>(itemMgt.put())));
    OPCITEMDEF def{};
    def.szAccessPath = const_cast<LPWSTR>(L"");
    def.szItemID = const_cast<LPWSTR>(L"Sim/Reset");
    def.bActive = TRUE;
    def.hClient = 1;
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;
    RETURN_IF_FAILED(itemMgt->AddItems(1, &def, results.put(), errors.put()));
    RETURN_IF_FAILED(errors[0]);
    OPCHANDLE item = results[0].hServer;

    com::ComPtr<IOPCSyncIO> syncIO;
    RETURN_IF_FAILED(itemMgt.query(&syncIO));
    VARIANT yes;
    VariantInit(&yes);
    V_VT(&yes) = VT_BOOL;
    V_BOOL(&yes) = VARIANT_TRUE;
    com::CoTaskMem<HRESULT> writeErrors;
    RETURN_IF_FAILED(syncIO->Write(1, &item, &yes, writeErrors.put()));
    RETURN_IF_FAILED(writeErrors[0]);

    syncIO.reset();
    itemMgt.reset();
    RETURN_IF_FAILED(server->RemoveGroup(group, TRUE));
    server_ = std::move(server);
    return S_OK;
}

void BusSimulator::Stop() { server_.reset(); }

void BusSimulatorTest::SetUp() {
    ASSERT_HR(S_OK, com_.hr()) << "CoInitializeEx(COINIT_MULTITHREADED)";
    ASSERT_TRUE(BusSimulator::Registered()) << "Orvane.BusSimulator is not registered";
    ASSERT_HR(S_OK, simulator_.Start()) << "starting and resetting the bus simulator";
}

}  // namespace test_support
