// Items, item management and synchronous I/O of a group in-process, against the real
// object model and a fake interaction component registered in this process under the
// interaction object's class id.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BaseServer.h"
#include "HrCheck.h"
#include "NotImplemented.h"
#include "OPCGroup.h"
#include "UnknownCont.h"
#include "com/Bstr.h"
#include "com/ClassFactory.h"
#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Strings.h"
#include "com/Variant.h"

namespace {

constexpr HRESULT kDriveError = static_cast<HRESULT>(0xE0000014);

// What the fake saw and how it answers; one per test.
struct FakeState {
    com::ComPtr<VKModelObject> model;
    int inits = 0, terminates = 0, reads = 0, readMultiples = 0, writeMultiples = 0, writes = 0;
    std::vector<LONG> writeMultipleCounts;
    bool refuseInit = false;
    bool failReads = false;  // reads of "fail*" items answer kDriveError while set
    int checks = 0;
};
FakeState* g_state = nullptr;

std::wstring NameOf(IUnknown* parameter) {
    com::ComPtr<VKModelParameter> p;
    com::UniqueBstr name;
    if (FAILED(parameter->QueryInterface(IID_VKModelParameter, p.put_void())) ||
        FAILED(p->GetName(name.put())))
        return L"";
    return name.str();
}

struct FakeInteraction2 : test_support::NotImplementedDispatch<IvkInteraction2> {
    using ComInterfaces = com::Iids<IvkInteraction2, IvkInteraction>;
};

// Items named "bad*" are refused; "chainN" hands over to "chain(N-1)" through a
// replacement node; "cookie*" are addressed by their cookie; reads of "fail*" fail
// while FakeState::failReads is set. Every read gives 1500 as VT_UI2, quality good.
class FakeInteraction
    : public com::Object<FakeInteraction2, test_support::NotImplementedDispatch<IvkBulkInteraction>,
                         IOPCOVI_NameSpace> {
public:
    // The check makes the axis node Bus/Dev/1.
    STDMETHODIMP CheckNameSpace(long* plChecked) override {
        ++g_state->checks;
        com::ComPtr<VKModelObject> node = g_state->model;
        for (const wchar_t* name : {L"Bus", L"Dev", L"1"}) {
            com::ComPtr<IUnknown> child;
            node->CreateObject(com::UniqueBstr(name).get(), nullptr, child.put());
            if (!child || FAILED(child.query(&node))) return E_FAIL;
        }
        *plChecked = 1;
        return S_OK;
    }

    STDMETHODIMP Init(long, IUnknown* pParameter, IUnknown** ppReplacement,
                      VARTYPE* pvtAddressType) override {
        *ppReplacement = nullptr;
        const std::wstring name = NameOf(pParameter);
        if (g_state->refuseInit || name.rfind(L"bad", 0) == 0) return E_FAIL;
        ++g_state->inits;
        *pvtAddressType = name.rfind(L"cookie", 0) == 0 ? VT_I4 : VT_BSTR;
        if (name.rfind(L"chain", 0) == 0 && name != L"chain0") {
            const std::wstring next = L"chain" + std::to_wstring(std::stoi(name.substr(5)) - 1);
            com::UniqueBstr text(next);
            com::ComPtr<IUnknown> found;
            if (g_state->model->FindParameter(text.get(), found.put()) != S_OK)
                g_state->model->CreateParameter(text.get(), nullptr, found.put());
            *ppReplacement = found.detach();
        }
        return S_OK;
    }
    STDMETHODIMP Terminate(VARIANT) override {
        ++g_state->terminates;
        return S_OK;
    }
    STDMETHODIMP Read(VARIANT vAddress, VARIANT* pvValue, VARIANT* pvQuality,
                      VARIANT* pvTimeStamp) override {
        ++g_state->reads;
        return Answer(vAddress, pvValue, pvQuality, pvTimeStamp);
    }
    STDMETHODIMP Write(VARIANT, VARIANT) override {
        ++g_state->writes;
        return S_OK;
    }
    STDMETHODIMP ReadMultiple(long lCount, SAFEARRAY* saAddresses, SAFEARRAY** psaValues,
                              SAFEARRAY** psaQualities, SAFEARRAY** psaTimeStamps,
                              SAFEARRAY** psaErrors) override {
        ++g_state->readMultiples;
        *psaValues = SafeArrayCreateVector(VT_VARIANT, 0, lCount);
        *psaQualities = SafeArrayCreateVector(VT_VARIANT, 0, lCount);
        *psaTimeStamps = SafeArrayCreateVector(VT_VARIANT, 0, lCount);
        *psaErrors = SafeArrayCreateVector(VT_I4, 0, lCount);
        for (long i = 0; i < lCount; ++i) {
            VARIANT* address = static_cast<VARIANT*>(saAddresses->pvData) + i;
            static_cast<LONG*>((*psaErrors)->pvData)[i] =
                Answer(*address, static_cast<VARIANT*>((*psaValues)->pvData) + i,
                       static_cast<VARIANT*>((*psaQualities)->pvData) + i,
                       static_cast<VARIANT*>((*psaTimeStamps)->pvData) + i);
        }
        return S_OK;
    }
    STDMETHODIMP WriteMultiple(long lCount, SAFEARRAY*, SAFEARRAY*,
                               SAFEARRAY** psaErrors) override {
        ++g_state->writeMultiples;
        g_state->writeMultipleCounts.push_back(lCount);
        *psaErrors = SafeArrayCreateVector(VT_I4, 0, lCount);
        return S_OK;
    }

private:
    static HRESULT Answer(const VARIANT& address, VARIANT* value, VARIANT* quality, VARIANT* time) {
        VariantInit(value);
        VariantInit(quality);
        VariantInit(time);
        if (g_state->failReads && V_VT(&address) == VT_BSTR &&
            std::wstring(V_BSTR(&address)).find(L"fail") != std::wstring::npos)
            return kDriveError;
        V_VT(value) = VT_UI2;
        V_UI2(value) = 1500;
        V_VT(quality) = VT_I2;
        V_I2(quality) = 0xC0;
        V_VT(time) = VT_DATE;
        V_DATE(time) = 46000.5;
        return S_OK;
    }
};

// One component for every binding, as the interaction object is one per process.
class FakeFactory : public com::Object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!instance_) {
            const HRESULT hr = com::MakeObject(&instance_);
            if (FAILED(hr)) return hr;
        }
        return instance_->QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    com::ComPtr<FakeInteraction> instance_;
};

class Items : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(com_.succeeded());
        g_state = &state_;
        com::ComPtr<FakeFactory> factory;
        ASSERT_HR(S_OK, com::MakeObject(&factory));
        ASSERT_HR(S_OK,
                  CoRegisterClassObject(CLSID_OrvaneInteraction, factory.get(),
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &registration_));
        ASSERT_HR(S_OK, CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_VKModelObject, model_.put_void()))
            << "is VkObjectModel.dll registered?";
        state_.model = model_;
        com::ComPtr<CUnknownCont> groups;
        ASSERT_HR(S_OK, com::MakeObject(&groups));
        core_ = std::make_shared<CBaseServer>(std::move(groups), model_, 50);
        ASSERT_HR(S_OK, AddGroup(L"G", TRUE, &group_));
        ASSERT_HR(S_OK, group_.query(&mgt_));
        ASSERT_HR(S_OK, group_.query(&io_));
    }
    void TearDown() override {
        io_.reset();
        mgt_.reset();
        group_.reset();
        if (core_) core_->Close();
        core_.reset();
        state_.model.reset();
        model_.reset();
        if (registration_) CoRevokeClassObject(registration_);
        g_state = nullptr;
    }

    HRESULT AddGroup(const wchar_t* name, BOOL active, com::ComPtr<IUnknown>* group) {
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        return core_->AddGroup(name, active, 1000, 7, nullptr, nullptr, 0, &handle, &revised,
                               IID_IUnknown, group->put());
    }
    // A drive parameter of the model, as the interaction module would make it.
    void Parameter(const wchar_t* path, long rights = OPC_READABLE | OPC_WRITEABLE) {
        com::ComPtr<IUnknown> made;
        ASSERT_HR(S_OK, model_->CreateParameter(com::UniqueBstr(path).get(), nullptr, made.put()))
            << com::WideToUtf8(path);
        com::ComPtr<VKModelParameter> parameter;
        ASSERT_HR(S_OK, made.query(&parameter));
        VARIANT zero;
        VariantInit(&zero);
        V_VT(&zero) = VT_UI2;
        ASSERT_HR(S_OK, parameter->Init(com::UniqueBstr(path).get(), rights, VT_UI2, zero));
    }
    HRESULT Add(std::vector<std::wstring> ids, std::vector<OPCHANDLE>* handles,
                std::vector<HRESULT>* errors = nullptr, VARTYPE requested = VT_EMPTY) {
        std::vector<OPCITEMDEF> defs(ids.size());
        for (size_t i = 0; i < ids.size(); ++i) {
            defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
            defs[i].bActive = TRUE;
            defs[i].hClient = static_cast<OPCHANDLE>(100 + i);
            defs[i].vtRequestedDataType = requested;
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errs = nullptr;
        const HRESULT hr =
            mgt_->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errs);
        if (results) {
            for (size_t i = 0; i < ids.size(); ++i) {
                if (handles) handles->push_back(results[i].hServer);
                if (errors) errors->push_back(errs[i]);
            }
        }
        CoTaskMemFree(results);
        CoTaskMemFree(errs);
        return hr;
    }
    bool Exists(const wchar_t* path) {
        com::ComPtr<IUnknown> found;
        return model_->FindParameter(com::UniqueBstr(path).get(), found.put()) == S_OK;
    }
    // One read; the item's error, value and quality.
    HRESULT ReadOne(OPCDATASOURCE source, OPCHANDLE handle, WORD* quality,
                    com::UniqueVariant* value = nullptr) {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT hr = io_->Read(source, 1, &handle, &states, &errors);
        if (FAILED(hr)) return hr;
        const HRESULT item = errors[0];
        *quality = states[0].wQuality;
        if (value)
            value->reset(states[0].vDataValue);
        else
            VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return item;
    }

    com::ComInitializer com_{COINIT_MULTITHREADED};
    FakeState state_;
    DWORD registration_ = 0;
    com::ComPtr<VKModelObject> model_;
    std::shared_ptr<CBaseServer> core_;
    com::ComPtr<IUnknown> group_;
    com::ComPtr<IOPCItemMgt> mgt_;
    com::ComPtr<IOPCSyncIO> io_;
};

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
