// Items, item management and synchronous I/O of a group in-process, against the real
// object model and a fake interaction component registered in this process under the
// interaction object's class id.
#include "ItemsFixture.h"

using namespace items_fixture;

namespace {

TEST_F(Items, UnknownIdsBecomeNodesOrLeaveNothing) {
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    EXPECT_HR(S_FALSE, Add({L"new1", L"bad1", L"", std::wstring(100000, L'x')}, &handles, &errors));
    EXPECT_HR(S_OK, errors[0]) << "an unknown ID the component accepts";
    EXPECT_TRUE(Exists(L"new1"));
    EXPECT_HR(OPC_E_UNKNOWNITEMID, errors[1]) << "refused by the component";
    EXPECT_FALSE(Exists(L"bad1")) << "the node made for a refused ID is gone";
    EXPECT_HR(OPC_E_INVALIDITEMID, errors[2]) << "empty ID";
    EXPECT_HR(OPC_E_UNKNOWNITEMID, errors[3]) << "an ID of 100000 characters";
    EXPECT_EQ(0u, handles[1]);

    // A requested type the value does not convert to: ended and removed again.
    const int terminates = state_.terminates;
    errors.clear();
    EXPECT_HR(S_FALSE, Add({L"new2"}, nullptr, &errors, VT_DISPATCH));
    EXPECT_HR(OPC_E_BADTYPE, errors[0]);
    EXPECT_FALSE(Exists(L"new2"));
    EXPECT_EQ(terminates + 1, state_.terminates) << "the failed item is terminated";

    // ValidateItems leaves nothing either.
    OPCITEMDEF def = {};
    def.szItemID = const_cast<LPWSTR>(L"new3");
    OPCITEMRESULT* results = nullptr;
    HRESULT* errs = nullptr;
    EXPECT_HR(S_OK, mgt_->ValidateItems(1, &def, FALSE, &results, &errs));
    EXPECT_EQ(VT_BSTR, results[0].vtCanonicalDataType);
    EXPECT_EQ(0u, results[0].hServer);
    CoTaskMemFree(results);
    CoTaskMemFree(errs);
    EXPECT_FALSE(Exists(L"new3"));
    EXPECT_EQ(state_.inits, state_.terminates + 1) << "only new1 is still bound";
}

TEST_F(Items, UnknownIdsLandInTheNodesOfTheNamespaceCheck) {
    Parameter(L"known");
    ASSERT_HR(S_OK, Add({L"known"}, nullptr));
    EXPECT_EQ(0, state_.checks) << "a known ID needs no check";

    ASSERT_HR(S_OK, Add({L"Bus/Dev/1/pari1000d18", L"Bus/Dev/1/pari1001d18"}, nullptr));
    EXPECT_EQ(1, state_.checks) << "once for the group";
    for (const wchar_t* id : {L"Bus/Dev/1/pari1000d18", L"Bus/Dev/1/pari1001d18"}) {
        com::ComPtr<IUnknown> found;
        ASSERT_HR(S_OK, model_->FindParameter(com::UniqueBstr(id).get(), found.put()));
        com::ComPtr<VKModelParameter> parameter;
        ASSERT_HR(S_OK, found.query(&parameter));
        com::UniqueBstr name;
        ASSERT_HR(S_OK, parameter->GetName(name.put()));
        EXPECT_EQ(std::wstring(id).substr(10), name.str()) << "a leaf of the axis node";
    }
}

TEST_F(Items, ReplacementChainOfThreeComponents) {
    Parameter(L"chain2");
    Parameter(L"chain3");
    std::vector<HRESULT> errors;
    EXPECT_HR(S_FALSE, Add({L"chain2", L"chain3"}, nullptr, &errors));
    EXPECT_HR(S_OK, errors[0]) << "three components";
    EXPECT_HR(E_FAIL, errors[1]) << "a fourth is refused";
}

TEST_F(Items, AnalogEuInfoFromTheLimits) {
    Parameter(L"P964");
    com::ComPtr<IUnknown> found;
    ASSERT_HR(S_OK, model_->FindParameter(com::UniqueBstr(L"P964").get(), found.put()));
    com::ComPtr<VKModelParameter> parameter;
    ASSERT_HR(S_OK, found.query(&parameter));
    ASSERT_HR(S_OK, parameter->SetTag(0x8000));
    ASSERT_TRUE(SUCCEEDED(parameter->SetMin(*com::UniqueVariant(LONG{10}).get())));
    ASSERT_TRUE(SUCCEEDED(parameter->SetMax(*com::UniqueVariant(LONG{0}).get())));
    ASSERT_HR(S_OK, Add({L"P964"}, nullptr));

    com::ComPtr<IUnknown> unknown;
    ASSERT_HR(S_OK, mgt_->CreateEnumerator(IID_IEnumOPCItemAttributes, unknown.put()));
    com::ComPtr<IEnumOPCItemAttributes> attributes;
    ASSERT_HR(S_OK, unknown.query(&attributes));
    OPCITEMATTRIBUTES* entry = nullptr;
    ULONG fetched = 0;
    ASSERT_HR(S_OK, attributes->Next(1, &entry, &fetched));
    EXPECT_EQ(OPC_ANALOG, entry->dwEUType);
    ASSERT_EQ(VT_ARRAY | VT_R8, V_VT(&entry->vEUInfo));
    const double* limits = static_cast<double*>(V_ARRAY(&entry->vEUInfo)->pvData);
    EXPECT_EQ(0.0, limits[0]);
    EXPECT_EQ(10.0, limits[1]);
    EXPECT_STREQ(L"P964", entry->szItemID);
    CoTaskMemFree(entry->szItemID);
    CoTaskMemFree(entry->szAccessPath);
    VariantClear(&entry->vEUInfo);
    CoTaskMemFree(entry);
    EXPECT_HR(S_FALSE, attributes->Next(2, &entry, &fetched));
    EXPECT_EQ(0u, fetched);
    CoTaskMemFree(entry);
}

TEST_F(Items, CacheReadsAfterAFailedDeviceRead) {
    Parameter(L"fail1");
    Parameter(L"ok1");
    std::vector<OPCHANDLE> h;
    ASSERT_HR(S_OK, Add({L"fail1", L"ok1"}, &h));
    state_.failReads = true;
    WORD quality = 0xFF;
    EXPECT_HR(kDriveError, ReadOne(OPC_DS_DEVICE, h[0], &quality));
    EXPECT_HR(kDriveError, ReadOne(OPC_DS_CACHE, h[0], &quality)) << "the cache reports it";
    EXPECT_EQ(0, quality);
    state_.failReads = false;
    // A good bulk read clears it.
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_HR(S_OK, io_->Read(OPC_DS_DEVICE, 2, h.data(), &states, &errors));
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    com::UniqueVariant value;
    EXPECT_HR(S_OK, ReadOne(OPC_DS_CACHE, h[0], &quality, &value));
    EXPECT_EQ(0xC0, quality);
    EXPECT_EQ(VT_UI2, value.vt());
}

TEST_F(Items, CacheReadsOfAnInactiveGroupAreOutOfService) {
    Parameter(L"p1");
    com::ComPtr<IUnknown> inactive;
    ASSERT_HR(S_OK, AddGroup(L"Inactive", FALSE, &inactive));
    ASSERT_HR(S_OK, inactive.query(&mgt_));
    ASSERT_HR(S_OK, inactive.query(&io_));
    std::vector<OPCHANDLE> h;
    ASSERT_HR(S_OK, Add({L"p1"}, &h));
    WORD quality = 0;
    EXPECT_HR(S_OK, ReadOne(OPC_DS_DEVICE, h[0], &quality));
    EXPECT_EQ(0xC0, quality) << "the device gives its quality";
    EXPECT_HR(S_OK, ReadOne(OPC_DS_CACHE, h[0], &quality));
    EXPECT_EQ(0x1C, quality);
}

TEST_F(Items, BulkReadForSeveralItemsSingleReadForOne) {
    Parameter(L"a");
    Parameter(L"b");
    Parameter(L"cookie1");
    std::vector<OPCHANDLE> h;
    ASSERT_HR(S_OK, Add({L"a", L"b", L"cookie1"}, &h));
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_HR(S_OK, io_->Read(OPC_DS_DEVICE, 3, h.data(), &states, &errors));
    EXPECT_EQ(1, state_.readMultiples);
    EXPECT_EQ(0, state_.reads);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(static_cast<OPCHANDLE>(100 + i), states[i].hClient);
        EXPECT_EQ(VT_UI2, V_VT(&states[i].vDataValue));
        EXPECT_EQ(1500, V_UI2(&states[i].vDataValue));
        EXPECT_EQ(0xC0, states[i].wQuality);
        VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    WORD quality = 0;
    EXPECT_HR(S_OK, ReadOne(OPC_DS_DEVICE, h[0], &quality));
    EXPECT_EQ(1, state_.readMultiples);
    EXPECT_EQ(1, state_.reads);

    EXPECT_HR(E_INVALIDARG,
              io_->Read(static_cast<OPCDATASOURCE>(3), 1, h.data(), &states, &errors));
    EXPECT_HR(E_INVALIDARG, io_->Read(OPC_DS_DEVICE, 0, h.data(), &states, &errors));
}

TEST_F(Items, BulkWriteSendsOnlyWhatFits) {
    Parameter(L"w1");
    Parameter(L"ro", OPC_READABLE);
    Parameter(L"w2");
    Parameter(L"w3");
    Parameter(L"w4");
    std::vector<OPCHANDLE> h;
    ASSERT_HR(S_OK, Add({L"w1", L"ro", L"w2", L"w3", L"w4"}, &h));
    VARIANT values[5];
    for (VARIANT& v : values) VariantInit(&v);
    V_VT(&values[0]) = VT_I4;
    V_I4(&values[0]) = 1234;
    V_VT(&values[1]) = VT_I4;
    V_VT(&values[2]) = VT_BSTR;
    V_BSTR(&values[2]) = SysAllocString(L"abc");
    V_VT(&values[3]) = VT_I4;
    V_I4(&values[3]) = 70000;
    V_VT(&values[4]) = VT_I4;
    V_I4(&values[4]) = -1;
    HRESULT* errors = nullptr;
    ASSERT_HR(S_FALSE, io_->Write(5, h.data(), values, &errors));
    ASSERT_EQ(1, state_.writeMultiples);
    EXPECT_EQ(1, state_.writeMultipleCounts[0]) << "only the value that fits goes out";
    EXPECT_HR(S_OK, errors[0]);
    EXPECT_HR(OPC_E_BADRIGHTS, errors[1]);
    EXPECT_HR(DISP_E_TYPEMISMATCH, errors[2]);
    EXPECT_HR(OPC_E_RANGE, errors[3]);
    EXPECT_HR(OPC_E_RANGE, errors[4]);
    CoTaskMemFree(errors);
    VariantClear(&values[2]);
    EXPECT_EQ(0, state_.writes);
}

TEST_F(Items, RemoveItemsWithAValidAndAnUnknownHandle) {
    Parameter(L"r1");
    std::vector<OPCHANDLE> h;
    ASSERT_HR(S_OK, Add({L"r1"}, &h));
    OPCHANDLE handles[] = {h[0], 0xDEAD};
    HRESULT* errors = nullptr;
    ASSERT_HR(S_FALSE, mgt_->RemoveItems(2, handles, &errors));
    EXPECT_HR(S_OK, errors[0]);
    EXPECT_HR(OPC_E_INVALIDHANDLE, errors[1]);
    CoTaskMemFree(errors);
    EXPECT_EQ(1, state_.terminates);
    WORD quality = 0;
    EXPECT_HR(OPC_E_INVALIDHANDLE, [&] {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errs = nullptr;
        io_->Read(OPC_DS_CACHE, 1, handles, &states, &errs);
        const HRESULT hr = errs[0];
        CoTaskMemFree(states);
        CoTaskMemFree(errs);
        return hr;
    }()) << quality;
    com::ComPtr<IUnknown> none;
    EXPECT_HR(S_FALSE, mgt_->CreateEnumerator(IID_IEnumString, none.put())) << "empty group";
}

TEST_F(Items, CloneGroupCopiesItemsOrLeavesNoGroup) {
    Parameter(L"c1");
    Parameter(L"c2");
    std::vector<OPCHANDLE> h;
    ASSERT_HR(S_OK, Add({L"c1", L"c2"}, &h));
    com::ComPtr<IOPCGroupStateMgt> state;
    ASSERT_HR(S_OK, group_.query(&state));
    com::ComPtr<IUnknown> clone;
    ASSERT_HR(S_OK, state->CloneGroup(L"Copy", IID_IUnknown, clone.put()));
    com::ComPtr<IOPCItemMgt> cloneMgt;
    ASSERT_HR(S_OK, clone.query(&cloneMgt));
    com::ComPtr<IUnknown> unknown;
    ASSERT_HR(S_OK, cloneMgt->CreateEnumerator(IID_IEnumOPCItemAttributes, unknown.put()));
    com::ComPtr<IEnumOPCItemAttributes> attributes;
    ASSERT_HR(S_OK, unknown.query(&attributes));
    OPCITEMATTRIBUTES* entries = nullptr;
    ULONG fetched = 0;
    ASSERT_HR(S_OK, attributes->Next(2, &entries, &fetched));
    ASSERT_EQ(2u, fetched);
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(VT_UI2, entries[i].vtRequestedDataType) << "the canonical type is requested";
        EXPECT_TRUE(entries[i].bActive);
        CoTaskMemFree(entries[i].szItemID);
        CoTaskMemFree(entries[i].szAccessPath);
        VariantClear(&entries[i].vEUInfo);
    }
    EXPECT_EQ(100u + 101u, entries[0].hClient + entries[1].hClient);
    CoTaskMemFree(entries);
    EXPECT_EQ(2u, core_->GroupCount());

    state_.refuseInit = true;
    com::ComPtr<IUnknown> failed;
    EXPECT_HR(S_FALSE, state->CloneGroup(L"Copy2", IID_IUnknown, failed.put()));
    EXPECT_FALSE(failed);
    EXPECT_EQ(2u, core_->GroupCount()) << "a failed copy leaves no group";
}

}  // namespace
