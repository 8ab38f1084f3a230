#include "foundation/named_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <thread>

#include "foundation/singleton.h"

TEST(NamedLock, NestedGuardsOnOneThreadAndBalancedCount) {
    CNamedLock lock;
    EXPECT_EQ(lock.GetName(), L"Unspecific");
    EXPECT_TRUE(lock.IsEnabled());
    {
        CNamedLockGuard outer(&lock);
        {
            CNamedLockGuard inner(&lock);
            EXPECT_EQ(lock.GetEntryCount(), 2);
        }
        EXPECT_EQ(lock.GetEntryCount(), 1);
    }
    EXPECT_EQ(lock.GetEntryCount(), 0);
    lock.Lock();
    lock.Lock();
    lock.Unlock();
    lock.Unlock();
    EXPECT_EQ(lock.GetEntryCount(), 0);
}

TEST(NamedLock, NullLockGivenToAGuardIsIgnored) {
    CNamedLockGuard guard(nullptr);
}

TEST(NamedLock, ExcludesOtherThreadsWhileHeld) {
    CNamedLock lock;
    int shared = 0;
    constexpr int kThreads = 4, kRounds = 20000;
    std::latch go(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            go.arrive_and_wait();
            for (int i = 0; i < kRounds; ++i) {
                CNamedLockGuard g(&lock);
                ++shared;  // lost increments would show a lock that lets two in
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(shared, kThreads * kRounds);
    EXPECT_EQ(lock.GetEntryCount(), 0);
}

namespace {

std::atomic<int> g_constructed{0};
std::atomic<int> g_created{0};
std::atomic<int> g_destroyed{0};

class CountingManager : public CSingleton<CountingManager> {
    friend class CSingleton<CountingManager>;
    CountingManager() { ++g_constructed; }
    ~CountingManager() override { ++g_destroyed; }
    void OnCreate() override {
        // The hook runs after the constructor, exactly once per instance.
        EXPECT_EQ(g_created.load() + 1, g_constructed.load());
        ++g_created;
    }
};

std::atomic<bool> g_throwOnConstruct{false};

class FragileManager : public CSingleton<FragileManager> {
    friend class CSingleton<FragileManager>;
    FragileManager() {
        if (g_throwOnConstruct) throw std::runtime_error("no");
    }
};

}  // namespace

TEST(Singleton, TwoThreadsRacingGetInstanceShareOneObject) {
    g_constructed = g_created = g_destroyed = 0;
    constexpr int kRounds = 300;
    for (int round = 0; round < kRounds; ++round) {
        std::latch go(2);
        CountingManager* seen[2] = {nullptr, nullptr};
        auto racer = [&](int i) {
            go.arrive_and_wait();
            seen[i] = CountingManager::GetInstance();
        };
        std::thread a(racer, 0), b(racer, 1);
        a.join();
        b.join();
        ASSERT_NE(seen[0], nullptr);
        ASSERT_EQ(seen[0], seen[1]) << "round " << round;
        ASSERT_EQ(g_constructed.load(), round + 1);
        ASSERT_EQ(g_created.load(), round + 1);
        CountingManager::ReleaseInstance();
        ASSERT_EQ(g_destroyed.load(), round + 1);
    }
}

TEST(Singleton, ReleaseWithoutInstanceThenFreshInstance) {
    g_constructed = g_created = g_destroyed = 0;
    CountingManager::ReleaseInstance();
    EXPECT_EQ(g_destroyed.load(), 0);
    CountingManager* first = CountingManager::GetInstance();
    EXPECT_EQ(CountingManager::GetInstance(), first);
    CountingManager::ReleaseInstance();
    CountingManager::GetInstance();
    EXPECT_EQ(g_constructed.load(), 2);
    EXPECT_EQ(g_created.load(), 2);
    CountingManager::ReleaseInstance();
}

TEST(Singleton, ThrowingConstructorLeavesNoInstanceAndLockFree) {
    g_throwOnConstruct = true;
    EXPECT_THROW(FragileManager::GetInstance(), std::runtime_error);
    g_throwOnConstruct = false;
    // The class lock was released and the pointer stayed null: another thread
    // can build the instance now.
    FragileManager* made = nullptr;
    std::thread([&] { made = FragileManager::GetInstance(); }).join();
    EXPECT_NE(made, nullptr);
    FragileManager::ReleaseInstance();
}
