// The fixture of the in-process item tests: a group of a server core against the real
// object model and a fake interaction component registered in this process under the
// interaction object's class id.
#pragma once

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
#include "com/Sync.h"
#include "com/Variant.h"

namespace items_fixture {

constexpr HRESULT kDriveError = static_cast<HRESULT>(0xE0000014);

// What the fake saw and how it answers; one per test.
struct FakeState {
    com::ComPtr<VKModelObject> model;
    // Answers by address, instead of 1500 and S_OK; the group's thread may read too.
    com::CriticalSection lock;
    std::map<std::wstring, com::UniqueVariant> values;
    std::map<std::wstring, HRESULT> results;
    int inits = 0, terminates = 0, reads = 0, readMultiples = 0, writeMultiples = 0, writes = 0;
    std::vector<LONG> writeMultipleCounts, readMultipleCounts;
    HRESULT readMultipleResult = S_OK;  // a failure refuses every ReadMultiple as a whole
    bool refuseInit = false;
    bool failReads = false;  // reads of "fail*" items answer kDriveError while set
    int checks = 0;
};
inline FakeState* g_state = nullptr;

inline std::wstring NameOf(IUnknown* parameter) {
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
        g_state->readMultipleCounts.push_back(lCount);
        if (FAILED(g_state->readMultipleResult)) return g_state->readMultipleResult;
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
        if (V_VT(&address) == VT_BSTR) {
            com::CsLock guard(g_state->lock);
            const std::wstring key(V_BSTR(&address));
            auto result = g_state->results.find(key);
            if (result != g_state->results.end() && result->second != S_OK) return result->second;
            auto fixed = g_state->values.find(key);
            if (fixed != g_state->values.end()) {
                V_VT(quality) = VT_I2;
                V_I2(quality) = 0xC0;
                return fixed->second.copy_to(value);
            }
        }
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
        // The groups' threads without timers: tests drive the services themselves.
        core_ = std::make_shared<CBaseServer>(std::move(groups), model_, 50, false);
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

}  // namespace items_fixture
