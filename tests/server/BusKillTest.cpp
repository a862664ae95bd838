// The bus server killed under a subscription of Axolent.Orvane: the drive's items turn bad
// and then good again with no action of the client. Run between two restarts of the
// wineserver: Wine keeps the dead process's class registration.
#include "Processes.h"
#include "SubscriptionFixture.h"

using namespace subscription_fixture;

namespace {

TEST_F(Subscriptions, BusServerKilledWhileSubscribedTurnsBadThenGood) {
    OpenGroup({kSlave3 + L"pari20d2"}, 200);
    ASSERT_HR(S_OK, SetActive(TRUE));
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, Good) >= 2; }));

    sim_.reset();  // the test's own proxy would keep nothing alive but a dead reference
    ASSERT_TRUE(test_support::KillBusSimulator(kWaitMs));
    const auto bad = [](const Update& u) { return !Good(u); };
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, bad) >= 1; }))
        << "the speed turns bad while the bus server is gone";
    const size_t good = CountChanges(1, Good);
    ASSERT_TRUE(sink_->WaitUntil([&] { return CountChanges(1, Good) >= good + 2; }))
        << "and good again once a new bus server answers";
}

}  // namespace
