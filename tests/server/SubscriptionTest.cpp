// Subscriptions and asynchronous I/O of a group in-process: the group's thread runs
// without a timer, and the tests drive its services tick by tick.
#include "AsyncServices2.h"
#include "ItemsFixture.h"
#include "UpdateClock.h"
#include "com/Implementation.h"

using namespace items_fixture;

namespace {

// What one callback brought.
struct Call {
    enum Kind { kDataChange, kReadComplete, kWriteComplete, kCancelComplete } kind;
    DWORD transactionId = 0;
    std::map<OPCHANDLE, LONG> values;  // client handle -> value as a number
    std::map<OPCHANDLE, WORD> qualities;
    std::map<OPCHANDLE, HRESULT> errors;
};

// Records every callback; answers `answer` (a failing or disconnected client).
class Sink : public com::Object<IOPCDataCallback> {
public:
    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                              OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                              FILETIME*, HRESULT* pErrors) override {
        return Record(Call::kDataChange, dwTransid, dwCount, phClientItems, pvValues, pwQualities,
                      pErrors);
    }
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                FILETIME*, HRESULT* pErrors) override {
        return Record(Call::kReadComplete, dwTransid, dwCount, phClientItems, pvValues, pwQualities,
                      pErrors);
    }
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT, DWORD dwCount,
                                 OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
        return Record(Call::kWriteComplete, dwTransid, dwCount, pClienthandles, nullptr, nullptr,
                      pErrors);
    }
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE) override {
        return Record(Call::kCancelComplete, dwTransid, 0, nullptr, nullptr, nullptr, nullptr);
    }

    std::vector<Call> calls;
    HRESULT answer = S_OK;

private:
    HRESULT Record(Call::Kind kind, DWORD transid, DWORD count, const OPCHANDLE* clients,
                   const VARIANT* values, const WORD* qualities, const HRESULT* errors) {
        Call call{kind, transid};
        for (DWORD i = 0; i < count; ++i) {
            VARIANT number;
            VariantInit(&number);
            LONG value = -1;
            if (values &&
                SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&values[i]), 0, VT_I4)))
                value = V_I4(&number);
            call.values[clients[i]] = value;
            if (qualities) call.qualities[clients[i]] = qualities[i];
            call.errors[clients[i]] = errors[i];
        }
        calls.push_back(std::move(call));
        return answer;
    }
};

class Subscriptions : public Items {
protected:
    void SetUp() override {
        Items::SetUp();
        ASSERT_HR(S_OK, group_.query(&async_));
        ASSERT_HR(S_OK, group_.query(&container_));
        ASSERT_HR(S_OK, container_->FindConnectionPoint(IID_IOPCDataCallback, point_.put()));
        ASSERT_HR(S_OK, com::MakeObject(&sink_));
    }
    void TearDown() override {
        point_.reset();
        container_.reset();
        async_.reset();
        Items::TearDown();
    }
    COPCGroup* group() { return com::ImplementationOf<COPCGroup>(group_.get()); }
    CAsyncServices2* services() {
        return com::ImplementationOf<CAsyncServices2>(group()->services().get());
    }
    void Tick(BOOL update) { group()->services()->OnTimer(update); }
    DWORD Advise(Sink* sink) {
        DWORD cookie = 0;
        EXPECT_HR(S_OK, point_->Advise(sink->GetControllingUnknown(), &cookie));
        return cookie;
    }
    void SetValue(const wchar_t* address, LONG value) {
        com::CsLock guard(state_.lock);
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_UI2;
        V_UI2(&v) = static_cast<USHORT>(value);
        state_.values[address] = com::UniqueVariant(v);
    }
    HRESULT SetActive(BOOL active) {
        com::ComPtr<IOPCGroupStateMgt> state;
        EXPECT_HR(S_OK, group_.query(&state));
        return state->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr);
    }
    // Three parameters added as active items with client handles 100, 101, 102.
    std::vector<OPCHANDLE> ThreeItems() {
        for (const wchar_t* path : {L"a", L"b", L"c"}) Parameter(path);
        std::vector<OPCHANDLE> handles;
        EXPECT_HR(S_OK, Add({L"a", L"b", L"c"}, &handles));
        return handles;
    }

    com::ComPtr<IOPCAsyncIO2> async_;
    com::ComPtr<IConnectionPointContainer> container_;
    com::ComPtr<IConnectionPoint> point_;
    com::ComPtr<Sink> sink_;
};

TEST(UpdateClock, RateInTicksFirstAtOnceNoCatchUp) {
    UpdateClock clock(1000);
    std::vector<int> updates;
    for (int tick = 1; tick <= 41; ++tick) {
        if (clock.Tick(50)) updates.push_back(tick);
    }
    EXPECT_EQ((std::vector<int>{1, 21, 41}), updates) << "1000 ms at 50 ms: every 20th tick";

    // A timer that fires late (62 ms) still gives the rate on average.
    UpdateClock late(1000);
    int count = 0;
    for (int tick = 0; tick < 1613; ++tick) count += late.Tick(62);  // 100 s
    EXPECT_NEAR(100, count, 1);

    // A stall of 5 s is one update, not five; the next comes a whole rate later.
    UpdateClock stalled(1000);
    stalled.Tick(50);
    EXPECT_TRUE(stalled.Tick(5000));
    int after = 0;
    while (!stalled.Tick(50)) ++after;
    EXPECT_EQ(19, after);
}

TEST_F(Subscriptions, ActivationReportsAllItemsBeforeSetStateReturns) {
    const std::vector<OPCHANDLE> h = ThreeItems();
    ASSERT_HR(S_OK, SetActive(FALSE));
    Advise(sink_.get());
    ASSERT_HR(S_OK, async_->SetEnable(FALSE));
    ASSERT_HR(S_OK, SetActive(TRUE));
    ASSERT_EQ(1u, sink_->calls.size()) << "one OnDataChange, not gated by SetEnable";
    EXPECT_EQ(Call::kDataChange, sink_->calls[0].kind);
    EXPECT_EQ(0u, sink_->calls[0].transactionId);
    EXPECT_EQ(3u, sink_->calls[0].values.size());
    EXPECT_EQ(1500, sink_->calls[0].values[101]);
    Tick(TRUE);
    EXPECT_EQ(1u, sink_->calls.size()) << "disabled: no periodic data change";
}

TEST_F(Subscriptions, PeriodicUpdatesReportChangesOnly) {
    const std::vector<OPCHANDLE> h = ThreeItems();
    Advise(sink_.get());
    Tick(TRUE);
    ASSERT_EQ(1u, sink_->calls.size());
    EXPECT_EQ(3u, sink_->calls[0].values.size()) << "new items are reported once";
    Tick(TRUE);
    Tick(FALSE);
    EXPECT_EQ(1u, sink_->calls.size()) << "nothing changed";

    SetValue(L"b", 7);
    Tick(FALSE);
    EXPECT_EQ(1u, sink_->calls.size()) << "between updates nothing is read";
    Tick(TRUE);
    ASSERT_EQ(2u, sink_->calls.size());
    EXPECT_EQ((std::map<OPCHANDLE, LONG>{{101, 7}}), sink_->calls[1].values);

    // An item made inactive and active again without a change reports nothing.
    com::ComPtr<IOPCItemMgt> mgt;
    ASSERT_HR(S_OK, group_.query(&mgt));
    HRESULT* errors = nullptr;
    ASSERT_HR(S_OK, mgt->SetActiveState(1, const_cast<OPCHANDLE*>(&h[0]), FALSE, &errors));
    CoTaskMemFree(errors);
    Tick(TRUE);
    ASSERT_HR(S_OK, mgt->SetActiveState(1, const_cast<OPCHANDLE*>(&h[0]), TRUE, &errors));
    CoTaskMemFree(errors);
    Tick(TRUE);
    EXPECT_EQ(2u, sink_->calls.size());

    // An inactive group reports nothing.
    ASSERT_HR(S_OK, SetActive(FALSE));
    SetValue(L"c", 9);
    Tick(TRUE);
    EXPECT_EQ(2u, sink_->calls.size());
}

TEST_F(Subscriptions, DeadbandOfAnAnalogItem) {
    Parameter(L"speed");
    com::ComPtr<IUnknown> found;
    ASSERT_HR(S_OK, model_->FindParameter(com::UniqueBstr(L"speed").get(), found.put()));
    com::ComPtr<VKModelParameter> parameter;
    ASSERT_HR(S_OK, found.query(&parameter));
    ASSERT_HR(S_OK, parameter->SetTag(0x8000));
    ASSERT_TRUE(SUCCEEDED(parameter->SetMin(*com::UniqueVariant(LONG{0}).get())));
    ASSERT_TRUE(SUCCEEDED(parameter->SetMax(*com::UniqueVariant(LONG{200}).get())));
    ASSERT_HR(S_OK, Add({L"speed"}, nullptr));
    com::ComPtr<IOPCGroupStateMgt> state;
    ASSERT_HR(S_OK, group_.query(&state));
    FLOAT deadband = 10.0f;
    ASSERT_HR(S_OK,
              state->SetState(nullptr, nullptr, nullptr, nullptr, &deadband, nullptr, nullptr));
    Advise(sink_.get());
    SetValue(L"speed", 50);
    Tick(TRUE);
    ASSERT_EQ(1u, sink_->calls.size());
    SetValue(L"speed", 70);
    Tick(TRUE);
    EXPECT_EQ(1u, sink_->calls.size()) << "50 -> 70 is within the band of 20";
    SetValue(L"speed", 71);
    Tick(TRUE);
    ASSERT_EQ(2u, sink_->calls.size()) << "50 -> 71 is beyond it";
    EXPECT_EQ(71, sink_->calls[1].values[100]);
}

TEST_F(Subscriptions, LastKnownValueIsReportedOnce) {
    const std::vector<OPCHANDLE> h = ThreeItems();
    Advise(sink_.get());
    Tick(TRUE);
    {
        com::CsLock guard(state_.lock);
        state_.results[L"a"] = S_FALSE;
    }
    Tick(TRUE);
    ASSERT_EQ(2u, sink_->calls.size());
    EXPECT_EQ((std::map<OPCHANDLE, WORD>{{100, 0x0014}}), sink_->calls[1].qualities);
    Tick(TRUE);
    EXPECT_EQ(2u, sink_->calls.size());
}

// The device pass reads the items of one component in one ReadMultiple; an item whose
// bulk result failed keeps that result (the component read it alone), and every item of
// a refused call is read alone.
TEST_F(Subscriptions, DevicePassReadsInBulkFailuresAlone) {
    const std::vector<OPCHANDLE> h = ThreeItems();
    Advise(sink_.get());
    const struct {
        const char* name;
        const wchar_t* failing;  // an item whose reads fail, or null
        HRESULT call;            // ReadMultiple's answer
        int singleReads;
    } cases[] = {
        {"all in one call", nullptr, S_OK, 0},
        {"one failing item among good ones", L"b", S_OK, 0},
        {"the call refused as a whole", nullptr, E_ACCESSDENIED, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            com::CsLock guard(state_.lock);
            state_.results.clear();
            if (c.failing) state_.results[c.failing] = kDriveError;
        }
        state_.readMultipleResult = c.call;
        state_.readMultipleCounts.clear();
        const int reads = state_.reads;
        sink_->calls.clear();
        // The activation's pass, then a data change with every item.
        ASSERT_HR(S_OK, SetActive(FALSE));
        ASSERT_HR(S_OK, SetActive(TRUE));
        EXPECT_EQ(std::vector<LONG>{3}, state_.readMultipleCounts);
        EXPECT_EQ(c.singleReads, state_.reads - reads);
        ASSERT_EQ(1u, sink_->calls.size());
        for (OPCHANDLE client : {100u, 101u, 102u}) {
            const bool failing = c.failing && client == 101;
            EXPECT_HR(failing ? kDriveError : S_OK, sink_->calls[0].errors[client]) << client;
            EXPECT_EQ(failing ? 0x00 : 0xC0, sink_->calls[0].qualities[client]) << client;
        }
    }

    // One item left: a single read, no bulk call.
    state_.readMultipleResult = S_OK;
    state_.readMultipleCounts.clear();
    HRESULT* errors = nullptr;
    ASSERT_HR(S_OK, mgt_->SetActiveState(2, const_cast<OPCHANDLE*>(&h[1]), FALSE, &errors));
    CoTaskMemFree(errors);
    const int reads = state_.reads;
    Tick(TRUE);
    EXPECT_TRUE(state_.readMultipleCounts.empty());
    EXPECT_EQ(reads + 1, state_.reads);
}

TEST_F(Subscriptions, BadInput) {
    const std::vector<OPCHANDLE> h = ThreeItems();
    Parameter(L"ro", OPC_READABLE);
    std::vector<OPCHANDLE> ro;
    ASSERT_HR(S_OK, Add({L"ro"}, &ro));
    OPCHANDLE handle = h[0];
    DWORD cancel = 77;
    HRESULT* errors = nullptr;
    EXPECT_HR(CONNECT_E_NOCONNECTION, async_->Read(1, &handle, 1, &cancel, &errors));
    EXPECT_HR(CONNECT_E_NOCONNECTION, async_->Refresh2(OPC_DS_CACHE, 1, &cancel));
    EXPECT_HR(CONNECT_E_NOCONNECTION, async_->SetEnable(TRUE));
    Advise(sink_.get());

    cancel = 77;
    EXPECT_HR(E_INVALIDARG, async_->Read(0, &handle, 1, &cancel, &errors));
    EXPECT_EQ(0u, cancel);
    EXPECT_HR(E_INVALIDARG, async_->Read(1, nullptr, 1, &cancel, &errors));
    EXPECT_HR(E_INVALIDARG, async_->Write(1, &handle, nullptr, 1, &cancel, &errors));
    EXPECT_HR(E_INVALIDARG, async_->Refresh2(static_cast<OPCDATASOURCE>(3), 1, &cancel));
    EXPECT_HR(E_INVALIDARG, async_->GetEnable(nullptr));

    // Refused handles: S_FALSE, and no request when none was taken.
    OPCHANDLE bad[] = {0xDEAD, ro[0]};
    VARIANT values[2];
    VariantInit(&values[0]);
    VariantInit(&values[1]);
    EXPECT_HR(S_FALSE, async_->Write(2, bad, values, 1, &cancel, &errors));
    EXPECT_HR(OPC_E_INVALIDHANDLE, errors[0]);
    EXPECT_HR(OPC_E_BADRIGHTS, errors[1]);
    EXPECT_EQ(0u, cancel);
    CoTaskMemFree(errors);
    EXPECT_EQ(0u, services()->PendingCount());
    EXPECT_HR(E_FAIL, async_->Cancel2(12345)) << "not pending";
    EXPECT_HR(E_FAIL, async_->Cancel2(0));

    for (int i = 0; i < 10; ++i) EXPECT_HR(S_OK, async_->Refresh2(OPC_DS_CACHE, i, &cancel));
    EXPECT_HR(CONNECT_E_ADVISELIMIT, async_->Refresh2(OPC_DS_CACHE, 11, &cancel));
    EXPECT_HR(CONNECT_E_ADVISELIMIT, async_->Read(1, &handle, 1, &cancel, &errors));
    Tick(FALSE);
    EXPECT_EQ(0u, services()->PendingCount());
    ASSERT_HR(S_OK, SetActive(FALSE));
    EXPECT_HR(E_FAIL, async_->Refresh2(OPC_DS_CACHE, 1, &cancel)) << "inactive group";
}

TEST_F(Subscriptions, ConnectionPointBadInputAndFloods) {
    DWORD cookie = 0;
    EXPECT_HR(CONNECT_E_CANNOTCONNECT, point_->Advise(model_.get(), &cookie));
    EXPECT_HR(CONNECT_E_NOCONNECTION, point_->Unadvise(4711));
    for (int i = 0; i < 100; ++i) {
        ASSERT_HR(S_OK, point_->Unadvise(Advise(sink_.get())));
    }
    EXPECT_EQ(0u, services()->SinkCount());

    // 10,000 reads in a row: each refused or completed, none left queued.
    const std::vector<OPCHANDLE> h = ThreeItems();
    Advise(sink_.get());
    OPCHANDLE handle = h[0];
    size_t accepted = 0;
    for (int i = 0; i < 10000; ++i) {
        DWORD cancel = 0;
        HRESULT* errors = nullptr;
        const HRESULT hr = async_->Read(1, &handle, i, &cancel, &errors);
        CoTaskMemFree(errors);
        if (hr == S_OK) {
            ++accepted;
        } else {
            ASSERT_HR(CONNECT_E_ADVISELIMIT, hr) << "read " << i;
            Tick(FALSE);
        }
    }
    Tick(FALSE);
    EXPECT_EQ(0u, services()->PendingCount());
    size_t completed = 0;
    for (const Call& call : sink_->calls) completed += call.kind == Call::kReadComplete;
    EXPECT_EQ(accepted, completed);
}

TEST_F(Subscriptions, RequestsCompleteOnceCancelledWritesNever) {
    const std::vector<OPCHANDLE> h = ThreeItems();
    com::ComPtr<Sink> failing;
    ASSERT_HR(S_OK, com::MakeObject(&failing));
    failing->answer = E_FAIL;
    Advise(failing.get());
    Advise(sink_.get());
    Tick(TRUE);
    sink_->calls.clear();

    OPCHANDLE handles[] = {h[0], h[1]};
    VARIANT values[2];
    for (VARIANT& value : values) {
        VariantInit(&value);
        V_VT(&value) = VT_I4;
        V_I4(&value) = 3;
    }
    DWORD readId = 0, writeId = 0, cancelledId = 0, refreshId = 0;
    HRESULT* errors = nullptr;
    ASSERT_HR(S_OK, async_->Read(2, handles, 11, &readId, &errors));
    CoTaskMemFree(errors);
    ASSERT_HR(S_OK, async_->Write(2, handles, values, 12, &writeId, &errors));
    CoTaskMemFree(errors);
    ASSERT_HR(S_OK, async_->Write(1, handles, values, 13, &cancelledId, &errors));
    CoTaskMemFree(errors);
    ASSERT_HR(S_OK, async_->Refresh2(OPC_DS_DEVICE, 14, &refreshId));
    EXPECT_NE(0u, readId);
    EXPECT_NE(readId, writeId);
    ASSERT_HR(S_OK, async_->Cancel2(cancelledId));
    EXPECT_HR(E_FAIL, async_->Cancel2(cancelledId)) << "cancelled already";

    const int writes = state_.writes;
    Tick(FALSE);
    EXPECT_EQ(writes + 2, state_.writes) << "the cancelled write is never executed";
    Tick(FALSE);
    std::map<DWORD, int> completions;  // transaction -> callbacks of that kind
    for (const Call& call : sink_->calls) {
        ++completions[call.transactionId];
        if (call.transactionId == 11) {
            EXPECT_EQ(Call::kReadComplete, call.kind);
            EXPECT_EQ(2u, call.values.size());
        }
        if (call.transactionId == 13) {
            EXPECT_EQ(Call::kCancelComplete, call.kind);
        }
        if (call.transactionId == 14) {
            EXPECT_EQ(Call::kDataChange, call.kind);
            EXPECT_EQ(3u, call.values.size()) << "the refresh reports every active item";
        }
    }
    EXPECT_EQ((std::map<DWORD, int>{{11, 1}, {12, 1}, {13, 1}, {14, 1}}), completions)
        << "each exactly once, though another sink fails";
    EXPECT_HR(E_FAIL, async_->Cancel2(readId)) << "completed";
}

TEST_F(Subscriptions, DisconnectedSinksAreDroppedAndPollingStops) {
    const std::vector<OPCHANDLE> h = ThreeItems();
    sink_->answer = RPC_E_DISCONNECTED;
    Advise(sink_.get());
    Tick(TRUE);
    EXPECT_EQ(1u, sink_->calls.size());
    EXPECT_EQ(0u, services()->SinkCount()) << "unadvised";
    // Device traffic of a pass: its items' single and bulk reads.
    const auto traffic = [&] { return state_.reads + state_.readMultiples; };
    const int reads = traffic();
    Tick(TRUE);
    EXPECT_EQ(reads, traffic()) << "nobody left to see the values: no polling";

    // A new subscriber brings polling back.
    com::ComPtr<Sink> next;
    ASSERT_HR(S_OK, com::MakeObject(&next));
    Advise(next.get());
    SetValue(L"a", 5);
    Tick(TRUE);
    EXPECT_LT(reads, traffic());
    EXPECT_EQ(1u, next->calls.size());
}

TEST_F(Subscriptions, ClosingTheServerEndsGroupsNotRemoved) {
    const std::vector<OPCHANDLE> h = ThreeItems();
    Advise(sink_.get());
    const int terminates = state_.terminates;
    point_.reset();
    container_.reset();
    async_.reset();
    io_.reset();
    mgt_.reset();
    group_.reset();
    core_->Close();
    EXPECT_EQ(terminates + 3, state_.terminates) << "the group and its items are gone";
}

}  // namespace
