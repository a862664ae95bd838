// The EXE server's lifetime rules: lock count, shutdown event, activity flag and the monitor.
// The monitor's waits are scripted, so the rules are checked step by step without real seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "HrCheck.h"
#include "com/Module.h"

namespace {

TEST(LockCount, DropToZeroSignalsTheAutoResetEventAndSetsActivity) {
    com::LockCount count;
    ASSERT_HR(S_OK, count.CreateShutdownEvent());
    HANDLE event = count.shutdown_event();
    EXPECT_EQ(1, count.Lock());
    EXPECT_EQ(2, count.Lock());
    EXPECT_EQ(1, count.Unlock());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event, 0))
        << "no signal while objects live";
    EXPECT_FALSE(count.activity());
    EXPECT_EQ(0, count.Unlock());
    EXPECT_TRUE(count.activity()) << "a drop to zero sets the activity flag";
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event, 0)) << "a drop to zero signals the event";
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event, 0))
        << "the event is auto-reset";
    count.CloseShutdownEvent();
    EXPECT_EQ(nullptr, count.shutdown_event());
    count.Lock();
    EXPECT_EQ(0, count.Unlock()) << "Unlock after the event is closed is harmless";
}

// One scripted answer per wait; each may act (Lock/Unlock) before answering.
struct Step {
    DWORD expected_timeout;
    DWORD result;
    std::function<void(com::LockCount&)> action;
};

struct MonitorRun {
    std::vector<DWORD> timeouts;         // timeouts the monitor asked for
    std::vector<bool> activity_at_wait;  // activity flag when each wait began
    int idle_calls = 0;
    bool event_closed = false;
};

MonitorRun RunMonitor(com::LockCount& count, std::deque<Step> script) {
    MonitorRun run;
    com::ShutdownMonitor monitor(
        count, [&] { ++run.idle_calls; }, 1000,
        [&](HANDLE, DWORD timeout) -> DWORD {
            run.timeouts.push_back(timeout);
            run.activity_at_wait.push_back(count.activity());
            if (script.empty()) return WAIT_FAILED;  // ends the monitor
            Step step = script.front();
            script.pop_front();
            EXPECT_EQ(step.expected_timeout, timeout) << "wait #" << run.timeouts.size();
            if (step.action) step.action(count);
            return step.result;
        });
    monitor.Run();
    run.event_closed = count.shutdown_event() == nullptr;
    return run;
}

class ShutdownMonitorRules : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HR(S_OK, count_.CreateShutdownEvent()); }
    com::LockCount count_;
};

constexpr DWORD kStartup = com::kStartupGraceMs;

TEST_F(ShutdownMonitorRules, EndsAfterOneQuietSecondWithNothingAlive) {
    count_.Lock();
    count_.Unlock();
    MonitorRun run =
        RunMonitor(count_, {{kStartup, WAIT_OBJECT_0, nullptr}, {1000, WAIT_TIMEOUT, nullptr}});
    EXPECT_EQ((std::vector<DWORD>{kStartup, 1000}), run.timeouts)
        << "first wait the start-up time, then 1000 ms";
    EXPECT_EQ(1, run.idle_calls) << "WM_QUIT posted once";
    EXPECT_TRUE(run.event_closed) << "the monitor closes the event before ending";
}

TEST_F(ShutdownMonitorRules, EventWithinTheSecondRestartsTheQuietWait) {
    auto drop_to_zero = [](com::LockCount& c) {
        c.Lock();
        c.Unlock();
    };
    MonitorRun run = RunMonitor(count_, {{kStartup, WAIT_OBJECT_0, nullptr},
                                         {1000, WAIT_OBJECT_0, drop_to_zero},
                                         {1000, WAIT_OBJECT_0, drop_to_zero},
                                         {1000, WAIT_TIMEOUT, nullptr}});
    EXPECT_EQ((std::vector<DWORD>{kStartup, 1000, 1000, 1000}), run.timeouts);
    ASSERT_EQ(4u, run.activity_at_wait.size());
    for (size_t i = 1; i < 4; ++i)
        EXPECT_FALSE(run.activity_at_wait[i]) << "activity flag cleared before timed wait #" << i;
    EXPECT_EQ(1, run.idle_calls);
}

TEST_F(ShutdownMonitorRules, LiveObjectAfterTheSecondSendsItBackToWaiting) {
    // An object is created during the quiet second and still lives when it ends.
    MonitorRun run =
        RunMonitor(count_, {{kStartup, WAIT_OBJECT_0, nullptr},
                            {1000, WAIT_TIMEOUT, [](com::LockCount& c) { c.Lock(); }}});
    EXPECT_EQ((std::vector<DWORD>{kStartup, 1000, INFINITE}), run.timeouts)
        << "back to the wait without time-out";
    EXPECT_EQ(0, run.idle_calls) << "no WM_QUIT while an object lives";
    EXPECT_FALSE(run.event_closed);
}

TEST_F(ShutdownMonitorRules, ActivityDuringTheSecondSendsItBackToWaiting) {
    // The count went up and down again, but the event's signal was not seen in time.
    MonitorRun run = RunMonitor(
        count_, {{kStartup, WAIT_OBJECT_0, nullptr}, {1000, WAIT_TIMEOUT, [](com::LockCount& c) {
                                                          c.Lock();
                                                          c.Unlock();
                                                      }}});
    EXPECT_EQ((std::vector<DWORD>{kStartup, 1000, INFINITE}), run.timeouts);
    EXPECT_EQ(0, run.idle_calls) << "no WM_QUIT when the activity flag is set";
}

// A process started for an activation that another process served never sees an object.
TEST_F(ShutdownMonitorRules, EndsAfterTheStartUpTimeWhenNoObjectCame) {
    MonitorRun run = RunMonitor(count_, {{kStartup, WAIT_TIMEOUT, nullptr}});
    EXPECT_EQ((std::vector<DWORD>{kStartup}), run.timeouts) << "one wait, the start-up time";
    EXPECT_EQ(1, run.idle_calls) << "WM_QUIT posted without any object";
    EXPECT_TRUE(run.event_closed);
}

TEST_F(ShutdownMonitorRules, ObjectAliveAfterTheStartUpTimeKeepsTheProcess) {
    MonitorRun run =
        RunMonitor(count_, {{kStartup, WAIT_TIMEOUT, [](com::LockCount& c) { c.Lock(); }},
                            {INFINITE, WAIT_OBJECT_0, [](com::LockCount& c) { c.Unlock(); }},
                            {1000, WAIT_TIMEOUT, nullptr}});
    EXPECT_EQ((std::vector<DWORD>{kStartup, INFINITE, 1000}), run.timeouts)
        << "the start-up time, then the wait for the last object, then the idle second";
    EXPECT_EQ(1, run.idle_calls);
}

TEST(ShutdownMonitor, RealThreadPostsQuitAfterTheLastObject) {
    com::LockCount count;
    ASSERT_HR(S_OK, count.CreateShutdownEvent());
    std::promise<void> idle;
    auto idle_future = idle.get_future();
    {
        com::ShutdownMonitor monitor(
            count, [&] { idle.set_value(); }, 20);
        ASSERT_HR(S_OK, monitor.Start());
        count.Lock();
        count.Unlock();
        idle_future.wait();  // bounded by the test's time-out
    }
    EXPECT_EQ(nullptr, count.shutdown_event());
}

}  // namespace

namespace {

// The module's own monitor, wired as the EXE server uses it: WM_QUIT reaches the main thread's
// message loop once the last object is gone.
TEST(ModuleShutdown, LastObjectEndsTheMessageLoop) {
    com::Module& module = com::Module::Get();
    ASSERT_EQ(0, module.GetLockCount()) << "no object may live when this test starts";
    ASSERT_HR(S_OK, module.StartShutdownMonitor(::GetCurrentThreadId(), 10));
    EXPECT_HR(E_UNEXPECTED, module.StartShutdownMonitor(::GetCurrentThreadId(), 10))
        << "a second monitor";
    module.Lock();
    module.Unlock();
    MSG msg;
    int result;
    while ((result = ::GetMessageW(&msg, nullptr, 0, 0)) > 0) ::DispatchMessageW(&msg);
    EXPECT_EQ(0, result) << "GetMessage ended with WM_QUIT";

    // After the revocation: an object created through a class object handed out just before it
    // is still served; the wait ends only after its release.
    module.Lock();
    std::atomic<bool> released{false};
    std::thread client([&] {
        ::Sleep(50);
        released = true;
        module.Unlock();
    });
    module.WaitUntilIdle(10);
    EXPECT_TRUE(released) << "WaitUntilIdle returned while an object lived";
    EXPECT_EQ(0, module.GetLockCount());
    client.join();
}

}  // namespace
