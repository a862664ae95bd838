// Drive parameter items of Axolent.Orvane out-of-process, over the bus simulator's
// default topology: reads and writes, single and in one call, item properties and
// property items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/Memory.h"
#include "com/Variant.h"
#include "orvane.h"

namespace {

const std::wstring kSlave3 = L"Orvane_BusSimulator/DP_Slave3_/1/";
const std::wstring kSpeed = kSlave3 + L"pari1000d18";

VARIANT I4(LONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

double Number(const VARIANT& value) {
    VARIANT number;
    VariantInit(&number);
    if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_R8))) return -1;
    return V_R8(&number);
}

class DriveItems : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, CreateSimulator(&sim_)) << "the bus simulator";
        VARIANT on;
        VariantInit(&on);
        V_VT(&on) = VT_BOOL;
        V_BOOL(&on) = VARIANT_TRUE;
        ASSERT_HR(S_OK, SimItem(sim_.get(), L"Sim/Reset").Write(on)) << "Sim/Reset";
        ASSERT_HR(S_OK, CreateServer(&server_)) << "Axolent.Orvane";
        DWORD rate = 0;
        ASSERT_HR(S_OK,
                  server_->AddGroup(L"", TRUE, 1000, 1, nullptr, nullptr, 0, &hGroup_, &rate,
                                    IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt_.put())));
        ASSERT_HR(S_OK, mgt_.query(&io_));
    }
    void TearDown() override {
        io_.reset();
        mgt_.reset();
        if (hGroup_) server_->RemoveGroup(hGroup_, TRUE);
    }

    // Adds the items; every one must be accepted.
    std::vector<OPCHANDLE> Add(const std::vector<std::wstring>& ids,
                               std::vector<OPCITEMRESULT>* out = nullptr) {
        std::vector<OPCITEMDEF> defs(ids.size());
        for (size_t i = 0; i < ids.size(); ++i) {
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
            defs[i].bActive = TRUE;
            defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
        }
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        std::vector<OPCHANDLE> handles;
        EXPECT_HR(S_OK, mgt_->AddItems(static_cast<DWORD>(ids.size()), defs.data(), results.put(),
                                       errors.put()));
        if (!results || !errors) return handles;
        for (size_t i = 0; i < ids.size(); ++i) {
            EXPECT_HR(S_OK, errors[i]) << Narrow(ids[i]);
            handles.push_back(results[i].hServer);
            if (out) out->push_back(results[i]);
        }
        return handles;
    }
    // Device reads in one call; the values as numbers (-1 for a failed item).
    std::vector<double> Read(const std::vector<OPCHANDLE>& handles, std::vector<WORD>* qualities,
                             std::vector<com::UniqueVariant>* values = nullptr) {
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        std::vector<double> numbers;
        const HRESULT hr =
            io_->Read(OPC_DS_DEVICE, static_cast<DWORD>(handles.size()),
                      const_cast<OPCHANDLE*>(handles.data()), states.put(), errors.put());
        EXPECT_HR(S_OK, hr) << "IOPCSyncIO::Read";
        if (FAILED(hr)) return numbers;
        for (size_t i = 0; i < handles.size(); ++i) {
            numbers.push_back(FAILED(errors[i]) ? -1 : Number(states[i].vDataValue));
            if (qualities) qualities->push_back(states[i].wQuality);
            if (values) values->emplace_back(states[i].vDataValue);
            VariantClear(&states[i].vDataValue);
        }
        return numbers;
    }
    HRESULT WriteOne(OPCHANDLE handle, VARIANT value) {
        com::CoTaskMem<HRESULT> errors;
        const HRESULT hr = io_->Write(1, &handle, &value, errors.put());
        return FAILED(hr) ? hr : errors[0];
    }

    com::ComPtr<IOPCServer> sim_;
    com::ComPtr<IOPCServer> server_;
    OPCHANDLE hGroup_ = 0;
    com::ComPtr<IOPCItemMgt> mgt_;
    com::ComPtr<IOPCSyncIO> io_;
};

TEST_F(DriveItems, SpeedSetpointReadAndWritten) {
    std::vector<OPCITEMRESULT> results;
    const std::vector<OPCHANDLE> h = Add({kSpeed}, &results);
    ASSERT_EQ(1u, h.size());
    EXPECT_EQ(VT_UI2, results[0].vtCanonicalDataType);
    EXPECT_EQ(DWORD{OPC_READABLE | OPC_WRITEABLE}, results[0].dwAccessRights);
    std::vector<WORD> qualities;
    EXPECT_EQ(std::vector<double>{1500}, Read(h, &qualities));
    EXPECT_EQ(0x00C0, qualities[0]);

    EXPECT_HR(S_OK, WriteOne(h[0], I4(1234)));
    EXPECT_EQ(std::vector<double>{1234}, Read(h, nullptr));

    const struct {
        VARIANT value;
        HRESULT expected;
        const char* what;
    } refused[] = {
        {I4(70000), OPC_E_RANGE, "70000 to VT_UI2"},
        {I4(-1), OPC_E_RANGE, "-1 to VT_UI2"},
        {I4(4000), static_cast<HRESULT>(0xE0000002), "beyond the drive's maximum 3000"},
    };
    for (const auto& r : refused) EXPECT_HR(r.expected, WriteOne(h[0], r.value)) << r.what;
    com::UniqueVariant text(std::wstring_view(L"abc"));
    EXPECT_HR(DISP_E_TYPEMISMATCH, WriteOne(h[0], *text.get()));
    EXPECT_EQ(std::vector<double>{1234}, Read(h, nullptr)) << "nothing refused reached the drive";

    const std::vector<OPCHANDLE> hours = Add({kSlave3 + L"pari1007d19"});
    EXPECT_HR(static_cast<HRESULT>(0xE0000001), WriteOne(hours[0], I4(1)))
        << "a read-only drive parameter";
}

TEST_F(DriveItems, OneCallOverThreeDrives) {
    const std::vector<OPCHANDLE> h = Add({kSpeed, L"Orvane_BusSimulator/DP_Slave4_/2/pari1000d18",
                                          L"Orvane_BusSimulator/DP_Slave5_/1/pari1000d18"});
    ASSERT_EQ(3u, h.size());
    EXPECT_EQ((std::vector<double>{1500, 800, 300}), Read(h, nullptr)) << "each drive's own";

    VARIANT values[] = {I4(11), I4(22), I4(33)};
    com::CoTaskMem<HRESULT> errors;
    ASSERT_HR(S_OK, io_->Write(3, const_cast<OPCHANDLE*>(h.data()), values, errors.put()));
    EXPECT_EQ((std::vector<double>{11, 22, 33}), Read(h, nullptr));
}

TEST_F(DriveItems, ThreeItemsOfOneAxisTakeOneTelegram) {
    const std::vector<OPCHANDLE> h =
        Add({kSpeed, kSlave3 + L"pari1008d18", kSlave3 + L"pari1001d2"});
    ASSERT_EQ(3u, h.size());
    SimItem requests(sim_.get(), L"Sim/Slave3/Requests");
    const LONG before = requests.Number();
    const std::vector<double> values = Read(h, nullptr);
    EXPECT_EQ(before + 1, requests.Number()) << "one multi-parameter request";
    EXPECT_EQ((std::vector<double>{1500, 50, 0}), values);
}

TEST_F(DriveItems, TheTwentyTwoPropertiesWithThoseOfTheDrive) {
    com::ComPtr<IOPCItemProperties> properties;
    ASSERT_HR(S_OK, server_.query(&properties));
    com::ComPtr<IOPCOV_NameSpace> nameSpace;
    long checked = 0;
    ASSERT_HR(S_OK, server_.query(&nameSpace));
    ASSERT_HR(S_OK, nameSpace->CheckNameSpace(&checked));
    LPWSTR id = const_cast<LPWSTR>(kSpeed.c_str());

    // Not added by anyone yet: resolved for the call and gone again.
    DWORD count = 0;
    com::CoTaskMem<DWORD> ids;
    LPWSTR* descriptions = nullptr;
    com::CoTaskMem<VARTYPE> types;
    ASSERT_HR(S_OK, properties->QueryAvailableProperties(id, &count, ids.put(), &descriptions,
                                                         types.put()));
    EXPECT_EQ(22u, count);
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(descriptions);

    DWORD wanted[] = {5003, 5004, 5005, 5008};
    VARIANT* data = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_HR(S_OK, properties->GetItemProperties(id, 4, wanted, &data, &errors));
    for (int i = 0; i < 4; ++i) EXPECT_HR(S_OK, errors[i]) << "property " << wanted[i];
    EXPECT_EQ(0.0, Number(data[0])) << "5003 minimum";
    EXPECT_EQ(3000.0, Number(data[1])) << "5004 maximum";
    ASSERT_EQ(VT_BSTR, V_VT(&data[2]));
    EXPECT_EQ(0u, std::wstring(V_BSTR(&data[2])).find(L"Speed setpoint")) << "5005 name";
    EXPECT_EQ(6.0, Number(data[3])) << "5008 data type Unsigned16";
    for (int i = 0; i < 4; ++i) VariantClear(&data[i]);
    CoTaskMemFree(data);
    CoTaskMemFree(errors);

    LPWSTR* newIds = nullptr;
    DWORD nameId = 5005;
    ASSERT_HR(S_OK, properties->LookupItemIDs(id, 1, &nameId, &newIds, &errors));
    EXPECT_EQ(kSpeed + L"[Axolent name]", std::wstring(newIds[0]));
    CoTaskMemFree(newIds[0]);
    CoTaskMemFree(newIds);
    CoTaskMemFree(errors);
}

TEST_F(DriveItems, PropertyItemsReadAndWritten) {
    const std::vector<OPCHANDLE> h =
        Add({kSpeed + L"[Axolent name]", kSlave3 + L"pari1008d18[Axolent scaling factor]"});
    ASSERT_EQ(2u, h.size());
    std::vector<com::UniqueVariant> values;
    Read(h, nullptr, &values);
    ASSERT_EQ(2u, values.size());
    ASSERT_EQ(VT_BSTR, values[0].vt());
    EXPECT_EQ(0u, std::wstring(V_BSTR(values[0].get())).find(L"Speed setpoint"));

    VARIANT factor;
    VariantInit(&factor);
    V_VT(&factor) = VT_R4;
    V_R4(&factor) = 2.5f;
    EXPECT_HR(S_OK, WriteOne(h[1], factor));
    EXPECT_EQ(2.5, Read({h[1]}, nullptr)[0]);
}

}  // namespace
