// The device pass of a subscription of Axolent.Orvane reads the parameters of one drive in
// multi-parameter requests. The simulator runs a bus of the test's own: one drive with
// 100 parameters, so this program runs with a wineserver of its own (no simulator of an
// earlier test may answer instead).
#include "BusTopology.h"
#include "SubscriptionFixture.h"

using namespace subscription_fixture;

namespace {

constexpr int kParameters = 100;

// Slave 3: 100 16-bit parameters 1000 to 1099 on axis 1, parameter P holding P - 1000;
// 39 parameters per request.
std::string Topology() {
    std::string text =
        "slave 3 DP/Slave3/\nvendor \"Axolent\"\nlatency 2\naxis 0\n"
        "param 964 u16 [42 0x0101 0x0203 2025 0x0703 1]\nparam 918 u16 3\n"
        "param 974 u16 [240 39 10]\nparam 978 u8 [1 0 0 0]\naxis 1\n";
    for (int i = 0; i < kParameters; ++i)
        text += "param " + std::to_string(1000 + i) + " u16 " + std::to_string(i) + "\n";
    return text;
}

class BulkPass : public Subscriptions {
protected:
    void SetUp() override {
        ASSERT_TRUE(test_support::UseTopology(Topology(), L"orvane_bulk_pass.topology"));
        Subscriptions::SetUp();
    }
    void TearDown() override {
        Subscriptions::TearDown();
        test_support::ForgetTopology();
    }
};

TEST_F(BulkPass, HundredParametersOfOneDriveInAtMostThreeRequests) {
    std::vector<std::wstring> ids;
    for (int i = 0; i < kParameters; ++i)
        ids.push_back(kSlave3 + L"pari" + std::to_wstring(1000 + i) + L"d18");
    // A long rate: the group thread's first update came while the group was still
    // inactive (50 ms after AddGroup, long before the 100 items are bound), so the
    // activation's pass is the only one below.
    OpenGroup(ids, 60000);
    SimItem requests(sim_.get(), L"Sim/Slave3/Requests");
    const LONG before = requests.Number();
    ASSERT_LE(0, before);
    ASSERT_HR(S_OK, SetActive(TRUE));
    const LONG sent = requests.Number() - before;
    EXPECT_LE(sent, 3) << "100 parameters, 39 per request";
    EXPECT_GE(sent, 1);
    for (int i = 0; i < kParameters; ++i) {
        const OPCHANDLE client = static_cast<OPCHANDLE>(i + 1);
        EXPECT_EQ(1u,
                  CountChanges(client, [&](const Update& u) { return Good(u) && u.value == i; }))
            << "parameter " << 1000 + i << " in the activation's data change";
    }
}

}  // namespace
