// Subscriptions and asynchronous I/O of Axolent.Orvane out-of-process, over the bus
// simulator's default topology.
#include "SubscriptionFixture.h"

using namespace subscription_fixture;

namespace {

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

// Parameter 1012 of slave 5 always answers error 0x14; read in one device pass with two
// good parameters of the same axis, it costs them nothing.
TEST_F(Subscriptions, FailingParameterAmongGoodOnesOfOneDrive) {
    const std::wstring slave5 = L"Orvane_BusSimulator/DP_Slave5_/1/";
    OpenGroup({slave5 + L"pari20d2", slave5 + L"pari1000d18", slave5 + L"pari1012d18"}, 200);
    ASSERT_HR(S_OK, SetActive(TRUE));
    const auto failed = [](const Update& u) { return FAILED(u.error) && u.quality == 0; };
    EXPECT_EQ(1u, CountChanges(2, Good)) << "the activation reports the setpoint";
    EXPECT_EQ(1u, CountChanges(3, failed)) << "and parameter 1012 with its error";
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, Good) >= 3; }))
        << "the actual speed keeps its updates";
    for (OPCHANDLE client : {1u, 2u})
        EXPECT_EQ(0u, CountChanges(client, [](const Update& u) { return !Good(u); })) << client;
    EXPECT_EQ(0u, CountChanges(3, Good));
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
