// The parameter channel of a slave and the simulator's items, on a fake clock.
#include <gtest/gtest.h>

#include "Bus.h"
#include "Slave.h"

namespace bussim {
namespace {

using Bytes = std::vector<uint8_t>;

const char kTopology[] = R"(
slave 3
latency 20
axis 0
param 918 u16 3
axis 1
param 10 u16 100 rw
slave 4 Other/
vendor "Brennholt"
axis 0
param 918 u16 4
)";

const Bytes kReadNodeAddress{1, 1, 0, 1, 0x10, 0, 0x03, 0x96, 0, 0};
const Bytes kNodeAddressAnswer{1, 1, 0, 1, 6, 1, 0, 3};

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(ParseTopology(kTopology, &topology_, &error)) << error;
        bus_ = std::make_unique<Bus>(topology_, [this] { return now_; });
    }

    ItemStatus WriteBytes(const char* id, const Bytes& bytes) {
        return bus_->Write(id, ItemValue::Bytes(bytes));
    }
    ItemStatus ReadValue(const char* id, ItemValue* value) { return bus_->Read(id, value); }
    uint32_t Number(const char* id) {
        ItemValue value;
        EXPECT_EQ(bus_->Read(id, &value), ItemStatus::kOk) << "Read(" << id << ")";
        return value.number;
    }
    void SelectProfile(const char* id) {
        ASSERT_EQ(bus_->Write(id, ItemValue::UInt16(kDriveProfileIdent)), ItemStatus::kOk)
            << "Write(" << id << ")";
    }

    Topology topology_;
    uint64_t now_ = 1000;
    std::unique_ptr<Bus> bus_;
};

TEST_F(ChannelTest, ItemsOfTheTopology) {
    std::vector<std::string> ids;
    for (const ItemInfo& info : bus_->Items()) ids.push_back(info.id);
    const std::vector<std::string> expected{"DP/Slave3/DS_Vendorname",
                                            "DP/Slave3/SlotI0S47D8209",
                                            "DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber",
                                            "Other/DS_Vendorname",
                                            "Other/SlotI0S47D8209",
                                            "Other/DS_MSAC2_Parameter/MA_ProfileIdentNumber",
                                            "Sim/Reset",
                                            "Sim/ShutdownRequest",
                                            "Sim/AsyncDelayMs",
                                            "Sim/MaxInProcess",
                                            "Sim/Slave3/LatencyMs",
                                            "Sim/Slave3/Offline",
                                            "Sim/Slave3/WithholdCompletions",
                                            "Sim/Slave3/Faults",
                                            "Sim/Slave3/Requests",
                                            "Sim/Slave3/RequestBytes",
                                            "Sim/Slave3/Responses",
                                            "Sim/Slave3/ResponseBytes",
                                            "Sim/Slave3/MaxInProcess",
                                            "Sim/Slave4/LatencyMs",
                                            "Sim/Slave4/Offline",
                                            "Sim/Slave4/WithholdCompletions",
                                            "Sim/Slave4/Faults",
                                            "Sim/Slave4/Requests",
                                            "Sim/Slave4/RequestBytes",
                                            "Sim/Slave4/Responses",
                                            "Sim/Slave4/ResponseBytes",
                                            "Sim/Slave4/MaxInProcess"};
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(bus_->FindItem("dp/slave3/DS_Vendorname"), nullptr) << "item IDs are case-sensitive";
    ItemValue value;
    ASSERT_EQ(bus_->Read("Other/DS_Vendorname", &value), ItemStatus::kOk);
    EXPECT_EQ(value.text, "Brennholt");
    EXPECT_EQ(bus_->Read("DP/Slave9/DS_Vendorname", &value), ItemStatus::kUnknownItem);
}

TEST_F(ChannelTest, AsyncDelayIsStoredAndReset) {
    ItemValue value;
    ASSERT_EQ(bus_->Read("Sim/AsyncDelayMs", &value), ItemStatus::kOk);
    EXPECT_EQ(value.number, 0u);
    ASSERT_EQ(bus_->Write("Sim/AsyncDelayMs", ItemValue::UInt32(250)), ItemStatus::kOk);
    EXPECT_EQ(bus_->AsyncDelayMs(), 250u);
    EXPECT_EQ(bus_->Write("Sim/AsyncDelayMs", ItemValue::Text("1")), ItemStatus::kBadValue);
    bus_->Reset();
    EXPECT_EQ(bus_->AsyncDelayMs(), 0u);
}

TEST_F(ChannelTest, ShutdownRequestGoesToTheHandler) {
    std::vector<std::string> reasons;
    bus_->SetShutdownHandler([&](const std::string& reason) { reasons.push_back(reason); });
    ASSERT_EQ(bus_->Write("Sim/ShutdownRequest", ItemValue::Text("Wartung")), ItemStatus::kOk);
    EXPECT_EQ(reasons, std::vector<std::string>{"Wartung"});
    ItemValue value;
    ASSERT_EQ(bus_->Read("Sim/ShutdownRequest", &value), ItemStatus::kOk);
    EXPECT_EQ(value.text, "Wartung");
    bus_->Reset();
    ASSERT_EQ(bus_->Read("Sim/ShutdownRequest", &value), ItemStatus::kOk);
    EXPECT_EQ(value.text, "");
}

TEST(BusItems, SlaveWithoutMarkerAndOwnChannelName) {
    Topology topology;
    std::string error;
    ASSERT_TRUE(ParseTopology("slave 8 Line/Node8/\nmarker no\nchannel Slot1\n", &topology, &error))
        << error;
    Bus bus(topology, [] { return uint64_t{0}; });
    EXPECT_EQ(bus.FindItem("Line/Node8/DS_Vendorname"), nullptr) << "no marker";
    EXPECT_NE(bus.FindItem("Line/Node8/Slot1"), nullptr) << "channel under its own name";
    EXPECT_EQ(bus.FindItem("Line/Node8/SlotI0S47D8209"), nullptr);
    EXPECT_FALSE(ParseTopology("slave 8\nchannel DS_Vendorname\n", &topology, &error));
    EXPECT_EQ(error, "line 2: channel name empty or taken");
}

TEST_F(ChannelTest, ProfileIdentGate) {
    const char* channel = "DP/Slave3/SlotI0S47D8209";
    EXPECT_EQ(Number("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber"), 0u)
        << "initial profile ident";
    EXPECT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kProfileNotSelected)
        << "write before the profile";
    ItemValue value;
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kProfileNotSelected)
        << "read before the profile";
    EXPECT_EQ(bus_->Write("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber",
                          ItemValue::UInt16(0x3A01)),
              ItemStatus::kOk);
    EXPECT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kProfileNotSelected)
        << "another profile";
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    EXPECT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kOk) << "write after 0x3A00";
    EXPECT_EQ(WriteBytes("Other/SlotI0S47D8209", kReadNodeAddress), ItemStatus::kProfileNotSelected)
        << "the gate is per slave";
    EXPECT_EQ(Number("Sim/Slave3/Requests"), 1u) << "refused writes are not requests";
}

TEST_F(ChannelTest, ResponseAfterTheLatencyAndOnlyOnce) {
    const char* channel = "DP/Slave3/SlotI0S47D8209";
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    ItemValue value;
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kNoRequest) << "read before any request";
    ASSERT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kOk);
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kNotReady) << "read at once";
    now_ += 19;
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kNotReady) << "read after 19 of 20 ms";
    now_ += 1;
    ASSERT_EQ(ReadValue(channel, &value), ItemStatus::kOk) << "read after 20 ms";
    EXPECT_EQ(value.bytes, kNodeAddressAnswer);
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kNoRequest)
        << "second read of the same response";

    ASSERT_EQ(bus_->Write("Sim/Slave3/LatencyMs", ItemValue::UInt32(0)), ItemStatus::kOk);
    ASSERT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kOk);
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kOk) << "no latency";

    EXPECT_EQ(Number("Sim/Slave3/Requests"), 2u);
    EXPECT_EQ(Number("Sim/Slave3/RequestBytes"), 20u);
    EXPECT_EQ(Number("Sim/Slave3/Responses"), 2u);
    EXPECT_EQ(Number("Sim/Slave3/ResponseBytes"), 16u);
    EXPECT_EQ(Number("Sim/Slave4/Requests"), 0u) << "counters are per slave";
}

// Each slave works its own channel: a request to one does not wait for the other's,
// and the counters tell requests in process at once on a slave and on the line.
TEST_F(ChannelTest, SlavesProcessTheirChannelsIndependently) {
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    SelectProfile("Other/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    ASSERT_EQ(WriteBytes("DP/Slave3/SlotI0S47D8209", kReadNodeAddress), ItemStatus::kOk);
    ItemValue value;
    ASSERT_EQ(WriteBytes("Other/SlotI0S47D8209", kReadNodeAddress), ItemStatus::kOk);
    ASSERT_EQ(ReadValue("Other/SlotI0S47D8209", &value), ItemStatus::kOk)
        << "slave 4 answers while slave 3 still works";
    EXPECT_EQ(ReadValue("DP/Slave3/SlotI0S47D8209", &value), ItemStatus::kNotReady);
    EXPECT_EQ(Number("Sim/MaxInProcess"), 2u);
    EXPECT_EQ(Number("Sim/Slave3/MaxInProcess"), 1u);
    EXPECT_EQ(Number("Sim/Slave4/MaxInProcess"), 1u);

    ASSERT_EQ(WriteBytes("DP/Slave3/SlotI0S47D8209", kReadNodeAddress), ItemStatus::kOk);
    EXPECT_EQ(Number("Sim/Slave3/MaxInProcess"), 2u) << "written before the answer was fetched";

    bus_->Reset();
    EXPECT_EQ(Number("Sim/MaxInProcess"), 0u);
    EXPECT_EQ(Number("Sim/Slave3/MaxInProcess"), 0u);
}

TEST_F(ChannelTest, NewRequestReplacesAnUnfetchedResponse) {
    const char* channel = "DP/Slave3/SlotI0S47D8209";
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    ASSERT_EQ(WriteBytes(channel, {1, 1, 1, 1, 0x10, 1, 0, 10, 0, 0}), ItemStatus::kOk);
    ASSERT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kOk);
    now_ += 20;
    ItemValue value;
    ASSERT_EQ(ReadValue(channel, &value), ItemStatus::kOk);
    EXPECT_EQ(value.bytes, kNodeAddressAnswer);
}

TEST_F(ChannelTest, OfflineSlaveNeverAnswers) {
    const char* channel = "DP/Slave3/SlotI0S47D8209";
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    ASSERT_EQ(bus_->Write("Sim/Slave3/Offline", ItemValue::Bool(true)), ItemStatus::kOk);
    EXPECT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kOk) << "the write is taken";
    now_ += 3600 * 1000;
    ItemValue value;
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kNotReady) << "an hour later";
    ASSERT_EQ(bus_->Write("Sim/Slave3/Offline", ItemValue::Bool(false)), ItemStatus::kOk);
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kNotReady)
        << "the request sent while offline is lost";

    // Going offline while a request is pending loses it as well.
    ASSERT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kOk);
    ASSERT_EQ(bus_->Write("Sim/Slave3/Offline", ItemValue::Bool(true)), ItemStatus::kOk);
    now_ += 20;
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kNotReady)
        << "went offline with a request pending";
    ASSERT_EQ(bus_->Write("Sim/Slave3/Offline", ItemValue::Bool(false)), ItemStatus::kOk);
    ASSERT_EQ(WriteBytes(channel, kReadNodeAddress), ItemStatus::kOk);
    now_ += 20;
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kOk) << "online again";
}

TEST_F(ChannelTest, RefusedRequestLeavesNothingToFetch) {
    const char* channel = "DP/Slave3/SlotI0S47D8209";
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    Bytes tooMany{1, 1, 1, 40};
    for (int i = 0; i < 40; ++i) tooMany.insert(tooMany.end(), {0x10, 1, 0, 10, 0, 0});
    EXPECT_EQ(WriteBytes(channel, tooMany), ItemStatus::kRequestRefused)
        << "40 parameters, limit 39";
    ItemValue value;
    EXPECT_EQ(ReadValue(channel, &value), ItemStatus::kNoRequest);
}

TEST_F(ChannelTest, FaultsItem) {
    ASSERT_EQ(bus_->Write("Sim/Slave3/Faults", ItemValue::Text("918@0=0x14; 10=2")),
              ItemStatus::kOk);
    ItemValue value;
    ASSERT_EQ(ReadValue("Sim/Slave3/Faults", &value), ItemStatus::kOk);
    EXPECT_EQ(value.text, "10=0x02;918@0=0x14") << "faults read back in canonical form";
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    ASSERT_EQ(WriteBytes("DP/Slave3/SlotI0S47D8209", kReadNodeAddress), ItemStatus::kOk);
    now_ += 20;
    ASSERT_EQ(ReadValue("DP/Slave3/SlotI0S47D8209", &value), ItemStatus::kOk);
    EXPECT_EQ(value.bytes, (Bytes{1, 0x81, 0, 1, 0x44, 1, 0, 0x14}));

    for (const char* bad : {"918", "x=1", "918@256=1", "0=1", "918=65536", "918=-1"})
        EXPECT_EQ(bus_->Write("Sim/Slave3/Faults", ItemValue::Text(bad)), ItemStatus::kBadValue)
            << bad;
    ASSERT_EQ(ReadValue("Sim/Slave3/Faults", &value), ItemStatus::kOk);
    EXPECT_EQ(value.text, "10=0x02;918@0=0x14") << "a bad list changes nothing";
    ASSERT_EQ(bus_->Write("Sim/Slave3/Faults", ItemValue::Text("")), ItemStatus::kOk);
    ASSERT_EQ(ReadValue("Sim/Slave3/Faults", &value), ItemStatus::kOk);
    EXPECT_EQ(value.text, "") << "an empty list clears";
}

TEST_F(ChannelTest, ItemRightsAndTypes) {
    EXPECT_EQ(bus_->Write("DP/Slave3/DS_Vendorname", ItemValue::Text("x")),
              ItemStatus::kNotWritable);
    EXPECT_EQ(bus_->Write("Sim/Slave3/Requests", ItemValue::UInt32(0)), ItemStatus::kNotWritable);
    EXPECT_EQ(bus_->Write("Sim/Slave3/LatencyMs", ItemValue::Bool(true)), ItemStatus::kBadValue);
    EXPECT_EQ(bus_->Write("Sim/Nothing", ItemValue::Bool(true)), ItemStatus::kUnknownItem);
}

TEST_F(ChannelTest, ResetRestoresTheConfiguredState) {
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    ASSERT_EQ(
        WriteBytes("DP/Slave3/SlotI0S47D8209", {1, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 6, 1, 0, 7}),
        ItemStatus::kOk);
    ASSERT_EQ(bus_->Write("Sim/Slave3/LatencyMs", ItemValue::UInt32(500)), ItemStatus::kOk);
    ASSERT_EQ(bus_->Write("Sim/Slave3/Offline", ItemValue::Bool(true)), ItemStatus::kOk);
    ASSERT_EQ(bus_->Write("Sim/Slave3/Faults", ItemValue::Text("10=1")), ItemStatus::kOk);
    ASSERT_EQ(bus_->Write("Sim/Slave3/WithholdCompletions", ItemValue::Bool(true)),
              ItemStatus::kOk);
    EXPECT_TRUE(bus_->WithholdsCompletions("DP/Slave3/SlotI0S47D8209"));
    EXPECT_FALSE(bus_->WithholdsCompletions("Other/SlotI0S47D8209")) << "only its own slave";
    EXPECT_FALSE(bus_->WithholdsCompletions("Sim/Slave3/LatencyMs")) << "Sim/ items complete";

    ASSERT_EQ(bus_->Write("Sim/Reset", ItemValue::Bool(false)), ItemStatus::kOk);
    EXPECT_EQ(Number("Sim/Slave3/LatencyMs"), 500u) << "writing FALSE to Sim/Reset does nothing";
    ASSERT_EQ(bus_->Write("Sim/Reset", ItemValue::Bool(true)), ItemStatus::kOk);

    EXPECT_EQ(Number("Sim/Slave3/LatencyMs"), 20u);
    ItemValue value;
    ASSERT_EQ(ReadValue("Sim/Slave3/Offline", &value), ItemStatus::kOk);
    EXPECT_FALSE(value.flag);
    ASSERT_EQ(ReadValue("Sim/Slave3/Faults", &value), ItemStatus::kOk);
    EXPECT_EQ(value.text, "");
    EXPECT_FALSE(bus_->WithholdsCompletions("DP/Slave3/SlotI0S47D8209"));
    EXPECT_EQ(Number("Sim/Slave3/Requests"), 0u);
    EXPECT_EQ(Number("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber"), 0u);
    SelectProfile("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    ASSERT_EQ(WriteBytes("DP/Slave3/SlotI0S47D8209", {1, 1, 1, 1, 0x10, 1, 0, 10, 0, 0}),
              ItemStatus::kOk);
    now_ += 20;
    ASSERT_EQ(ReadValue("DP/Slave3/SlotI0S47D8209", &value), ItemStatus::kOk);
    EXPECT_EQ(value.bytes, (Bytes{1, 1, 1, 1, 6, 1, 0, 100}))
        << "parameter value back to configured";
}

TEST(SlaveConfiguredOffline, StartsOffTheBusAndResetKeepsItThere) {
    Topology topology;
    std::string error;
    ASSERT_TRUE(ParseTopology("slave 6\noffline yes\naxis 0\nparam 918 u16 6", &topology, &error))
        << error;
    uint64_t now = 1000;
    Bus bus(topology, [&now] { return now; });
    ItemValue value;
    ASSERT_EQ(bus.Read("Sim/Slave6/Offline", &value), ItemStatus::kOk);
    EXPECT_TRUE(value.flag) << "configured offline";
    ASSERT_EQ(bus.Write("DP/Slave6/DS_MSAC2_Parameter/MA_ProfileIdentNumber",
                        ItemValue::UInt16(kDriveProfileIdent)),
              ItemStatus::kOk);
    ASSERT_EQ(bus.Write("DP/Slave6/SlotI0S47D8209", ItemValue::Bytes(kReadNodeAddress)),
              ItemStatus::kOk);
    now += 1000;
    EXPECT_NE(bus.Read("DP/Slave6/SlotI0S47D8209", &value), ItemStatus::kOk) << "never answers";

    ASSERT_EQ(bus.Write("Sim/Slave6/Offline", ItemValue::Bool(false)), ItemStatus::kOk);
    ASSERT_EQ(bus.Write("Sim/Reset", ItemValue::Bool(true)), ItemStatus::kOk);
    ASSERT_EQ(bus.Read("Sim/Slave6/Offline", &value), ItemStatus::kOk);
    EXPECT_TRUE(value.flag) << "Sim/Reset restores the configured offline state";
}

}  // namespace
}  // namespace bussim
