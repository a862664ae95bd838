// The 32-bit handle registry behind every handle a client sees.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "com/HandleRegistry.h"

namespace {

TEST(HandleRegistry, AddFindRemove) {
    com::HandleRegistry<int> registry;
    const DWORD a = registry.Add(10);
    const DWORD b = registry.Add(20);
    EXPECT_NE(0u, a);
    EXPECT_NE(a, b) << "two live objects, two handles";
    int value = 0;
    EXPECT_TRUE(registry.Find(b, &value));
    EXPECT_EQ(20, value);
    value = -1;
    EXPECT_FALSE(registry.Find(0, &value)) << "0 is never a handle";
    EXPECT_FALSE(registry.Find(b + 1000, &value)) << "unknown handle";
    EXPECT_EQ(-1, value) << "Find leaves out unchanged on failure";
    EXPECT_TRUE(registry.Remove(a, &value));
    EXPECT_EQ(10, value);
    EXPECT_FALSE(registry.Remove(a)) << "removing twice";
    EXPECT_FALSE(registry.Contains(a));
    EXPECT_EQ(1u, registry.Size());
}

TEST(HandleRegistry, RemovedHandleIsNotReusedSoon) {
    com::HandleRegistry<int> registry;
    const DWORD a = registry.Add(1);
    registry.Remove(a);
    const DWORD b = registry.Add(2);
    EXPECT_NE(a, b) << "the counter runs on instead of reusing the freed handle";
}

TEST(HandleRegistry, CounterSkipsZeroAndHandlesInUseWhenItWraps) {
    com::HandleRegistry<int> registry(0xFFFFFFFEu);
    EXPECT_EQ(0xFFFFFFFEu, registry.Add(1));
    EXPECT_EQ(0xFFFFFFFFu, registry.Add(2));
    EXPECT_EQ(1u, registry.Add(3)) << "0 skipped when the counter wraps";
    EXPECT_EQ(2u, registry.Add(4));
    // Next lap: 0xFFFFFFFE, 0xFFFFFFFF, 1 and 2 still live and must be skipped.
    com::HandleRegistry<int> lap(0xFFFFFFFEu);
    lap.Add(1);                      // 0xFFFFFFFE, stays
    const DWORD freed = lap.Add(2);  // 0xFFFFFFFF, removed
    lap.Remove(freed);
    EXPECT_EQ(1u, lap.Add(3));
    lap.SetNextHandle(0xFFFFFFFEu);
    EXPECT_EQ(0xFFFFFFFFu, lap.Add(4)) << "0xFFFFFFFE in use: skipped";
    EXPECT_EQ(2u, lap.Add(5)) << "0 and 1 (in use) skipped";
}

TEST(HandleRegistry, ConcurrentAddsGiveUniqueHandles) {
    com::HandleRegistry<int> registry;
    constexpr int kThreads = 4, kPerThread = 500;
    std::vector<std::vector<DWORD>> handles(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) handles[t].push_back(registry.Add(i));
        });
    for (auto& thread : threads) thread.join();
    std::set<DWORD> all;
    for (auto& list : handles) all.insert(list.begin(), list.end());
    EXPECT_EQ(static_cast<size_t>(kThreads * kPerThread), all.size())
        << "handles from concurrent Add calls";
    EXPECT_EQ(0u, all.count(0));
    EXPECT_EQ(all.size(), registry.Snapshot().size());
}

}  // namespace
