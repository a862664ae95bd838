// A client of Axolent.Orvane's subscriptions for out-of-process tests: a data-callback sink
// that records every callback, and a fixture with one group of drive items over the bus
// simulator's default topology.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/Memory.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "com/Variant.h"

namespace subscription_fixture {

const std::wstring kSlave3 = L"Orvane_BusSimulator/DP_Slave3_/1/";
const std::wstring kSlave4 = L"Orvane_BusSimulator/DP_Slave4_/1/";
constexpr DWORD kWaitMs = 60000;  // bound of every wait for a callback

VARIANT Bool(bool on) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = on ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

struct Update {
    DWORD transactionId;
    OPCHANDLE client;
    HRESULT error;
    WORD quality;
    LONG value;
};

// Records the callbacks, which come on the RPC threads of this process.
class Sink : public com::Object<IOPCDataCallback> {
public:
    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                              OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                              FILETIME*, HRESULT* pErrors) override {
        if (sleepMs) Sleep(sleepMs);
        Record(&changes_, dwTransid, dwCount, phClientItems, pvValues, pwQualities, pErrors);
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                FILETIME*, HRESULT* pErrors) override {
        Record(&reads_, dwTransid, dwCount, phClientItems, pvValues, pwQualities, pErrors);
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT, DWORD dwCount,
                                 OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
        Record(&writes_, dwTransid, dwCount, pClienthandles, nullptr, nullptr, pErrors);
        return S_OK;
    }
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE) override {
        Record(&cancels_, dwTransid, 0, nullptr, nullptr, nullptr, nullptr);
        return S_OK;
    }

    std::vector<Update> changes() { return Copy(changes_); }
    std::vector<Update> reads() { return Copy(reads_); }
    std::vector<Update> writes() { return Copy(writes_); }
    std::vector<DWORD> cancels() {
        std::vector<DWORD> ids;
        for (const Update& u : Copy(cancels_)) ids.push_back(u.transactionId);
        return ids;
    }
    // Bounded wait until the condition over the recorded data holds.
    bool WaitUntil(const std::function<bool()>& condition) {
        for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
            if (condition()) return true;
            Sleep(20);
        }
        return condition();
    }
    volatile DWORD sleepMs = 0;

private:
    std::vector<Update> Copy(const std::vector<Update>& list) {
        com::CsLock guard(lock_);
        return list;
    }
    void Record(std::vector<Update>* list, DWORD transid, DWORD count, const OPCHANDLE* clients,
                const VARIANT* values, const WORD* qualities, const HRESULT* errors) {
        com::CsLock guard(lock_);
        if (count == 0) list->push_back({transid, 0, S_OK, 0, 0});
        for (DWORD i = 0; i < count; ++i) {
            LONG number = -1;
            VARIANT converted;
            VariantInit(&converted);
            if (values && SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&values[i]),
                                                      0, VT_I4)))
                number = V_I4(&converted);
            list->push_back(
                {transid, clients[i], errors[i], qualities ? qualities[i] : WORD{0}, number});
        }
    }
    com::CriticalSection lock_;
    std::vector<Update> changes_, reads_, writes_, cancels_;
};

class Subscriptions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, CreateSimulator(&sim_)) << "the bus simulator";
        ASSERT_HR(S_OK, SimItem(sim_.get(), L"Sim/Reset").Write(Bool(true)));
        ASSERT_HR(S_OK, CreateServer(&server_)) << "Axolent.Orvane";
        ASSERT_HR(S_OK, com::MakeObject(&sink_));
    }
    void TearDown() override {
        RemoveGroup();
        if (sim_) SimItem(sim_.get(), L"Sim/Reset").Write(Bool(true));
    }
    // An inactive group with the items (client handles 1, 2, ...), the sink advised.
    void OpenGroup(const std::vector<std::wstring>& ids, DWORD rate) {
        DWORD revised = 0;
        ASSERT_HR(S_OK,
                  server_->AddGroup(L"", FALSE, rate, 1, nullptr, nullptr, 0, &hGroup_, &revised,
                                    IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt_.put())));
        std::vector<OPCITEMDEF> defs(ids.size());
        for (size_t i = 0; i < ids.size(); ++i) {
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
            defs[i].bActive = TRUE;
            defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
        }
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        ASSERT_HR(S_OK, mgt_->AddItems(static_cast<DWORD>(ids.size()), defs.data(), results.put(),
                                       errors.put()));
        for (size_t i = 0; i < ids.size(); ++i) handles_.push_back(results[i].hServer);
        ASSERT_HR(S_OK, mgt_.query(&state_));
        ASSERT_HR(S_OK, mgt_.query(&async_));
        com::ComPtr<IConnectionPointContainer> container;
        ASSERT_HR(S_OK, mgt_.query(&container));
        ASSERT_HR(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, point_.put()));
        ASSERT_HR(S_OK, point_->Advise(sink_->GetControllingUnknown(), &cookie_));
    }
    HRESULT SetActive(BOOL active) {
        DWORD revised = 0;  // an [out] reference: never null across processes
        return state_->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
    }
    void RemoveGroup() {
        if (point_ && cookie_) point_->Unadvise(cookie_);
        point_.reset();
        async_.reset();
        state_.reset();
        mgt_.reset();
        if (hGroup_) server_->RemoveGroup(hGroup_, TRUE);
        hGroup_ = 0;
    }
    size_t CountChanges(OPCHANDLE client, const std::function<bool(const Update&)>& match) {
        size_t n = 0;
        for (const Update& u : sink_->changes()) n += u.client == client && match(u);
        return n;
    }
    static bool Good(const Update& u) { return SUCCEEDED(u.error) && u.quality == 0xC0; }

    com::ComPtr<IOPCServer> sim_, server_;
    com::ComPtr<Sink> sink_;
    OPCHANDLE hGroup_ = 0;
    com::ComPtr<IOPCItemMgt> mgt_;
    com::ComPtr<IOPCGroupStateMgt> state_;
    com::ComPtr<IOPCAsyncIO2> async_;
    com::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    std::vector<OPCHANDLE> handles_;
};

}  // namespace subscription_fixture
