// Subscriptions and asynchronous I/O of Axolent.Orvane out-of-process, over the bus
// simulator's default topology.
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

namespace {

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
        SimItem(sim_.get(), L"Sim/Reset").Write(Bool(true));
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

TEST_F(Subscriptions, MovingSpeedAsyncReadWriteRefreshAndCancel) {
    OpenGroup({kSlave3 + L"pari20d2", kSlave3 + L"pari1000d18"}, 200);
    ASSERT_HR(S_OK, SetActive(TRUE));
    EXPECT_EQ(1u, CountChanges(1, Good)) << "the activation reports the speed before it returns";
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, Good) >= 3; }))
        << "the actual speed of drive 3 moves";

    OPCHANDLE setpoint = handles_[1];
    DWORD cancelId = 0;
    com::CoTaskMem<HRESULT> errors;
    VARIANT value = *com::UniqueVariant(LONG{1234}).get();
    ASSERT_HR(S_OK, async_->Write(1, &setpoint, &value, 21, &cancelId, errors.put()));
    ASSERT_TRUE(sink_->WaitUntil([&] { return !sink_->writes().empty(); })) << "OnWriteComplete";
    EXPECT_EQ(21u, sink_->writes()[0].transactionId);
    EXPECT_HR(S_OK, sink_->writes()[0].error);
    ASSERT_HR(S_OK, async_->Read(1, &setpoint, 22, &cancelId, errors.put()));
    ASSERT_TRUE(sink_->WaitUntil([&] { return !sink_->reads().empty(); })) << "OnReadComplete";
    EXPECT_EQ(22u, sink_->reads()[0].transactionId);
    EXPECT_EQ(1234, sink_->reads()[0].value);

    for (OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
        const DWORD transaction = 30 + source;
        ASSERT_HR(S_OK, async_->Refresh2(source, transaction, &cancelId));
        ASSERT_TRUE(sink_->WaitUntil([&] {
            size_t n = 0;
            for (const Update& u : sink_->changes()) n += u.transactionId == transaction;
            return n == 2;
        })) << "refresh from source "
            << source << " reports both items";
    }

    // A cancel either takes the write out before it runs, or comes too late: the write
    // completes once, one way or the other.
    ASSERT_HR(S_OK, async_->Write(1, &setpoint, &value, 40, &cancelId, errors.put()));
    const HRESULT cancelled = async_->Cancel2(cancelId);
    if (cancelled == S_OK) {
        ASSERT_TRUE(sink_->WaitUntil([&] { return !sink_->cancels().empty(); }));
        EXPECT_EQ(std::vector<DWORD>{40}, sink_->cancels());
    } else {
        EXPECT_HR(E_FAIL, cancelled);
        ASSERT_TRUE(sink_->WaitUntil([&] { return sink_->writes().size() == 2; }));
    }
    Sleep(300);  // a stray second completion would come within a few ticks
    EXPECT_EQ(cancelled == S_OK ? 1u : 2u, sink_->writes().size());
}

TEST_F(Subscriptions, OfflineDriveTurnsBadThenGoodWhileTheOtherKeepsUpdating) {
    OpenGroup({kSlave3 + L"pari20d2", kSlave4 + L"pari20d2"}, 200);
    ASSERT_HR(S_OK, SetActive(TRUE));
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, Good) >= 2; }));

    SimItem offline(sim_.get(), L"Sim/Slave3/Offline");
    ASSERT_HR(S_OK, offline.Write(Bool(true)));
    const auto bad = [](const Update& u) { return !Good(u); };
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, bad) >= 1; }))
        << "slave 3's speed turns bad";
    const size_t before = CountChanges(2, Good);
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(2, Good) >= before + 2; }))
        << "slave 4's speed keeps its updates";

    ASSERT_HR(S_OK, offline.Write(Bool(false)));
    ASSERT_TRUE(sink_->WaitUntil([&] {
        const std::vector<Update> changes = sink_->changes();
        for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
            if (it->client == 1) return Good(*it);
        }
        return false;
    })) << "slave 3's speed turns good again";
}

TEST_F(Subscriptions, SlowSinkStallsNeitherTheServerNorItsOwnGroup) {
    OpenGroup({kSlave3 + L"pari20d2"}, 200);
    ASSERT_HR(S_OK, SetActive(TRUE));
    sink_->sleepMs = 2000;
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, Good) >= 2; }));
    // The group's thread now sleeps in the sink; everything else goes on.
    com::ComPtr<IOPCServer> other;
    ASSERT_HR(S_OK, CreateServer(&other));
    {
        SimItem unrelated(other.get(), (kSlave4 + L"pari1000d18").c_str());
        EXPECT_EQ(1000, unrelated.Number()) << "another client's synchronous read";
    }
    DWORD rate = 400, revised = 0;
    EXPECT_HR(S_OK, state_->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(400u, revised);
    sink_->sleepMs = 0;
    RemoveGroup();
    EXPECT_EQ(0u, [&] {
        DWORD count = 0;
        OPCSERVERSTATUS* status = nullptr;
        if (SUCCEEDED(server_->GetStatus(&status)) && status) {
            count = status->dwGroupCount;
            CoTaskMemFree(status->szVendorInfo);
            CoTaskMemFree(status);
        }
        return count;
    }()) << "the group is gone";
}

TEST_F(Subscriptions, ServerEndsAfterTheLastClientWithGroupsStillActive) {
    server_.reset();
    ASSERT_TRUE(WaitForNoServerProcess(kWaitMs)) << "an earlier server process did not end";
    ASSERT_HR(S_OK, CreateServer(&server_));
    OpenGroup({kSlave3 + L"pari20d2"}, 200);
    ASSERT_HR(S_OK, SetActive(TRUE));
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, Good) >= 2; }));
    // Everything released without Unadvise and RemoveGroup.
    point_.reset();
    async_.reset();
    state_.reset();
    mgt_.reset();
    hGroup_ = 0;
    cookie_ = 0;
    server_.reset();
    EXPECT_TRUE(WaitForNoServerProcess(kWaitMs)) << "Orvane.exe still runs";
}

}  // namespace
